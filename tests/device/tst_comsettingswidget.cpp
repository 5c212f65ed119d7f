// The connection page over the fake device library: Connect and Disconnect,
// the lock of the line settings while connected, Auto Connect, and its file:
// the example saved on a first start, every change saved, Auto Boot.
#include "comadapter.h"
#include "comportnames.h"
#include "comsettingswidget.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "pagefixture.h"
#include "testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <memory>
#include <QMap>

using namespace pagefixture;

class tst_comSettingsWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartWithoutFile();
    void controlsLockWhileConnected();
    void lockFollowsTheAdapterNotThePage();
    void failedConnectAnnouncesNothing();
    void connectOnAnOpenLinkKeepsIt();
    void autoConnectKeepsTrying_data();
    void autoConnectKeepsTrying();

    void firstStartSavesTheExampleFile();
    void loadedFileIsShownAndNotSaved();
    void everyChangeSaves_data();
    void everyChangeSaves();
    void autoBootFollowsTheCheckBox();
    void pseudoTerminalPortIsShownAndUsed();
    void fileValuesBecomeWhatIsShown_data();
    void fileValuesBecomeWhatIsShown();
private:
    std::unique_ptr<LogCapture> m_log;
};

void tst_comSettingsWidget::init()
{
    pagefixture::reset();
    m_log = std::make_unique<LogCapture>();
}

void tst_comSettingsWidget::cleanup()
{
    m_log.reset();
    disconnectAdapter();
}

void tst_comSettingsWidget::firstStartWithoutFile()
{
    comSettingsWidget page;
    QVERIFY(!QFile::exists(configFile()));
    // The record holds what the page shows: the poll cycle's least, and the
    // first listed port where the default COM1 is no port of this system.
    const QString port = availableComPorts().value(0, QStringLiteral("COM1"));
    QCOMPARE(page.settings().pollDelay, 20u);
    QCOMPARE(page.settings().comPort, port);
    QCOMPARE(control<QComboBox>(page, "m_comboBoxComPort")->currentText(), port);
    QCOMPARE(page.settings().baudRate, 115200u);
    QCOMPARE(control<QSpinBox>(page, "m_spinBoxPollCycle")->value(), 20);

    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    QList<const comSettings*> announced;
    QList<uint> pollAtConnect;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings& s) {
        announced << &s;
        pollAtConnect << static_cast<uint>(pollSpy.count());
    });
    control<QPushButton>(page, "m_pushButtonConnect")->click();

    QTRY_COMPARE(pollSpy.count(), 1);
    QCOMPARE(pollSpy.at(0).at(0).toUInt(), 20u);
    QCOMPARE(announced, QList<const comSettings*>{&page.settings()});
    // The poll cycle is announced before the connection.
    QCOMPARE(pollAtConnect, QList<uint>{1});
    QCOMPARE(fakesdk::countCalls("open"), 1);
    QCOMPARE(QString::fromStdString(fakesdk::calls().back().portName), port);
    QVERIFY(!QFile::exists(configFile()));

    QSignalSpy disconnectSpy(&page, &comSettingsWidget::signalDisconnect);
    QTRY_VERIFY(control<QPushButton>(page, "m_pushButtonDisconnect")->isEnabled());
    control<QPushButton>(page, "m_pushButtonDisconnect")->click();
    QCOMPARE(disconnectSpy.count(), 1);
    QCOMPARE(fakesdk::countCalls("close"), 1);
    QVERIFY(!g_comAdapter.isConnected());
}

void tst_comSettingsWidget::controlsLockWhileConnected()
{
    comSettingsWidget page;
    QPushButton* connectButton = control<QPushButton>(page, "m_pushButtonConnect");
    QPushButton* disconnectButton = control<QPushButton>(page, "m_pushButtonDisconnect");
    QTRY_VERIFY(!disconnectButton->isEnabled());
    QVERIFY(lineSettingsEnabled(page, true));

    connectButton->click();
    QTRY_VERIFY(g_comAdapter.isConnected());
    QTRY_VERIFY(lineSettingsEnabled(page, false));
    QVERIFY(!connectButton->isEnabled());
    QVERIFY(disconnectButton->isEnabled());
    for (const char* name : kOptions)
        QVERIFY2(control<QWidget>(page, name)->isEnabled(), name);

    disconnectButton->click();
    QTRY_VERIFY(lineSettingsEnabled(page, true));
    QVERIFY(connectButton->isEnabled());
    QVERIFY(!disconnectButton->isEnabled());
}

