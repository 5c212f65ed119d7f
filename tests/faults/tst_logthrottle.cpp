// The failure-line throttle against a stepped clock, and the message bus's
// two roads: failure lines throttled, event lines never.
#include "consoleprint.h"
#include "logcapture.h"
#include "logthrottle.h"
#include "testenv.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 kGapMs = 5000;
const QString kRead = QStringLiteral("ERR:-8:When reading register start from 40016");
const QString kPoll = QStringLiteral("Read error: -8");
const QString kOther = QStringLiteral("ERR:-11:When reading register start from 40016");

// Advance the clock by `after` ms, then submit `text`, or flush when it is null.
struct step {
    qint64 after;
    QString text;
};

QVector<step> repeat(const QString& text, int times, qint64 every)
{
    QVector<step> steps;
    for (int i = 0; i < times; ++i)
        steps << step{i == 0 ? 0 : every, text};
    return steps;
}

QString again(const QString& text)
{
    return logThrottle::repeatingLine(text);
}

} // namespace

Q_DECLARE_METATYPE(QVector<step>)

class tst_logThrottle : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();
    void threadsCountEveryOccurrence();
    void busThrottlesFailuresOnlyAndFlushesByItself();
};

void tst_logThrottle::sequences_data()
{
    QTest::addColumn<QVector<step>>("steps");
    QTest::addColumn<QStringList>("logged");
    // msUntilDue() after the last step: when the bus's timer must fire.
    QTest::addColumn<qint64>("due");

    const QString flush;
    QTest::newRow("one failure is one line") << QVector<step>{{0, kRead}, {6000, flush}} << QStringList{kRead}
                                             << qint64(-1);
    QTest::newRow("second occurrence says it repeats")
        << QVector<step>{{0, kRead}, {400, kRead}} << QStringList{kRead, again(kRead)} << kGapMs;
    // 57 suppressed after the first and the "repeating" line, over 5.6 s.
    QTest::newRow("burst ends: summary with the count")
        << (repeat(kRead, 59, 100) << step{5000, flush})
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 57, 6)} << qint64(-1);
    QTest::newRow("no summary when nothing was suppressed")
        << QVector<step>{{0, kRead}, {100, kRead}, {5000, flush}} << QStringList{kRead, again(kRead)} << qint64(-1);
    QTest::newRow("one suppressed repeat reads 1 time")
        << QVector<step>{{0, kRead}, {100, kRead}, {300, kRead}, {5000, flush}}
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 1, 1)} << qint64(-1);
    QTest::newRow("flush before the quiet gap holds the summary back")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {4999, flush}} << QStringList{kRead, again(kRead)}
        << qint64(1);
    QTest::newRow("after a quiet gap the text is new again")
        << QVector<step>{{0, kRead}, {5000, kRead}, {5000, kRead}} << QStringList{kRead, kRead, kRead} << kGapMs;
    QTest::newRow("a late repeat brings the summary before it")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, kRead}, {7000, kRead}}
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 2, 1), kRead} << kGapMs;
    // Each text its own count; the summaries in the order the texts stopped.
    QVector<step> alternating;
    for (int i = 0; i < 10; ++i)
        alternating << step{i == 0 ? 0 : 450, kRead} << step{1, kPoll};
    QTest::newRow("two alternating texts are each throttled")
        << (alternating << step{5000, flush})
        << QStringList{kRead, kPoll, again(kRead), again(kPoll), logThrottle::summaryLine(kRead, 8, 4),
                       logThrottle::summaryLine(kPoll, 8, 4)}
        << qint64(-1);
    QTest::newRow("a new text passes at once during a burst")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, kOther}}
        << QStringList{kRead, again(kRead), kOther} << kGapMs - 100;
    // A failure every 500 ms for three minutes: counting starts at the second.
    QTest::newRow("a summary every 60 s while it goes on")
        << (repeat(kRead, 362, 500) << step{5000, flush})
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 120, 60),
                       logThrottle::summaryLine(kRead, 120, 60), logThrottle::summaryLine(kRead, 120, 60)}
        << qint64(-1);
}

void tst_logThrottle::sequences()
{
    QFETCH(QVector<step>, steps);
    QFETCH(QStringList, logged);
    QFETCH(qint64, due);

    qint64 now = 1000;
    logThrottle throttle([&now] { return now; });
    throttle.setTimes(kGapMs, logThrottle::kDefaultSummaryEveryMs);
    QStringList out;
    for (const step& s : steps) {
        now += s.after;
        out << (s.text.isNull() ? throttle.flush() : throttle.submit(s.text));
        // As the bus's timer would.
        if (throttle.msUntilDue() == 0)
            out << throttle.flush();
    }
    QCOMPARE(out, logged);
    QCOMPARE(throttle.msUntilDue(), due);
}

void tst_logThrottle::threadsCountEveryOccurrence()
{
    std::atomic<qint64> now{0};
    logThrottle throttle([&now] { return now.load(); });
    std::mutex outMutex;
    QStringList out;
    const auto submit500 = [&](const QString& text) {
        for (int i = 0; i < 500; ++i) {
            const QStringList lines = throttle.submit(text);
            std::lock_guard<std::mutex> lock(outMutex);
            out << lines;
        }
    };
    std::thread reader(submit500, kRead);
    std::thread poller(submit500, kPoll);
    reader.join();
    poller.join();
    now += 10000;
    out << throttle.flush();
    out.sort();
    QStringList expected{kRead, again(kRead), logThrottle::summaryLine(kRead, 498, 1),
                         kPoll, again(kPoll), logThrottle::summaryLine(kPoll, 498, 1)};
    expected.sort();
    QCOMPARE(out, expected);
}

void tst_logThrottle::busThrottlesFailuresOnlyAndFlushesByItself()
{
    g_consolePrint.throttle().reset();
    g_consolePrint.throttle().setTimes(200, 60000);
    const QString event = QStringLiteral("DC is broken.");
    LogCapture log;
    // From another thread, as the poll thread reports.
    std::thread poller([&event] {
        for (int i = 0; i < 12; ++i) {
            g_consolePrint.showError(kPoll);
            g_consolePrint.showMsg(event);
        }
    });
    poller.join();
    // No further occurrence comes: the bus's own timer logs the summary.
    const QString summary = logThrottle::summaryLine(kPoll, 10, 1);
    QTRY_COMPARE(log.count(summary), 1);
    QCOMPARE(log.count(event), 12);
    QCOMPARE(log.lines.filter(QStringLiteral("Read error")), (QStringList{kPoll, again(kPoll), summary}));
    QTRY_COMPARE(g_consolePrint.throttle().tracked(), 0);

    // And again once it went quiet: the timer is armed anew.
    for (int i = 0; i < 3; ++i)
        g_consolePrint.showError(kPoll);
    QTRY_COMPARE(log.count(logThrottle::summaryLine(kPoll, 1, 1)), 1);
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

QR_TEST_MAIN(tst_logThrottle)
#include "tst_logthrottle.moc"
