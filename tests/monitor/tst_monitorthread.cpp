// The status poll thread against the fake device library: what it reads, what
// it reports on a failed read, and how it starts, changes period and stops.
#include "comadapter.h"
#include "comsettings.h"
#include "deliverycounter.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "monitorthread.h"
#include "testenv.h"

#include <QScopeGuard>
#include <QElapsedTimer>

class tst_monitorThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void blocksArriveWithTheDeviceValues();
    void failedReadLogsOncePerPass_data();
    void failedReadLogsOncePerPass();
    void closedLinkProducesNothing();
    void linkOpenedLaterIsPickedUp();
    void stopOnNeverStartedThreadReturnsAtOnce();
    void startOnRunningThreadChangesOnlyThePeriod();
    void afterStopNoFurtherBlock();
    void stopDoesNotWaitOutALongPeriod();
    void canBeStartedAndStoppedRepeatedly();
    void destroyedWhilePolling();

private:
    void openLink();
};

void tst_monitorThread::init()
{
    fakesdk::reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
}

void tst_monitorThread::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_monitorThread::openLink()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
    QVERIFY(g_comAdapter.isConnected());
}

void tst_monitorThread::blocksArriveWithTheDeviceValues()
{
    openLink();
    monitorThread::statusBlock expected;
    for (int i = 0; i < monitorThread::kStatusCount; ++i) {
        expected[i] = static_cast<quint16>(1000 + 17 * i);
        fakesdk::setRegister(40016 + i, expected[i]);
    }
    // Neighbours of the block must not leak into it.
    fakesdk::setRegister(40015, 7);
    fakesdk::setRegister(40036, 7);

    monitorThread thread;
    deliveryCounter finished(&thread, &monitorThread::signalFinished);
    thread.startPoll(10);
    QTRY_VERIFY(finished.count() >= 2);
    QCOMPARE(thread.registers(), expected);
    QVERIFY(thread.stopPoll());

    for (const fakesdk::Call& c : fakesdk::calls()) {
        if (c.function != "read")
            continue;
        QCOMPARE(c.start, 40016u);
        QCOMPARE(c.count, 20u);
    }
}

void tst_monitorThread::failedReadLogsOncePerPass_data()
{
    QTest::addColumn<int>("result");
    QTest::newRow("time-out -8") << -8;
    QTest::newRow("-1") << -1;
    QTest::newRow("exception -102") << -102;
}

void tst_monitorThread::failedReadLogsOncePerPass()
{
    QFETCH(int, result);
    openLink();
    fakesdk::setReadResult(result);
    LogCapture log;
    // The thread's own rule is one line per failed pass; a quiet gap shorter
    // than the poll period keeps the log's throttle from counting them.
    g_consolePrint.throttle().setTimes(1, logThrottle::kDefaultSummaryEveryMs);
    const auto restore = qScopeGuard([] {
        g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
    });
    monitorThread thread;
    deliveryCounter finished(&thread, &monitorThread::signalFinished);

    thread.startPoll(10);
    QTRY_VERIFY(fakesdk::countCalls("read") >= 3);
    thread.stopPoll();
    const int reads = fakesdk::countCalls("read");
    const QString line = QStringLiteral("Read error: ") + QString::number(result);
    QTRY_COMPARE(log.count(line), reads);
    QCOMPARE(log.countStartingWith(QStringLiteral("Read error: ")), reads);
    // The adapter adds its own line for each failure.
    QCOMPARE(log.count(QStringLiteral("ERR:%1:When reading register start from 40016").arg(result)), reads);
    QCOMPARE(finished.count(), 0);
}

void tst_monitorThread::closedLinkProducesNothing()
{
    LogCapture log;
    monitorThread thread;
    deliveryCounter finished(&thread, &monitorThread::signalFinished);
    thread.startPoll(5);
    QVERIFY(thread.isRunning());
    QTest::qWait(300);   // many periods with the link closed
    thread.stopPoll();
    QCoreApplication::processEvents();
    QCOMPARE(fakesdk::countCalls("read"), 0);
    QCOMPARE(finished.count(), 0);
    QVERIFY(log.lines.isEmpty());
}