void tst_comSettingsWidget::lockFollowsTheAdapterNotThePage()
{
    comSettingsWidget page;
    QCOMPARE(g_comAdapter.slotOpenDevice(nullptr), 0);
    QTRY_VERIFY(lineSettingsEnabled(page, false));

    // A close that fails keeps the link, and the page stays locked.
    fakesdk::setCloseResult(QR7215_E_LINK_LOST);
    control<QPushButton>(page, "m_pushButtonDisconnect")->click();
    QVERIFY(g_comAdapter.isConnected());
    QSignalSpy ticks(page.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 2);
    QVERIFY(lineSettingsEnabled(page, false));

    fakesdk::setCloseResult(0);
    g_comAdapter.slotCloseDevice();
    QTRY_VERIFY(lineSettingsEnabled(page, true));
}

void tst_comSettingsWidget::failedConnectAnnouncesNothing()
{
    comSettingsWidget page;
    fakesdk::setOpenResult(QR7215_E_PORT_NOT_FOUND);
    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    int announced = 0;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings&) { ++announced; });

    control<QPushButton>(page, "m_pushButtonConnect")->click();
    QTRY_COMPARE(m_log->count(QStringLiteral("Open device error:-4")), 1);
    QTRY_COMPARE(page.linkState(), linkSupervisor::state::Closed);
    QCOMPARE(pollSpy.count(), 0);
    QCOMPARE(announced, 0);
    QTRY_VERIFY(lineSettingsEnabled(page, true));
}

void tst_comSettingsWidget::connectOnAnOpenLinkKeepsIt()
{
    comSettingsWidget page;
    int announced = 0;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings&) { ++announced; });
    QPushButton* connectButton = control<QPushButton>(page, "m_pushButtonConnect");
    connectButton->click();
    QTRY_VERIFY(g_comAdapter.isConnected());

    // The tool bar's Connect, pressed again before the window's refresh tick
    // disables it; the real library refuses a second open of the same link.
    fakesdk::setOpenResult(QR7215_E_ALREADY_OPEN);
    page.slotOnConnect();

    QTest::qWait(20);
    QCOMPARE(fakesdk::countCalls("open"), 1);
    QVERIFY(g_comAdapter.isConnected());
    QCOMPARE(announced, 1);
    QCOMPARE(m_log->countStartingWith(QStringLiteral("Open device error:")), 0);
    QTRY_VERIFY(control<QPushButton>(page, "m_pushButtonDisconnect")->isEnabled());
}

void tst_comSettingsWidget::autoConnectKeepsTrying_data()
{
    QTest::addColumn<QByteArray>("autoConnect");
    QTest::addColumn<int>("failures");   // attempts that fail before the module answers
    QTest::addColumn<int>("openResult");

    QTest::newRow("device present") << QByteArray("1") << 0 << 0;
    QTest::newRow("device there after two attempts") << QByteArray("1") << 2 << int(QR7215_E_PORT_NOT_FOUND);
    QTest::newRow("any non-zero value is on") << QByteArray("7") << 1 << int(QR7215_E_TIMEOUT);
    QTest::newRow("off") << QByteArray("0") << 0 << 0;
}

void tst_comSettingsWidget::autoConnectKeepsTrying()
{
    QFETCH(QByteArray, autoConnect);
    QFETCH(int, failures);
    QFETCH(int, openResult);

    QVERIFY(writeConfig("<AutoConnect>" + autoConnect + "</AutoConnect>"));
    fakesdk::setOpenResult(openResult);
    comSettingsWidget page;
    int announced = 0;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings&) { ++announced; });
    // Not before the event loop runs.
    QCOMPARE(fakesdk::countCalls("open"), 0);

    if (autoConnect == "0") {
        QSignalSpy ticks(page.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 6);
        QCOMPARE(fakesdk::countCalls("open"), 0);
        return;
    }
    // The module appears after some attempts; the retries wait 1 s, then 2 s.
    QTRY_COMPARE_WITH_TIMEOUT(fakesdk::countCalls("open"), failures ? failures : 1, 4000);
    fakesdk::setOpenResult(0);
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 5000);
    QTRY_COMPARE(announced, 1);
    QCOMPARE(fakesdk::countCalls("open"), failures + 1);
    // One failure is one report, however often it repeats.
    QCOMPARE(m_log->countStartingWith(QStringLiteral("Open device error:")), failures ? 1 : 0);
}

