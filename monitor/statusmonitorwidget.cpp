#include "statusmonitorwidget.h"
#include "ui_statusmonitorwidget.h"

#include "batthread.h"
#include "comadapter.h"
#include "consoleprint.h"
#include "monitorthread.h"
#include "scriptprocess.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QResizeEvent>
#include <QTimer>

namespace {
const int kScriptWaitMs = 30000;
// How often a pending delay looks at the clock.
const int kDelayTickMs = 200;
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

    m_monitorThread = new monitorThread(nullptr);
    connect(m_monitorThread, SIGNAL(signalFinished()), this, SLOT(slotOnReadResultReady()));

    m_batThread = new batThread(nullptr);
    connect(m_batThread, SIGNAL(signalScriptEnded(const QString&)), this, SLOT(slotOnScriptEnded(const QString&)));

    m_clock.start();
    m_delayTimer = new QTimer(nullptr);
    m_delayTimer->setInterval(kDelayTickMs);
    connect(m_delayTimer, SIGNAL(timeout()), this, SLOT(slotOnDelayTick()));

    slotOnLoadFromRegisterTable();

    m_timer = new QTimer(nullptr);
    m_timer->setInterval(m_refreshInterval);
    connect(m_timer, SIGNAL(timeout()), this, SLOT(slotOnUpdate()));

    // Both threads call the global adapter and message bus: they must be gone
    // before those are destroyed, whoever owns the page and whenever it dies.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stopThreads(); });
}

statusMonitorWidget::~statusMonitorWidget()
{
    stopThreads();
    delete m_timer;
    delete m_delayTimer;
    delete m_monitorThread;
    delete m_batThread;
    delete ui;
}

void statusMonitorWidget::slotOnSetEnabled(bool enabled)
{
    // Only the display follows the tab. The poll, the edges, their log lines,
    // the tray signal and the script go on whichever tab is current and
    // whether the window is shown or not: a power loss while the operator
    // looks at another tab, or while the window sits in the tray, must be
    // acted on like any other.
    m_enabled = enabled;
    if (enabled) {
        m_timer->start(m_refreshInterval);
        // A running watch takes a changed poll period from here on.
        if (m_monitorThread->isRunning())
            m_monitorThread->startPoll(m_pollCycle);
        if (m_haveView && g_comAdapter.isConnected())
            showView(m_lastView);
    } else {
        m_timer->stop();
    }
}

void statusMonitorWidget::stopThreads()
{
    m_enabled = false;
    m_timer->stop();
    m_delayTimer->stop();
    m_monitorThread->stopPoll();
    m_batThread->shutDown();
}

void statusMonitorWidget::slotOnPolicyChanged(int policy)
{
    m_policy = static_cast<quint32>(policy);
    powerEventPolicy::settings s = m_powerEvents.currentSettings();
    s.policy = m_policy;
    m_powerEvents.setSettings(s);
    if (!m_powerEvents.pending())
        m_delayTimer->stop();
}

void statusMonitorWidget::slotOnPollCycleChanged(uint value)
{
    m_pollCycle = value;
}

void statusMonitorWidget::slotOnConnect(comSettings& settings)
{
    m_pollCycle = settings.pollDelay;
    m_port = settings.comPort;
    m_slave = settings.slaveId;
    // The watch starts with the link and ends only with the page: when the
    // link closes or is lost the loop idles, and picks a reopened link up by
    // itself.
    m_monitorThread->startPoll(m_pollCycle);
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
    slotOnPowerEventSettingsChanged();
}

void statusMonitorWidget::slotOnPowerEventSettingsChanged()
{
    powerEventPolicy::settings s;
    s.policy = m_policy;
    s.delaySec = settingsStore::batDelay();
    s.lowLevel = settingsStore::batLowLevel();
    s.lowRuntime = settingsStore::batLowRuntime();
    s.onRestore = settingsStore::batOnRestore();
    m_powerEvents.setSettings(s);
    if (!m_powerEvents.pending())
        m_delayTimer->stop();
}

int statusMonitorWidget::pendingScriptSeconds() const
{
    return m_powerEvents.secondsLeft(now());
}

