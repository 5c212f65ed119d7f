// The status poll thread through the real device library against the module
// simulator on a pseudo-terminal.
#include "comadapter.h"
#include "comsettings.h"
#include "deliverycounter.h"
#include "logcapture.h"
#include "monitorthread.h"
#include "simulatorprocess.h"
#include "testenv.h"

class tst_monitorThreadSim : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void blocksCarryTheSimulatorsValues();
    void failedReadsLogOncePerPass();
    void stopAndQuitWhilePolling();

private:
    bool openLink(quint32 responseTimeout = 200, quint32 retries = 0);
    SimulatorProcess* m_sim = nullptr;
};

void tst_monitorThreadSim::init()
{
    m_sim = new SimulatorProcess;
    if (!m_sim->start())
        QFAIL(qPrintable("the simulator did not start: " + SimulatorProcess::executable()));
}

void tst_monitorThreadSim::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    delete m_sim;
    m_sim = nullptr;
}

bool tst_monitorThreadSim::openLink(quint32 responseTimeout, quint32 retries)
{
    comSettings settings;
    settings.comPort = m_sim->linkPath();
    settings.responseTimeout = responseTimeout;
    settings.numOfRetries = retries;
    return g_comAdapter.slotOpenDevice(&settings) == 0;
}

void tst_monitorThreadSim::blocksCarryTheSimulatorsValues()
{
    QVERIFY(openLink());
    monitorThread thread;
    deliveryCounter blocks(&thread, &monitorThread::signalFinished);
    thread.startPoll(10);
    QTRY_VERIFY(blocks.count() > 0);

    // The simulator's state at start (docs/register-map.md).
    const monitorThread::statusBlock first = thread.registers();
    QCOMPARE(first[0], quint16(24000));    // 40016 input voltage
    QCOMPARE(first[2], quint16(12000));    // 40018 output voltage
    QCOMPARE(first[10], quint16(100));     // 40026 battery level
    QCOMPARE(first[11], quint16(1));       // 40027 power source
    QCOMPARE(first[12], quint16(1));       // 40028 DC_OK
    QCOMPARE(first[14], quint16(1));       // 40030 Bat.Ready
    QCOMPARE(first[15], quint16(0));       // 40031 SW
    QCOMPARE(first[18], quint16(1));       // 40034 Dev.PSts

    // Set in this order, a block that shows the second value shows the first too.
    QCOMPARE(m_sim->command("set 40018 11111"), QStringLiteral("ok"));
    QCOMPARE(m_sim->command("set 40031 5"), QStringLiteral("ok"));
    QTRY_COMPARE(thread.registers()[15], quint16(5));
    const monitorThread::statusBlock later = thread.registers();
    QCOMPARE(later[15], quint16(5));
    QCOMPARE(later[2], quint16(11111));
    QVERIFY(thread.stopPoll());
}

void tst_monitorThreadSim::failedReadsLogOncePerPass()
{
    QVERIFY(openLink(100, 0));
    LogCapture log;
    // The thread's own rule is one line per failed pass; a quiet gap shorter
    // than the poll period keeps the log's throttle from counting them.
    g_consolePrint.throttle().setTimes(1, logThrottle::kDefaultSummaryEveryMs);
    const auto restore = qScopeGuard([] {
        g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
    });
    monitorThread thread;
    deliveryCounter blocks(&thread, &monitorThread::signalFinished);
    thread.startPoll(10);
    QTRY_VERIFY(blocks.count() > 0);

    QCOMPARE(m_sim->command("fault timeout"), QStringLiteral("ok"));
    QTRY_VERIFY(log.countStartingWith(QStringLiteral("Read error: ")) >= 3);
    const int blocksDuringFault = blocks.count();
    QCOMPARE(m_sim->command("fault none"), QStringLiteral("ok"));
    QTRY_VERIFY(blocks.count() > blocksDuringFault + 1);
    thread.stopPoll();
    QCoreApplication::processEvents();

    // One line of ours for every failed pass, each beside the adapter's own.
    const int ours = log.countStartingWith(QStringLiteral("Read error: "));
    QCOMPARE(log.count(QStringLiteral("Read error: -8")), ours);
    QCOMPARE(log.countStartingWith(QStringLiteral("ERR:-8:When reading register start from 40016")), ours);
}

void tst_monitorThreadSim::stopAndQuitWhilePolling()
{
    QVERIFY(openLink());
    auto* thread = new monitorThread;
    deliveryCounter blocks(thread, &monitorThread::signalFinished);
    thread->startPoll(5);
    QTRY_VERIFY(blocks.count() > 2);
    QVERIFY(thread->stopPoll());
    QVERIFY(!thread->stopRequested());
    QCoreApplication::processEvents();   // deliveries posted before the stop
    const int count = blocks.count();
    QTest::qWait(100);
    QCOMPARE(blocks.count(), count);

    // Destroyed in the middle of polling, as at application quit.
    thread->startPoll(1);
    QTRY_VERIFY(blocks.count() > count + 2);
    delete thread;
    const int requests = m_sim->command("requests").toInt();
    QTest::qWait(100);
    QCOMPARE(m_sim->command("requests").toInt(), requests);
}

QR_TEST_GUILESS_MAIN(tst_monitorThreadSim)
#include "tst_monitorthread_sim.moc"

#include <QScopeGuard>
