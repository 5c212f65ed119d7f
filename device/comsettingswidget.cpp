// The connection page: controls built in code, the record kept in step with
// them and with the settings file, the device opened and closed on request.
#include "comsettingswidget.h"

#include "autostart.h"
#include "comadapter.h"
#include "comportnames.h"
#include "comsettingsfile.h"
#include "savefailurelog.h"
#include "settingslocation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegExp>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <iterator>

namespace {

const char kAutoStartName[] = "QR-7215";

QHBoxLayout* labelledRow(const QString& label, QWidget* control)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label));
    row->addWidget(control);
    return row;
}

template <typename T>
T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

int portNumberFromName(const QString& name)
{
    if (name.isEmpty())
        return -1;
    QString digits = name;
    digits.remove(QRegExp(QStringLiteral("[^\\d.\\d]")));
    if (!QRegExp(QStringLiteral("^[1-9]\\d*|0$")).exactMatch(digits))
        return -1;
    bool ok = false;
    const int number = digits.toInt(&ok, 10);
    // A run of digits too long for an int names no port number.
    return ok ? number : -1;
}

comSettingsWidget::comSettingsWidget(QWidget* parent)
    : baseWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("comSettingsWidget"));
    resize(316, 513);
    setWindowTitle(QCoreApplication::translate("comSettingsWidget", "comSettingsWidget"));
    setMinimumWidth(240);

    // Beside the executable, or per user where an installed tree cannot hold it.
    const platform::connectionSettingsFiles files
        = platform::connectionSettingsLocation(QCoreApplication::applicationDirPath());
    m_configDir = files.file.left(files.file.lastIndexOf(QLatin1Char('/')) + 1);
    m_configDefault = files.firstStartDefault;

    m_settings = std::make_unique<comSettings>();

    createControls();

    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    m_link = new linkSupervisor(this);
    connect(m_link, SIGNAL(signalOpened()), this, SLOT(slotOnLinkOpened()));

    slotOnLoadConfig();
    g_comAdapter.initDescriptor();

    // Wired only now, so that showing the loaded record saved nothing.
    connect(m_comboBoxComMode, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_comboBoxComPort, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_spinBoxDeviceId, SIGNAL(valueChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_comboBoxBaudRate, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_comboBoxDataLen, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_comboBoxStopBits, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_comboBoxParity, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_spinBoxRespTimeout, SIGNAL(valueChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_spinBoxRetryCount, SIGNAL(valueChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_spinBoxPollCycle, SIGNAL(valueChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_checkBoxAutoConnect, SIGNAL(stateChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_checkBoxAutoBoot, SIGNAL(stateChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_checkBoxAutoHide, SIGNAL(stateChanged(int)), this, SLOT(slotOnSaveConfig()));
    connect(m_pushButtonConnect, SIGNAL(released()), this, SLOT(slotOnConnect()));
    connect(m_pushButtonDisconnect, SIGNAL(released()), this, SLOT(slotOnDisconnect()));
    connect(m_timer, SIGNAL(timeout()), this, SLOT(slotOnUpdate()));
    m_timer->start();
}

comSettingsWidget::~comSettingsWidget() = default;

void comSettingsWidget::createControls()
{
    m_comboBoxComMode = named(new QComboBox, "m_comboBoxComMode");
    m_comboBoxComMode->addItem(tr("Modbus RTU"));

    m_comboBoxComPort = named(new QComboBox, "m_comboBoxComPort");
    m_comboBoxComPort->clear();
    m_comboBoxComPort->addItems(availableComPorts());
    // A port may be a long path (/dev/serial/by-id/...): the box keeps the
    // dock's width and shows the whole name in its tool tip instead.
    m_comboBoxComPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_comboBoxComPort->setMinimumContentsLength(10);
    connect(m_comboBoxComPort, &QComboBox::currentTextChanged, m_comboBoxComPort, &QWidget::setToolTip);

    m_spinBoxDeviceId = named(new QSpinBox, "m_spinBoxDeviceId");
    // Every Modbus slave address.
    m_spinBoxDeviceId->setRange(1, 247);

    m_comboBoxBaudRate = named(new QComboBox, "m_comboBoxBaudRate");
    m_comboBoxBaudRate->addItems({QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                                  QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                                  QStringLiteral("57600"), QStringLiteral("115200")});

    m_comboBoxDataLen = named(new QComboBox, "m_comboBoxDataLen");
    m_comboBoxDataLen->addItem(QStringLiteral("8"));

    m_comboBoxStopBits = named(new QComboBox, "m_comboBoxStopBits");
    m_comboBoxStopBits->addItems({QStringLiteral("1"), QStringLiteral("2")});

    m_comboBoxParity = named(new QComboBox, "m_comboBoxParity");
    m_comboBoxParity->addItems({tr("None"), tr("Even"), tr("Odd")});

    m_spinBoxRespTimeout = named(new QSpinBox, "m_spinBoxRespTimeout");
    m_spinBoxRespTimeout->setRange(0, 10000);
    m_spinBoxRetryCount = named(new QSpinBox, "m_spinBoxRetryCount");
    m_spinBoxRetryCount->setRange(0, 100);
    m_spinBoxPollCycle = named(new QSpinBox, "m_spinBoxPollCycle");
    m_spinBoxPollCycle->setRange(20, 10000);

    m_pushButtonConnect = named(new QPushButton(tr("Connect")), "m_pushButtonConnect");
    m_pushButtonDisconnect = named(new QPushButton(tr("Disconnect")), "m_pushButtonDisconnect");
    m_checkBoxAutoConnect = named(new QCheckBox(tr("Auto Connect")), "m_checkBoxAutoConnect");
    m_checkBoxAutoBoot = named(new QCheckBox(tr("Auto Boot")), "m_checkBoxAutoBoot");
    m_checkBoxAutoHide = named(new QCheckBox(tr("Auto Hide")), "m_checkBoxAutoHide");

    QWidget* const lineSettings[10] = {m_comboBoxComMode, m_comboBoxComPort, m_spinBoxDeviceId,
                                       m_comboBoxBaudRate, m_comboBoxDataLen, m_comboBoxStopBits,
                                       m_comboBoxParity, m_spinBoxRespTimeout, m_spinBoxRetryCount,
                                       m_spinBoxPollCycle};
    std::copy(std::begin(lineSettings), std::end(lineSettings), std::begin(m_lineSettings));

    auto* page = new QVBoxLayout(this);
    page->addLayout(labelledRow(tr("Com Mode:"), m_comboBoxComMode));
    page->addLayout(labelledRow(tr("Com Port:"), m_comboBoxComPort));
    page->addLayout(labelledRow(tr("Device Id:"), m_spinBoxDeviceId));
    page->addLayout(labelledRow(tr("BaudRate:"), m_comboBoxBaudRate));
    page->addLayout(labelledRow(tr("DataLen:"), m_comboBoxDataLen));
    page->addLayout(labelledRow(tr("StopBits:"), m_comboBoxStopBits));
    page->addLayout(labelledRow(tr("Parity:"), m_comboBoxParity));
    page->addLayout(labelledRow(tr("Resp. Timeout(ms):"), m_spinBoxRespTimeout));
    page->addLayout(labelledRow(tr("Retry Count:"), m_spinBoxRetryCount));
    page->addLayout(labelledRow(tr("Poll Cycle(ms):"), m_spinBoxPollCycle));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pushButtonConnect);
    buttons->addWidget(m_pushButtonDisconnect);
    page->addLayout(buttons);

    auto* options = new QHBoxLayout;
    options->addWidget(m_checkBoxAutoConnect);
    options->addWidget(m_checkBoxAutoBoot);
    page->addLayout(options);

    auto* hide = new QHBoxLayout;
    hide->addWidget(m_checkBoxAutoHide);
    hide->addStretch();
    page->addLayout(hide);

    page->addStretch();
}

QString comSettingsWidget::configFile() const
{
    return m_configDir + QStringLiteral("config_com.xml");
}

void comSettingsWidget::loadConfig(const QString& fileName)
{
    // Until the per-user file is first saved, the installed one is the default.
    const bool firstStart = fileName == configFile() && !m_configDefault.isEmpty() && !QFile::exists(fileName);
    comSettingsFile::read(firstStart ? m_configDefault : fileName, *m_settings);
}

void comSettingsWidget::saveConfig(const QString& fileName)
{
    QString reason;
    const bool ok = comSettingsFile::write(fileName, *m_settings, &reason);
    saveFailureLog::saved(fileName, ok, reason);
}

void comSettingsWidget::registerAutoBoot()
{
    std::string reason;
    const bool ok = platform::registerAutoStart(kAutoStartName, &reason);
    saveFailureLog::saved(QString::fromStdString(platform::autoStartEntry(kAutoStartName)), ok,
                          QString::fromStdString(reason));
}

void comSettingsWidget::unregisterAutoBoot()
{
    // Another copy's entry stays: only this executable's own is removed.
    std::string reason;
    const bool ok = platform::unregisterAutoStart(kAutoStartName, &reason);
    saveFailureLog::saved(QString::fromStdString(platform::autoStartEntry(kAutoStartName)), ok,
                          QString::fromStdString(reason));
}

void comSettingsWidget::slotOnLoadConfig()
{
    loadConfig(configFile());
    fitRecordToControls();
    m_settings->comPortNumber = static_cast<quint16>(portNumberFromName(m_settings->comPort));

    m_showingRecord = true;
    showRecord();
    m_showingRecord = false;
}

void comSettingsWidget::fitRecordToControls()
{
    // What the page shows is what a connect uses: a value the controls
    // cannot show becomes the one they do show, in the record too, and the
    // next save writes it. Nothing the operator cannot see is ever sent.
    comSettings& s = *m_settings;
    const comSettings defaults;
    auto clampTo = [](quint32 value, const QSpinBox* box) {
        return static_cast<quint32>(qBound<qint64>(box->minimum(), value, box->maximum()));
    };
    if (s.comMode >= m_comboBoxComMode->count())
        s.comMode = defaults.comMode;
    s.slaveId = static_cast<quint16>(clampTo(s.slaveId, m_spinBoxDeviceId));
    if (m_comboBoxBaudRate->findText(QString::number(s.baudRate)) < 0)
        s.baudRate = defaults.baudRate;
    if (m_comboBoxDataLen->findText(QString::number(s.dataLen)) < 0)
        s.dataLen = defaults.dataLen;
    if (m_comboBoxStopBits->findText(QString::number(s.stopBits)) < 0)
        s.stopBits = defaults.stopBits;
    if (s.parity >= m_comboBoxParity->count())
        s.parity = defaults.parity;
    s.responseTimeout = clampTo(s.responseTimeout, m_spinBoxRespTimeout);
    s.numOfRetries = clampTo(s.numOfRetries, m_spinBoxRetryCount);
    s.pollDelay = clampTo(s.pollDelay, m_spinBoxPollCycle);

    // A port that is there but not listed (a by-id link, a pseudo-terminal),
    // or one the file names that is away for now (an adapter not plugged in
    // yet), joins the list. Only the record's own default, a Windows name no
    // Linux system has, gives way to the first port the system lists.
    if (m_comboBoxComPort->findText(s.comPort) >= 0)
        return;
    if (!comPortExists(s.comPort) && s.comPort == defaults.comPort && m_comboBoxComPort->count() > 0)
        s.comPort = m_comboBoxComPort->itemText(0);
    else if (!s.comPort.isEmpty())
        m_comboBoxComPort->addItem(s.comPort);
}

void comSettingsWidget::showRecord()
{
    const comSettings& s = *m_settings;
    m_comboBoxComMode->setCurrentIndex(s.comMode);
    m_spinBoxDeviceId->setValue(s.slaveId);
    m_comboBoxComPort->setCurrentText(s.comPort);
    m_comboBoxBaudRate->setCurrentText(QString::number(s.baudRate));
    m_comboBoxDataLen->setCurrentText(QString::number(s.dataLen));
    m_comboBoxStopBits->setCurrentText(QString::number(s.stopBits));
    m_comboBoxParity->setCurrentIndex(s.parity);
    m_spinBoxPollCycle->setValue(static_cast<int>(qMin<quint32>(s.pollDelay, INT_MAX)));
    m_spinBoxRespTimeout->setValue(static_cast<int>(qMin<quint32>(s.responseTimeout, INT_MAX)));
    m_spinBoxRetryCount->setValue(static_cast<int>(qMin<quint32>(s.numOfRetries, INT_MAX)));
    m_checkBoxAutoBoot->setChecked(s.autoBoot);
    m_checkBoxAutoConnect->setChecked(s.autoConnect);
    m_checkBoxAutoHide->setChecked(s.autoHide);
}

void comSettingsWidget::slotOnSaveConfig()
{
    if (m_showingRecord)
        return;
    comSettings& s = *m_settings;
    s.comMode = static_cast<quint8>(m_comboBoxComMode->currentIndex());
    s.slaveId = static_cast<quint16>(m_spinBoxDeviceId->value());
    s.comPort = m_comboBoxComPort->currentText();
    s.baudRate = m_comboBoxBaudRate->currentText().toUInt();
    s.dataLen = static_cast<quint8>(m_comboBoxDataLen->currentText().toUInt());
    s.stopBits = static_cast<quint8>(m_comboBoxStopBits->currentText().toUInt());
    s.parity = static_cast<quint8>(m_comboBoxParity->currentIndex());
    s.pollDelay = static_cast<quint32>(m_spinBoxPollCycle->value());
    s.responseTimeout = static_cast<quint32>(m_spinBoxRespTimeout->value());
    s.numOfRetries = static_cast<quint32>(m_spinBoxRetryCount->value());
    s.autoBoot = m_checkBoxAutoBoot->isChecked();
    s.autoConnect = m_checkBoxAutoConnect->isChecked();
    s.autoHide = m_checkBoxAutoHide->isChecked();
    s.comPortNumber = static_cast<quint16>(portNumberFromName(s.comPort));

    saveConfig(configFile());
    if (s.autoBoot)
        registerAutoBoot();
    else
        unregisterAutoBoot();
    emit signalPollCycleChanged(s.pollDelay);
}

void comSettingsWidget::slotOnConnect()
{
    // Connect stays enabled until the next refresh tick, so a second press can
    // arrive while an attempt runs or on an open link; the link ignores it.
    // The open runs on the link's worker: a silent module holds it for every
    // retry's time-out, and the window must stay responsive meanwhile.
    const bool keepTrying = m_autoConnecting;
    m_autoConnecting = false;
    if (g_comAdapter.isConnected())
        return;
    m_link->open(*m_settings, keepTrying);
    showLinkState();
}

void comSettingsWidget::slotOnLinkOpened()
{
    showLinkState();
    emit signalPollCycleChanged(m_settings->pollDelay);
    emit signalConnect(*m_settings);
}

void comSettingsWidget::slotOnDisconnect()
{
    emit signalDisconnect();
    m_link->close();
    showLinkState();
}

void comSettingsWidget::slotOnAutoBoot(int checked)
{
    if (checked)
        registerAutoBoot();
    else
        unregisterAutoBoot();
}

void comSettingsWidget::showLinkState()
{
    // Locked from the attempt on, and through a lost link while it is being
    // reopened: what is shown is what the link was opened with.
    const bool busy = g_comAdapter.isConnected() || m_link->currentState() != linkSupervisor::state::Closed;
    m_pushButtonConnect->setEnabled(!busy);
    m_pushButtonDisconnect->setEnabled(busy);
    for (QWidget* control : m_lineSettings)
        control->setEnabled(!busy);
    const QString connectText = m_link->attemptInFlight() && m_link->currentState() == linkSupervisor::state::Connecting
                                    ? tr("Connecting...")
                                    : tr("Connect");
    if (m_pushButtonConnect->text() != connectText)
        m_pushButtonConnect->setText(connectText);
}

void comSettingsWidget::slotOnUpdate()
{
    showLinkState();

    if (!m_firstTickDone) {
        // Marked first: one Auto Connect per run, whose attempts then go on
        // until the module answers or Disconnect is pressed.
        m_firstTickDone = true;
        if (m_settings->autoConnect) {
            m_autoConnecting = true;
            m_pushButtonConnect->click();
            m_autoConnecting = false;
        }
    }
}
