// The failure-line throttle against a stepped clock: what reaches the log for
// sequences of occurrences, and the message bus's two roads (failure lines
// throttled, event lines never).
#include "consoleprint.h"
#include "logcapture.h"
#include "logthrottle.h"
#include "testenv.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

// The rows below are written for a 5 s quiet gap.
constexpr qint64 kGapMs = 5000;
const QString kRead = QStringLiteral("ERR:-8:When reading register start from 40016");
const QString kPoll = QStringLiteral("Read error: -8");

// One step of a sequence: advance the clock by `after` ms, then either submit
// `text` or (empty text) flush.
struct step {
    qint64 after;
    QString text;
};

} // namespace

Q_DECLARE_METATYPE(QVector<step>)

class tst_logThrottle : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();
    void dueTimeFollowsTheBursts();
    void summaryEvery60sWhileItGoesOn();
    void threadsCountEveryOccurrence();
    void busThrottlesFailuresOnly();
    void busFlushesSummaryByItself();

private:
    static QVector<step> repeat(const QString& text, int times, qint64 every);
};

QVector<step> tst_logThrottle::repeat(const QString& text, int times, qint64 every)
{
    QVector<step> steps;
    for (int i = 0; i < times; ++i)
        steps << step{i == 0 ? 0 : every, text};
    return steps;
}

void tst_logThrottle::sequences_data()
{
    QTest::addColumn<QVector<step>>("steps");
    QTest::addColumn<QStringList>("logged");

    const QString flushNow;
    QTest::newRow("one failure is one line")
        << QVector<step>{{0, kRead}, {6000, flushNow}} << QStringList{kRead};

    QTest::newRow("second occurrence says it repeats")
        << QVector<step>{{0, kRead}, {400, kRead}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead)};

    // 57 suppressed after the first and the "repeating" line, over 5.6 s.
    QVector<step> burst = repeat(kRead, 59, 100);
    burst << step{5000, flushNow};
    QTest::newRow("burst ends: summary with the count")
        << burst
        << QStringList{kRead, logThrottle::repeatingLine(kRead), logThrottle::summaryLine(kRead, 57, 6)};

    QTest::newRow("no summary when nothing was suppressed")
        << QVector<step>{{0, kRead}, {100, kRead}, {5000, flushNow}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead)};

    QTest::newRow("one suppressed repeat reads 1 time")
        << QVector<step>{{0, kRead}, {100, kRead}, {300, kRead}, {5000, flushNow}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead), logThrottle::summaryLine(kRead, 1, 1)};

    QTest::newRow("flush before the quiet gap holds the summary back")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {4999, flushNow}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead)};

    QTest::newRow("after a quiet gap the text is new again")
        << QVector<step>{{0, kRead}, {5000, kRead}, {5000, kRead}}
        << QStringList{kRead, kRead, kRead};

    QTest::newRow("a late repeat brings the summary before it")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, kRead}, {7000, kRead}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead), logThrottle::summaryLine(kRead, 2, 1), kRead};

    // The adapter's line and the poll thread's line alternate; each has its
    // own count, and the summaries come in the order the texts stopped.
    QVector<step> alternating;
    for (int i = 0; i < 10; ++i)
        alternating << step{i == 0 ? 0 : 450, kRead} << step{1, kPoll};
    alternating << step{5000, flushNow};
    QTest::newRow("two alternating texts are each throttled")
        << alternating
        << QStringList{kRead, kPoll, logThrottle::repeatingLine(kRead), logThrottle::repeatingLine(kPoll),
                       logThrottle::summaryLine(kRead, 8, 4), logThrottle::summaryLine(kPoll, 8, 4)};

    QTest::newRow("a new text passes at once during a burst")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, QStringLiteral("ERR:-11:When reading register start from 40016")}}
        << QStringList{kRead, logThrottle::repeatingLine(kRead),
                       QStringLiteral("ERR:-11:When reading register start from 40016")};

    QTest::newRow("an empty text is a text like any other")
        << QVector<step>{{0, QStringLiteral("")}, {10, QStringLiteral("")}}
        << QStringList{QString(), logThrottle::repeatingLine(QString())};
}

void tst_logThrottle::sequences()
{
    QFETCH(QVector<step>, steps);
    QFETCH(QStringList, logged);

    qint64 now = 1000;
    logThrottle throttle([&now] { return now; });
    throttle.setTimes(kGapMs, logThrottle::kDefaultSummaryEveryMs);
    QStringList out;
    for (const step& s : steps) {
        now += s.after;
        out << (s.text.isNull() ? throttle.flush() : throttle.submit(s.text));
    }
    QCOMPARE(out, logged);
}