void tst_comSettingsWidget::firstStartSavesTheExampleFile()
{
    comSettingsWidget page;
    QCheckBox* autoHide = control<QCheckBox>(page, "m_checkBoxAutoHide");
    autoHide->setChecked(true);
    autoHide->setChecked(false);

    // COM1 in the example stands for the first port the system lists.
    const QString port = availableComPorts().value(0);
    QCOMPARE(fileFields(), (QStringList{"ComMode=0", "SlaveId=1", "ComPort=" + port, "BaudRate=115200", "DataLen=8",
                                        "StopBits=1", "Parity=0", "ResponseTimeout=1000", "NumOfRetries=3",
                                        "PollDelay=20", "AutoBoot=0", "AutoConnect=0", "AutoHide=0"}));
    QCOMPARE(readAll(configFile()).count('\n'), 18);
    QCOMPARE(page.settings().pollDelay, 20u);
    QCOMPARE(int(page.settings().comPortNumber), port.isEmpty() ? 65535 : portNumberFromName(port) & 0xFFFF);

    if (port.isEmpty()) {
        // No port at all: the byte of the descriptor is 255 and no name is bound.
        control<QPushButton>(page, "m_pushButtonConnect")->click();
        QTRY_COMPARE(fakesdk::countCalls("open"), 1);
        QCOMPARE(int(fakesdk::calls().back().descriptor.comPort), 255);
        QCOMPARE(QString::fromStdString(fakesdk::calls().back().portName), QString());
    }
}

void tst_comSettingsWidget::loadedFileIsShownAndNotSaved()
{
    QVERIFY(writeConfig("<SlaveId>17</SlaveId><BaudRate>9600</BaudRate><StopBits>2</StopBits><Parity>1</Parity>"
                        "<ResponseTimeout>2500</ResponseTimeout><NumOfRetries>5</NumOfRetries><PollDelay>250</PollDelay>"
                        "<AutoConnect>0</AutoConnect><AutoHide>1</AutoHide><AutoBoot>1</AutoBoot>"));
    const QByteArray before = readAll(configFile());

    comSettingsWidget page;
    QCOMPARE(control<QSpinBox>(page, "m_spinBoxDeviceId")->value(), 17);
    QCOMPARE(control<QComboBox>(page, "m_comboBoxBaudRate")->currentText(), QStringLiteral("9600"));
    QCOMPARE(control<QComboBox>(page, "m_comboBoxStopBits")->currentText(), QStringLiteral("2"));
    QCOMPARE(control<QComboBox>(page, "m_comboBoxParity")->currentIndex(), 1);
    QCOMPARE(control<QSpinBox>(page, "m_spinBoxRespTimeout")->value(), 2500);
    QCOMPARE(control<QSpinBox>(page, "m_spinBoxRetryCount")->value(), 5);
    QCOMPARE(control<QSpinBox>(page, "m_spinBoxPollCycle")->value(), 250);
    QVERIFY(control<QCheckBox>(page, "m_checkBoxAutoHide")->isChecked());
    QVERIFY(control<QCheckBox>(page, "m_checkBoxAutoBoot")->isChecked());
    QVERIFY(!control<QCheckBox>(page, "m_checkBoxAutoConnect")->isChecked());
    QCOMPARE(page.settings().slaveId, quint16(17));

    // Loading wrote nothing and registered nothing: start-up leaves the entry alone.
    QCOMPARE(readAll(configFile()), before);
    QVERIFY(!QFile::exists(autostartEntry()));
}

