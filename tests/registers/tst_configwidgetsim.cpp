// The "Config" page against the simulated module through the real device
// library, with answers slow enough to watch an exchange in flight: the GUI
// thread keeps running meanwhile, ticks do not pile exchanges up, and a page
// switched off leaves nothing of its own on the line.
#include "comadapter.h"
#include "comsettings.h"
#include "configwidget.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QTableView>
#include <QTimer>

using namespace registerFixture;

class tst_configWidgetSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void eventLoopRunsDuringExchange();
    void ticksDuringExchangeQueueNothing();
    void writeOnHoldIsDropped_data();
    void writeOnHoldIsDropped();
    void silentModuleKeepsValuesAndPageResponsive();
    void writeGoesOutBeforeNextRead();

private:
    int requests() { return m_sim.command(QStringLiteral("requests")).toInt(); }
    int pending() { return m_sim.command(QStringLiteral("pending")).toInt(); }

    SimulatorProcess m_sim;
    comSettings m_settings;
};

void tst_configWidgetSim::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_settings.comPort = m_sim.linkPath();
    m_settings.slaveId = 1;
    // Longer than every held-back answer below, so that no attempt is repeated.
    m_settings.responseTimeout = 1500;
    m_settings.numOfRetries = 1;
    QVERIFY(installExampleTable());
}

void tst_configWidgetSim::init()
{
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(g_comAdapter.slotOpenDevice(&m_settings), 0);
}

void tst_configWidgetSim::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    // Answers held back for a closed link must not meet the next test.
    QTRY_COMPARE(pending(), 0);
}

void tst_configWidgetSim::cleanupTestCase()
{
    m_sim.stop();
    removeTable();
}

void tst_configWidgetSim::eventLoopRunsDuringExchange()
{
    configWidget page;
    QCOMPARE(m_sim.command(QStringLiteral("fault delay 250")), QStringLiteral("ok"));
    int ticksWhileExchanging = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { ticksWhileExchanging += page.isExchanging() ? 1 : 0; });
    probe.start(10);

    page.slotOnSetEnabled(true);
    // A refresh that called the device on this thread would let no tick in
    // while its exchange lasts.
    QTRY_VERIFY(ticksWhileExchanging >= 5);
    page.slotOnSetEnabled(false);
}

void tst_configWidgetSim::ticksDuringExchangeQueueNothing()
{
    configWidget page;
    const int before = requests();
    QCOMPARE(m_sim.command(QStringLiteral("fault delay 600")), QStringLiteral("ok"));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(pending(), 1);
    QCOMPARE(requests(), before + 1);

    QTest::qWait(350);   // three ticks of the refresh timer while the answer is held back
    QVERIFY(page.isExchanging());
    QCOMPARE(requests(), before + 1);

    // Once the answer is in, the refresh goes on.
    QTRY_VERIFY_WITH_TIMEOUT(requests() > before + 1, 5000);
    page.slotOnSetEnabled(false);
}

void tst_configWidgetSim::writeOnHoldIsDropped_data()
{
    QTest::addColumn<bool>("closeLink");   // else the page is switched off

    QTest::newRow("page switched off") << false;
    QTest::newRow("link closed") << true;
}

void tst_configWidgetSim::writeOnHoldIsDropped()
{
    QFETCH(bool, closeLink);

    configWidget page;
    auto* model = qobject_cast<upsDataModel*>(page.findChild<QTableView*>()->model());
    QVERIFY(m_sim.set(40006, 10));
    QCOMPARE(m_sim.command(QStringLiteral("fault delay 600")), QStringLiteral("ok"));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(pending(), 1);
    const int before = requests();
    LogCapture log;

    // Asked for while a read is on the line, so it has to wait.
    model->slotOnModifyRegister(40006, 25, true);
    if (closeLink) {
        g_comAdapter.slotCloseDevice();
        page.slotOnUpdate();
        QCOMPARE(valueText(*model, 6), QString());
    } else {
        // Returns without waiting for the exchange on the line.
        page.slotOnSetEnabled(false);
        QCOMPARE(pending(), 1);
    }
    QTRY_COMPARE(log.count(QStringLiteral("Write of register 40006 discarded: the link closed before it was sent. "
                                          "(value 25)")),
                 1);
    QTRY_VERIFY_WITH_TIMEOUT(!page.isExchanging(), 5000);
    // Nothing has reached the module since the read that was on the line.
    QCOMPARE(requests(), before);

    // A new link and the page on again: the write never goes out.
    if (closeLink)
        QCOMPARE(g_comAdapter.slotOpenDevice(&m_settings), 0);
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(valueText(*model, 6), QStringLiteral("10"));
    page.slotOnSetEnabled(false);
    QCOMPARE(m_sim.get(40006), 10);
}

void tst_configWidgetSim::silentModuleKeepsValuesAndPageResponsive()
{
    g_comAdapter.slotCloseDevice();
    comSettings shortTimeout;
    shortTimeout.assignFrom(m_settings);
    shortTimeout.responseTimeout = 300;
    QCOMPARE(g_comAdapter.slotOpenDevice(&shortTimeout), 0);
    configWidget page;
    auto* model = page.findChild<QTableView*>()->model();
    QVERIFY(m_sim.set(40005, 77));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(valueText(*model, 5), QStringLiteral("77"));

    LogCapture log;
    QVERIFY(m_sim.set(40005, 78));
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    int ticksWhileExchanging = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { ticksWhileExchanging += page.isExchanging() ? 1 : 0; });
    probe.start(10);
    // Two attempts of 300 ms each, then the failure is logged.
    QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("ERR:-8")) >= 1, 5000);
    QVERIFY(ticksWhileExchanging >= 10);
    QCOMPARE(valueText(*model, 5), QStringLiteral("77"));

    // Switched off in the middle of the next attempts: it returns at once,
    // and the attempts on the line end by themselves.
    QTRY_VERIFY(page.isExchanging());
    page.slotOnSetEnabled(false);
    QTRY_VERIFY_WITH_TIMEOUT(!page.isExchanging(), 5000);
    const int after = requests();
    QTest::qWait(400);
    QCOMPARE(requests(), after);
}

void tst_configWidgetSim::writeGoesOutBeforeNextRead()
{
    configWidget page;
    auto* model = qobject_cast<upsDataModel*>(page.findChild<QTableView*>()->model());
    QVERIFY(m_sim.set(40006, 10));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(valueText(*model, 6), QStringLiteral("10"));

    QCOMPARE(m_sim.command(QStringLiteral("fault delay 150")), QStringLiteral("ok"));
    QTRY_VERIFY(page.isExchanging());
    // Asked for while a read is on the line: it waits for that read, then
    // takes the next refresh's place.
    model->slotOnModifyRegister(40006, 25, true);
    QTRY_COMPARE(m_sim.get(40006), 25);
    QTRY_COMPARE(valueText(*model, 6), QStringLiteral("25"));
    page.slotOnSetEnabled(false);
}

QR_TEST_MAIN(tst_configWidgetSim)
#include "tst_configwidgetsim.moc"