void tst_monitorThread::linkOpenedLaterIsPickedUp()
{
    monitorThread thread;
    deliveryCounter finished(&thread, &monitorThread::signalFinished);
    thread.startPoll(5);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);
    openLink();
    QTRY_VERIFY(finished.count() > 0);
    thread.stopPoll();
}

void tst_monitorThread::stopOnNeverStartedThreadReturnsAtOnce()
{
    monitorThread thread;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(thread.stopPoll());
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!thread.stopRequested());
    QVERIFY(!thread.isRunning());

    // Still startable.
    openLink();
    deliveryCounter finished(&thread, &monitorThread::signalFinished);
    thread.startPoll(10);
    QTRY_VERIFY(finished.count() > 0);
    thread.stopPoll();
}

void tst_monitorThread::startOnRunningThreadChangesOnlyThePeriod()
{
    openLink();
    monitorThread thread;
    deliveryCounter started(&thread, &QThread::started);
    deliveryCounter ended(&thread, &QThread::finished);
    deliveryCounter blocks(&thread, &monitorThread::signalFinished);

    thread.startPoll(10);
    QTRY_VERIFY(blocks.count() > 0);
    thread.startPoll(50);
    QCOMPARE(thread.pollCycle(), 50u);
    const int before = blocks.count();
    QTRY_VERIFY(blocks.count() > before);
    QCOMPARE(started.count(), 1);
    QCOMPARE(ended.count(), 0);
    QVERIFY(thread.isRunning());
    thread.stopPoll();
    QTRY_COMPARE(ended.count(), 1);
}

void tst_monitorThread::afterStopNoFurtherBlock()
{
    openLink();
    monitorThread thread;
    deliveryCounter blocks(&thread, &monitorThread::signalFinished);
    thread.startPoll(5);
    QTRY_VERIFY(blocks.count() >= 3);
    QVERIFY(thread.stopPoll());
    QVERIFY(!thread.isRunning());
    QVERIFY(!thread.stopRequested());
    QCoreApplication::processEvents();   // deliveries posted before the stop
    const int count = blocks.count();
    const int reads = fakesdk::countCalls("read");
    QTest::qWait(100);
    QCOMPARE(blocks.count(), count);
    QCOMPARE(fakesdk::countCalls("read"), reads);
}

void tst_monitorThread::stopDoesNotWaitOutALongPeriod()
{
    openLink();
    monitorThread thread;
    thread.startPoll(10000);
    QTest::qWait(50);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(thread.stopPoll());
    // The first read would only come after 10 s: none was made.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(fakesdk::countCalls("read"), 0);
}

void tst_monitorThread::canBeStartedAndStoppedRepeatedly()
{
    openLink();
    monitorThread thread;
    deliveryCounter blocks(&thread, &monitorThread::signalFinished);
    for (int round = 0; round < 5; ++round) {
        const int before = blocks.count();
        thread.startPoll(5);
        QTRY_VERIFY(blocks.count() > before);
        QVERIFY(thread.stopPoll());
        QVERIFY(!thread.stopRequested());
    }
}

void tst_monitorThread::destroyedWhilePolling()
{
    openLink();
    auto* thread = new monitorThread;
    deliveryCounter blocks(thread, &monitorThread::signalFinished);
    thread->startPoll(5);
    QTRY_VERIFY(blocks.count() > 0);
    delete thread;   // joins; a running QThread destroyed would abort
    const int reads = fakesdk::countCalls("read");
    QTest::qWait(50);
    QCOMPARE(fakesdk::countCalls("read"), reads);
}

QR_TEST_GUILESS_MAIN(tst_monitorThread)
#include "tst_monitorthread.moc"