void tst_logThrottle::dueTimeFollowsTheBursts()
{
    qint64 now = 0;
    logThrottle throttle([&now] { return now; });
    QCOMPARE(throttle.quietGapMs(), logThrottle::kDefaultQuietGapMs);
    throttle.setTimes(kGapMs, logThrottle::kDefaultSummaryEveryMs);
    QCOMPARE(throttle.msUntilDue(), qint64(-1));

    throttle.submit(kRead);
    QCOMPARE(throttle.msUntilDue(), kGapMs);
    now += 1200;
    throttle.submit(kRead);
    QCOMPARE(throttle.msUntilDue(), kGapMs);
    now += 4000;
    QCOMPARE(throttle.msUntilDue(), qint64(1000));
    now += 1000;
    QCOMPARE(throttle.msUntilDue(), qint64(0));
    QCOMPARE(throttle.flush(), QStringList());
    QCOMPARE(throttle.tracked(), 0);
    QCOMPARE(throttle.msUntilDue(), qint64(-1));

    throttle.setTimes(300, 1000);
    throttle.submit(kPoll);
    QCOMPARE(throttle.msUntilDue(), qint64(300));
    QCOMPARE(throttle.quietGapMs(), qint64(300));
    QCOMPARE(throttle.summaryEveryMs(), qint64(1000));

    throttle.reset();
    QCOMPARE(throttle.tracked(), 0);
    QCOMPARE(throttle.submit(kPoll), QStringList{kPoll});
}

void tst_logThrottle::summaryEvery60sWhileItGoesOn()
{
    qint64 now = 0;
    logThrottle throttle([&now] { return now; });
    throttle.setTimes(kGapMs, logThrottle::kDefaultSummaryEveryMs);
    QStringList out = throttle.submit(kRead);
    now += 500;
    out << throttle.submit(kRead);  // counting starts here
    // A failure every 500 ms for three minutes, flushing as the bus's timer would.
    for (int i = 0; i < 360; ++i) {
        now += 500;
        out << throttle.submit(kRead);
        if (throttle.msUntilDue() == 0)
            out << throttle.flush();
    }
    QCOMPARE(out.size(), 5);
    QCOMPARE(out.at(0), kRead);
    QCOMPARE(out.at(1), logThrottle::repeatingLine(kRead));
    QCOMPARE(out.at(2), logThrottle::summaryLine(kRead, 120, 60));
    QCOMPARE(out.at(3), logThrottle::summaryLine(kRead, 120, 60));
    QCOMPARE(out.at(4), logThrottle::summaryLine(kRead, 120, 60));
    QCOMPARE(out.at(2), QStringLiteral("ERR:-8:When reading register start from 40016 (repeated 120 times in 60 s)"));

    now += 5000;
    QCOMPARE(throttle.flush(), QStringList());
    QCOMPARE(throttle.tracked(), 0);
}

void tst_logThrottle::threadsCountEveryOccurrence()
{
    std::atomic<qint64> now{0};
    logThrottle throttle([&now] { return now.load(); });
    std::mutex outMutex;
    QStringList out;
    const int perThread = 500;
    std::vector<std::thread> threads;
    for (const QString& text : {kRead, kPoll}) {
        threads.emplace_back([&, text] {
            for (int i = 0; i < perThread; ++i) {
                const QStringList lines = throttle.submit(text);
                std::lock_guard<std::mutex> lock(outMutex);
                out << lines;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    now += 10000;
    out << throttle.flush();

    for (const QString& text : {kRead, kPoll}) {
        QCOMPARE(out.count(text), 1);
        QCOMPARE(out.count(logThrottle::repeatingLine(text)), 1);
        QCOMPARE(out.count(logThrottle::summaryLine(text, perThread - 2, 1)), 1);
    }
    QCOMPARE(out.size(), 6);
}

void tst_logThrottle::busThrottlesFailuresOnly()
{
    g_consolePrint.throttle().reset();
    LogCapture log;
    for (int i = 0; i < 20; ++i) {
        g_consolePrint.showError(kRead);
        g_consolePrint.showMsg(QStringLiteral("DC is broken."));
        g_consolePrint.showMsg(QStringLiteral("SW ON."));
    }
    QCOMPARE(log.count(kRead), 1);
    QCOMPARE(log.count(logThrottle::repeatingLine(kRead)), 1);
    QCOMPARE(log.lines.size(), 2 + 40);
    QCOMPARE(log.count(QStringLiteral("DC is broken.")), 20);
    QCOMPARE(log.count(QStringLiteral("SW ON.")), 20);
    // The first occurrence is the text itself, unchanged.
    QCOMPARE(log.lines.at(0), kRead);
    g_consolePrint.throttle().reset();
}

void tst_logThrottle::busFlushesSummaryByItself()
{
    g_consolePrint.throttle().reset();
    g_consolePrint.throttle().setTimes(200, 60000);
    LogCapture log;
    // From another thread, as the poll thread reports.
    std::thread poller([] {
        for (int i = 0; i < 12; ++i)
            g_consolePrint.showError(kPoll);
    });
    poller.join();
    // No further occurrence comes: the bus's own timer logs the summary.
    QTRY_COMPARE(log.count(logThrottle::summaryLine(kPoll, 10, 1)), 1);
    QCOMPARE(log.lines, (QStringList{kPoll, logThrottle::repeatingLine(kPoll), logThrottle::summaryLine(kPoll, 10, 1)}));
    QTRY_COMPARE(g_consolePrint.throttle().tracked(), 0);

    // And again after it went quiet: the timer is armed anew.
    log.clear();
    g_consolePrint.showError(kPoll);
    g_consolePrint.showError(kPoll);
    g_consolePrint.showError(kPoll);
    QTRY_COMPARE(log.count(logThrottle::summaryLine(kPoll, 1, 1)), 1);
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

QR_TEST_MAIN(tst_logThrottle)
#include "tst_logthrottle.moc"
