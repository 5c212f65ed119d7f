// The connection page over the fake device library: its controls, Connect
// and Disconnect, the lock of the line settings while connected, Auto Connect.
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

QR_TEST_MAIN(tst_comSettingsWidget)
#include "tst_comsettingswidget.moc"