void tst_comSettingsWidget::everyChangeSaves_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("connected");

    QTest::newRow("Device Id") << "m_spinBoxDeviceId" << QVariant(42) << "SlaveId" << "42" << false;
    QTest::newRow("BaudRate") << "m_comboBoxBaudRate" << QVariant("9600") << "BaudRate" << "9600" << false;
    QTest::newRow("StopBits") << "m_comboBoxStopBits" << QVariant("2") << "StopBits" << "2" << false;
    QTest::newRow("Parity") << "m_comboBoxParity" << QVariant("Odd") << "Parity" << "2" << false;
    QTest::newRow("Resp. Timeout") << "m_spinBoxRespTimeout" << QVariant(3000) << "ResponseTimeout" << "3000" << false;
    QTest::newRow("Retry Count") << "m_spinBoxRetryCount" << QVariant(0) << "NumOfRetries" << "0" << false;
    QTest::newRow("Poll Cycle") << "m_spinBoxPollCycle" << QVariant(500) << "PollDelay" << "500" << false;
    QTest::newRow("Auto Connect") << "m_checkBoxAutoConnect" << QVariant(true) << "AutoConnect" << "1" << false;
    QTest::newRow("Auto Hide") << "m_checkBoxAutoHide" << QVariant(true) << "AutoHide" << "1" << false;
    QTest::newRow("Auto Hide while connected") << "m_checkBoxAutoHide" << QVariant(true) << "AutoHide" << "1" << true;
    QTest::newRow("Auto Connect while connected")
        << "m_checkBoxAutoConnect" << QVariant(true) << "AutoConnect" << "1" << true;
}

void tst_comSettingsWidget::everyChangeSaves()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QFETCH(QString, element);
    QFETCH(QString, text);
    QFETCH(bool, connected);

    comSettingsWidget page;
    if (connected) {
        control<QPushButton>(page, "m_pushButtonConnect")->click();
        // The open runs off the GUI thread: wait for the link, not for the
        // controls, which lock as soon as the open starts.
        QTRY_VERIFY(g_comAdapter.isConnected());
        QTRY_VERIFY(lineSettingsEnabled(page, false));
    }
    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    const QString file = configFile();
    QVERIFY(!QFile::exists(file));

    QWidget* w = control<QWidget>(page, name.toLatin1().constData());
    if (auto* spin = qobject_cast<QSpinBox*>(w))
        spin->setValue(value.toInt());
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentText(value.toString());
    else if (auto* box = qobject_cast<QCheckBox*>(w))
        box->setChecked(value.toBool());
    else
        QFAIL("unknown control");

    QCOMPARE(pollSpy.count(), 1);
    QCOMPARE(pollSpy.at(0).at(0).toUInt(), page.settings().pollDelay);
    QCOMPARE(fileField(element), text);
    QCOMPARE(fileFields().size(), 13);
    // The first edit also takes the other controls as they show, poll cycle included.
    if (element != QLatin1String("PollDelay"))
        QCOMPARE(fileField("PollDelay"), QStringLiteral("20"));
    QCOMPARE(g_comAdapter.isConnected(), connected);
}

void tst_comSettingsWidget::autoBootFollowsTheCheckBox()
{
    comSettingsWidget page;
    QCheckBox* autoBoot = control<QCheckBox>(page, "m_checkBoxAutoBoot");
    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);

    autoBoot->setChecked(true);
    QCOMPARE(fileField("AutoBoot"), QStringLiteral("1"));
    QCOMPARE(pollSpy.count(), 1);
    QFile entry(autostartEntry());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(entry.readAll())
                .contains("\nExec=\"" + QCoreApplication::applicationFilePath() + "\"\n"));
    entry.close();

    // Every later save keeps the entry while the box stays checked.
    control<QSpinBox>(page, "m_spinBoxDeviceId")->setValue(9);
    QVERIFY(QFile::exists(autostartEntry()));

    autoBoot->setChecked(false);
    QCOMPARE(fileField("AutoBoot"), QStringLiteral("0"));
    QVERIFY(!QFile::exists(autostartEntry()));

    page.slotOnAutoBoot(2);
    QVERIFY(QFile::exists(autostartEntry()));
    page.slotOnAutoBoot(0);
    QVERIFY(!QFile::exists(autostartEntry()));
}