void statusMonitorWidget::slotOnCancelPendingScript()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.cancelPending())
        act(d);
}

void statusMonitorWidget::slotOnTestScript()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.testRun(m_batThread->isRunning()))
        act(d);
}

void statusMonitorWidget::slotOnDelayTick()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.onTick(now(), m_batThread->isRunning()))
        act(d);
}

void statusMonitorWidget::slotOnScriptEnded(const QString& outcome)
{
    emit signalNotify(tr("Post-process script"), outcome, false, QStringLiteral("script"));
}

void statusMonitorWidget::act(const powerEventPolicy::decision& d)
{
    switch (d.what) {
    case powerEventPolicy::decision::Start: {
        if (d.event == scriptEvent::Test)
            g_consolePrint.showMsg(QStringLiteral("Testing the post-process script."));
        scriptContext context;
        context.event = d.event;
        context.registers = d.registers;
        context.port = m_port;
        context.slave = m_slave;
        // The runner may still be busy with a run that the policy saw ending.
        if (!m_batThread->startScript(context))
            g_consolePrint.showMsg(powerEventPolicy::droppedText(d.event));
        break;
    }
    case powerEventPolicy::decision::Log:
        g_consolePrint.showMsg(d.text);
        break;
    case powerEventPolicy::decision::DelayStarted:
        m_delayTimer->start();
        emit signalNotify(tr("Post-process script pending"),
                          tr("It runs in %1 s unless DC returns.").arg(m_powerEvents.secondsLeft(now())), false,
                          QStringLiteral("script"));
        break;
    case powerEventPolicy::decision::DelayEnded:
        m_delayTimer->stop();
        // Takes the place of the pending one, which would otherwise stay.
        if (!d.text.isEmpty())
            emit signalNotify(tr("Post-process script cancelled"), d.text, false, QStringLiteral("script"));
        break;
    }
}

void statusMonitorWidget::notifyEdges(const statusDecoder::block& registers, const statusDecoder::update& u)
{
    const QString level = QString::number(registers[statusDecoder::kBatteryLevel]);
    if (u.dcLost)
        emit signalNotify(tr("DC input lost"), tr("The module runs on its battery (%1 %).").arg(level), true,
                          QStringLiteral("dc"));
    if (u.dcReturned)
        emit signalNotify(tr("DC input restored"), tr("The module runs on DC again (battery %1 %).").arg(level),
                          false, QStringLiteral("dc"));
    if (u.swOn)
        emit signalNotify(tr("SW on"), tr("The module's SW signal switched on."), false, QStringLiteral("sw"));
}

void statusMonitorWidget::slotOnReadResultReady()
{
    handleBlock(m_monitorThread->registers());
}

void statusMonitorWidget::handleBlock(const statusDecoder::block& registers)
{
    const statusDecoder::update u =
        statusDecoder::decode(registers, {m_lastDcOk, m_lastSw, m_edgesKnown}, m_policy);
    m_lastDcOk = u.state.lastDcOk;
    m_lastSw = u.state.lastSw;
    m_edgesKnown = u.state.known;
    emit signalBlock(registers, u);
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
    const powerEventPolicy::decisions decided =
        m_powerEvents.onBlock(registers, u, now(), m_batThread->isRunning());
    // A script start goes first: on a power loss it is the one thing that
    // must not wait for anything else.
    for (const powerEventPolicy::decision& d : decided) {
        if (d.what == powerEventPolicy::decision::Start)
            act(d);
    }
    for (const statusDecoder::action& a : u.actions) {
        switch (a.what) {
        case statusDecoder::action::Log:
            g_consolePrint.showMsg(a.text);
            break;
        case statusDecoder::action::EmitDcOk:
            emit signalDC_OK(a.state);
            break;
        case statusDecoder::action::StartScript:
            // The policy above decides the moment, which the delay may defer.
            break;
        }
    }
    for (const powerEventPolicy::decision& d : decided) {
        if (d.what != powerEventPolicy::decision::Start)
            act(d);
    }
    notifyEdges(registers, u);
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
