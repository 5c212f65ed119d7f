#include "statusmonitorwidget.h"
#include "ui_statusmonitorwidget.h"

#include "comadapter.h"
#include "scriptprocess.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QResizeEvent>
#include <QTimer>

namespace {
const int kScriptWaitMs = 30000;
} // namespace

statusMonitorWidget::statusMonitorWidget(QWidget* parent)
    : baseWidget(parent)
    , ui(new Ui::statusMonitorWidget)
{
    ui->setupUi(this);
    ui->m_ledDC_OK->setText(tr("DC_OK"));
    ui->m_ledBatMode->setText(tr("Bat.Mode"));
    ui->m_ledBatReady->setText(tr("Bat.Ready"));
    ui->m_ledBatStart->setText(tr("Bat.Start"));
    ui->m_ledDevSts->setText(tr("Dev.PSts"));
    ui->m_ledRemote->setText(tr("Remote"));
    ui->m_ledSW->setText(tr("SW"));

    m_watch = new powerWatch(this);
    connect(m_watch, &powerWatch::signalBlock, this, &statusMonitorWidget::slotOnBlock);
    connect(m_watch, &powerWatch::signalDC_OK, this, &statusMonitorWidget::signalDC_OK);
    connect(m_watch, &powerWatch::signalNotify, this, &statusMonitorWidget::signalNotify);

    slotOnLoadFromRegisterTable();

    m_timer = new QTimer(this);
    m_timer->setInterval(m_refreshInterval);
    connect(m_timer, SIGNAL(timeout()), this, SLOT(slotOnUpdate()));
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, m_timer, &QTimer::stop);
}

statusMonitorWidget::~statusMonitorWidget()
{
    m_timer->stop();
    m_watch->stop();
    delete ui;
}

void statusMonitorWidget::slotOnSetEnabled(bool enabled)
{
    // Only the display follows the tab. The watch, its log lines, the tray
    // signal and the script go on whichever tab is current and whether the
    // window is shown or not: a power loss while the operator looks at
    // another tab, or while the window sits in the tray, must be acted on
    // like any other.
    m_enabled = enabled;
    if (enabled) {
        m_timer->start(m_refreshInterval);
        // A running watch takes a changed poll period from here on.
        m_watch->setPollCycle(m_pollCycle);
        if (m_haveView && g_comAdapter.isConnected())
            showView(m_lastView);
    } else {
        m_timer->stop();
    }
}

void statusMonitorWidget::slotOnPolicyChanged(int policy)
{
    m_policy = static_cast<quint32>(policy);
    m_watch->setPolicy(m_policy);
}

void statusMonitorWidget::slotOnPollCycleChanged(uint value)
{
    m_pollCycle = value;
}

void statusMonitorWidget::slotOnConnect(comSettings& settings)
{
    m_pollCycle = settings.pollDelay;
    m_watch->start(settings);
    slotOnSetEnabled(true);
}

void statusMonitorWidget::slotOnDisconnect()
{
    slotOnSetEnabled(false);
}

void statusMonitorWidget::resizeEvent(QResizeEvent* event)
{
    ui->m_batteryWidget->setMinimumWidth(event->size().width() / 3);
}

void statusMonitorWidget::slotOnUpdate()
{
    if (g_comAdapter.isConnected())
        return;
    // Values of a closed or lost link are not shown as if they were live.
    m_haveView = false;
    showView(statusDecoder::blank());
}

void statusMonitorWidget::slotOnProcessBatScript()
{
    slotOnLoadFromRegisterTable();
    if (!QFileInfo::exists(m_batPath))
        return;
    platform::scriptProcess process;
    QString reason;
    if (process.launch(platform::scriptProcess::nativePath(m_batPath), &reason)
        && !process.waitForFinished(kScriptWaitMs))
        process.killAll();
}

void statusMonitorWidget::slotOnLoadFromRegisterTable()
{
    m_batPath = settingsStore::batPath();
    m_policy = settingsStore::batExecutePolicy();
    m_watch->reloadSettings();
}

void statusMonitorWidget::slotOnPowerEventSettingsChanged()
{
    m_watch->reloadSettings();
    m_watch->setPolicy(m_policy);
}

void statusMonitorWidget::slotOnCancelPendingScript()
{
    m_watch->cancelPendingScript();
}

void statusMonitorWidget::slotOnTestScript()
{
    m_watch->testScript();
}

void statusMonitorWidget::slotOnBlock(const statusDecoder::block&, const statusDecoder::update& u)
{
    // A text the block leaves unchanged keeps the one shown before.
    const statusDecoder::view before = m_haveView ? m_lastView : statusDecoder::blank();
    m_lastView = u.shown;
    if (m_lastView.chargingStatus.isEmpty())
        m_lastView.chargingStatus = before.chargingStatus;
    if (m_lastView.powerSupply.isEmpty())
        m_lastView.powerSupply = before.powerSupply;
    m_haveView = true;
    // A page whose tab is not current keeps its texts; it shows the last
    // block when its tab comes back.
    if (m_enabled)
        showView(u.shown);
}

namespace {

// The LEDs and the gauge repaint whenever they are set, changed or not; a
// block arrives up to a hundred times a second and nearly always repeats the
// last one, so they are only set when what they show changes.
void showLed(ledWidget* led, bool on)
{
    if (led->isOn() != on)
        led->turnOn(on);
}

} // namespace

void statusMonitorWidget::showView(const statusDecoder::view& v)
{
    ui->m_lblVoltageInputValue->setText(v.voltageInput);
    ui->m_lblVoltageOutputValue->setText(v.voltageOutput);
    if (ui->m_batteryWidget->value() != v.batteryLevel)
        ui->m_batteryWidget->slotOnSetValue(v.batteryLevel);
    if (!v.chargingStatus.isEmpty())
        ui->m_lblBatteryChargingStatusValue->setText(v.chargingStatus);
    if (!v.powerSupply.isEmpty())
        ui->m_lblPowerSupplyValue->setText(v.powerSupply);
    showLed(ui->m_ledDC_OK, v.dcOk);
    showLed(ui->m_ledBatMode, v.batMode);
    showLed(ui->m_ledBatReady, v.batReady);
    showLed(ui->m_ledSW, v.sw);
    showLed(ui->m_ledRemote, v.remote);
    showLed(ui->m_ledBatStart, v.batStart);
    showLed(ui->m_ledDevSts, v.devSts);
    ui->m_lblPolicyModeValue->setText(v.policyMode);
}