void tst_comSettingsWidget::pseudoTerminalPortIsShownAndUsed()
{
    PseudoTerminal pty;
    if (pty.link().isEmpty())
        QSKIP("no pseudo-terminal available");
    QVERIFY(writeConfig("<ComPort>" + pty.link().toUtf8() + "</ComPort><SlaveId>3</SlaveId>"));

    comSettingsWidget page;
    QComboBox* ports = control<QComboBox>(page, "m_comboBoxComPort");
    QCOMPARE(ports->currentText(), pty.link());
    QCOMPARE(ports->count(), availableComPorts().size() + 1);
    QCOMPARE(page.settings().comPort, pty.link());

    control<QPushButton>(page, "m_pushButtonConnect")->click();
    QTRY_COMPARE(fakesdk::countCalls("open"), 1);
    QCOMPARE(QString::fromStdString(fakesdk::calls().back().function), QStringLiteral("open"));
    QCOMPARE(QString::fromStdString(fakesdk::calls().back().portName), pty.link());
    QCOMPARE(int(fakesdk::calls().back().descriptor.slaveAddress), 3);
    control<QPushButton>(page, "m_pushButtonDisconnect")->click();
    QTRY_VERIFY(lineSettingsEnabled(page, true));

    // An edit elsewhere keeps the port.
    control<QSpinBox>(page, "m_spinBoxDeviceId")->setValue(4);
    QCOMPARE(fileField("ComPort"), pty.link());
    QCOMPARE(page.settings().comPort, pty.link());
}

void tst_comSettingsWidget::fileValuesBecomeWhatIsShown_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("shown");   // in the record at once, and in the file after the next save

    QTest::newRow("a port that is away for now is shown and kept") << QByteArray("ComPort") << QByteArray("COM7") << "COM7";
    QTest::newRow("poll cycle 0 never spins the poll") << QByteArray("PollDelay") << QByteArray("0") << "20";
    QTest::newRow("poll cycle below the least") << QByteArray("PollDelay") << QByteArray("5") << "20";
    QTest::newRow("slave address 0") << QByteArray("SlaveId") << QByteArray("0") << "1";
    QTest::newRow("slave address above 247") << QByteArray("SlaveId") << QByteArray("300") << "247";
    QTest::newRow("slave address 200 is a Modbus address") << QByteArray("SlaveId") << QByteArray("200") << "200";
    QTest::newRow("baud rate no item offers") << QByteArray("BaudRate") << QByteArray("12345") << "115200";
    QTest::newRow("stop bits 3") << QByteArray("StopBits") << QByteArray("3") << "1";
    QTest::newRow("data bits 7") << QByteArray("DataLen") << QByteArray("7") << "8";
    QTest::newRow("parity 7") << QByteArray("Parity") << QByteArray("7") << "0";
    QTest::newRow("mode 2") << QByteArray("ComMode") << QByteArray("2") << "0";
    QTest::newRow("time-out above the most") << QByteArray("ResponseTimeout") << QByteArray("99999") << "10000";
    QTest::newRow("retries above the most") << QByteArray("NumOfRetries") << QByteArray("500") << "100";
}

void tst_comSettingsWidget::fileValuesBecomeWhatIsShown()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, value);
    QFETCH(QString, shown);
    QVERIFY(writeConfig("<" + element + ">" + value + "</" + element + ">"));
    comSettingsWidget page;
    const comSettings& s = page.settings();
    const QMap<QByteArray, QString> record{
        {"ComPort", s.comPort}, {"PollDelay", QString::number(s.pollDelay)}, {"SlaveId", QString::number(s.slaveId)},
        {"BaudRate", QString::number(s.baudRate)}, {"StopBits", QString::number(s.stopBits)},
        {"DataLen", QString::number(s.dataLen)}, {"Parity", QString::number(s.parity)},
        {"ComMode", QString::number(s.comMode)}, {"ResponseTimeout", QString::number(s.responseTimeout)},
        {"NumOfRetries", QString::number(s.numOfRetries)}};
    // A connect uses the record as it is: it must already hold what is shown.
    QCOMPARE(record.value(element), shown);

    // The next save reads every control back: the file then holds what they show.
    control<QCheckBox>(page, "m_checkBoxAutoHide")->toggle();
    QCOMPARE(fileField(QString::fromLatin1(element)), shown);
}

QR_TEST_MAIN(tst_comSettingsWidget)
#include "tst_comsettingswidget.moc"
