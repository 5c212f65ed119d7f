// When the post-process script runs around a power event: whole power losses
// as rows, each a list of blocks, clock ticks and operator actions, decoded
// by the real status decoder and answered by the policy, without waiting.
#include "powereventpolicy.h"
#include "testenv.h"

using namespace statusDecoder;

namespace {

// "<ms> block dc=0 level=15 runtime=7 sw=1 [busy]", "<ms> tick [busy]",
// "cancel", "test [busy]", "<ms> left". Unnamed registers keep the value of
// the step before; the first block starts with DC present, level 100 and
// runtime 60.
struct driver
{
    powerEventPolicy policy;
    edgeState edges;
    block registers{};
    QStringList seen;

    driver()
    {
        registers[kDcOk] = 1;
        registers[kBatteryLevel] = 100;
        registers[kRuntime] = 60;
    }

    void record(const powerEventPolicy::decisions& ds)
    {
        using decision = powerEventPolicy::decision;
        for (const decision& d : ds)
            seen << (d.what == decision::Start ? QStringLiteral("start %1 at %2 %")
                                                     .arg(scriptEventName(d.event))
                                                     .arg(d.registers[kBatteryLevel])
                     : d.what == decision::Log          ? d.text
                     : d.what == decision::DelayStarted ? QStringLiteral("countdown")
                                                        : QStringLiteral("countdown over"));
    }

    void step(const QString& text)
    {
        QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool hasTime = false;
        const qint64 now = words.first().toLongLong(&hasTime);
        if (hasTime)
            words.removeFirst();
        const QString kind = words.takeFirst();
        const bool busy = words.removeAll(QStringLiteral("busy")) > 0;
        if (kind == QLatin1String("block")) {
            for (const QString& w : qAsConst(words)) {
                const QStringList kv = w.split(QLatin1Char('='));
                const int offset = kv[0] == QLatin1String("dc") ? kDcOk
                                   : kv[0] == QLatin1String("level") ? kBatteryLevel
                                   : kv[0] == QLatin1String("runtime") ? kRuntime
                                                                       : kSw;
                registers[static_cast<size_t>(offset)] = static_cast<quint16>(kv[1].toUInt());
            }
            const update u = decode(registers, edges);
            edges = u.state;
            record(policy.onBlock(registers, u, now, busy));
        } else if (kind == QLatin1String("tick")) {
            record(policy.onTick(now, busy));
        } else if (kind == QLatin1String("cancel")) {
            record(policy.cancelPending());
        } else if (kind == QLatin1String("test")) {
            record(policy.testRun(busy));
        } else if (kind == QLatin1String("left")) {
            seen << QStringLiteral("left %1").arg(policy.secondsLeft(now));
        } else {
            QTest::qFail(qPrintable("unknown step " + text), __FILE__, __LINE__);
        }
    }
};

const QString kPending30 = QStringLiteral("Post-process script pending: it runs in 30 s unless DC returns.");

} // namespace

class tst_powerEventPolicy : public QObject
{
    Q_OBJECT
private slots:
    void decisions_data();
    void decisions();
};

void tst_powerEventPolicy::decisions_data()
{
    QTest::addColumn<quint32>("policy");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("lowLevel");
    QTest::addColumn<int>("lowRuntime");
    QTest::addColumn<bool>("onRestore");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");

    // Defaults: what the program did before these settings.
    QTest::newRow("defaults, DC_OK policy: the script at the loss, nothing when DC returns")
        << 1u << 0 << 0 << 0 << false
        << QStringList{"0 block dc=1", "100 block dc=0 level=90", "200 block dc=0 level=5 runtime=1",
                       "300 block dc=1", "99999 tick"}
        << QStringList{"start DC_LOST at 90 %"};
    QTest::newRow("defaults, NULL policy: never, whatever the battery")
        << 0u << 0 << 0 << 0 << false << QStringList{"0 block dc=1", "100 block dc=0 level=1 runtime=0", "200 block dc=1"}
        << QStringList{};
    QTest::newRow("SW policy: at SW on only, thresholds ignored")
        << 2u << 30 << 20 << 0 << true
        << QStringList{"0 block dc=1", "100 block dc=0 level=10", "200 block sw=1", "300 block sw=0", "400 block sw=1",
                       "99999 tick"}
        << QStringList{"start SW_ON at 10 %", "start SW_ON at 10 %"};

    // The grace delay.
    QTest::newRow("delay: DC returns first, nothing runs and the wait is told")
        << 1u << 30 << 0 << 0 << true
        << QStringList{"0 block dc=1", "1000 block dc=0", "13999 block dc=1", "40000 tick"}
        << QStringList{kPending30, "countdown", "Post-process script cancelled: DC returned after 12 s.",
                       "countdown over"};
    QTest::newRow("delay runs out: DC_LOST with the last block, even with no block since")
        << 1u << 30 << 0 << 0 << false
        << QStringList{"0 block dc=0 level=95", "1000 block level=88", "1000 left", "29999 left", "29999 tick",
                       "30000 tick", "30000 left", "31000 tick"}
        << QStringList{kPending30, "countdown", "left 29", "left 1", "countdown over", "start DC_LOST at 88 %",
                       "left -1"};
    QTest::newRow("operator cancels: no run at the end of the delay")
        << 1u << 30 << 0 << 0 << false << QStringList{"0 block dc=0", "5000 cancel", "5000 left", "30000 tick", "31000 cancel"}
        << QStringList{kPending30, "countdown", "Post-process script cancelled by the operator.", "countdown over",
                       "left -1"};

    // Thresholds, once per loss.
    QTest::newRow("battery level reaches the threshold before the delay ends")
        << 1u << 30 << 20 << 0 << false
        << QStringList{"0 block dc=0 level=50", "5000 block level=21", "6000 block level=20", "7000 block level=10",
                       "30000 tick"}
        << QStringList{kPending30, "countdown", "Battery level 20 % is at or below 20 %.", "start BATTERY_LOW at 20 %",
                       "countdown over"};
    QTest::newRow("runtime estimate reaches its threshold before the delay ends")
        << 1u << 30 << 0 << 5 << false
        << QStringList{"0 block dc=0 runtime=6", "100 block runtime=5", "200 block runtime=4"}
        << QStringList{kPending30, "countdown", "Runtime estimate 5 min is at or below 5 min.",
                       "start RUNTIME_LOW at 100 %", "countdown over"};
    QTest::newRow("once per loss: a threshold after the run at the loss runs nothing")
        << 1u << 0 << 20 << 5 << false << QStringList{"0 block dc=0 level=50", "100 block level=10 runtime=1"}
        << QStringList{"start DC_LOST at 50 %"};
    QTest::newRow("a threshold while DC is present runs nothing")
        << 1u << 0 << 20 << 0 << false << QStringList{"0 block dc=1 level=15"} << QStringList{};
    QTest::newRow("every loss is a loss of its own")
        << 1u << 0 << 0 << 0 << false
        << QStringList{"0 block dc=0 level=80", "100 block dc=1", "200 block dc=0 level=70"}
        << QStringList{"start DC_LOST at 80 %", "start DC_LOST at 70 %"};

    // DC returns.
    QTest::newRow("restore run after a loss that ran the script")
        << 1u << 0 << 0 << 0 << true << QStringList{"0 block dc=0 level=80", "100 block dc=1 level=81", "200 block dc=1"}
        << QStringList{"start DC_LOST at 80 %", "start DC_RESTORED at 81 %"};
    QTest::newRow("no restore run after a loss the delay outlasted")
        << 1u << 30 << 0 << 0 << true << QStringList{"0 block dc=0", "2000 block dc=1"}
        << QStringList{kPending30, "countdown", "Post-process script cancelled: DC returned after 2 s.",
                       "countdown over"};
    QTest::newRow("restore run after a threshold run")
        << 1u << 30 << 20 << 0 << true << QStringList{"0 block dc=0 level=15", "100 block dc=1"}
        << QStringList{kPending30, "countdown", "Battery level 15 % is at or below 20 %.", "start BATTERY_LOW at 15 %",
                       "countdown over", "start DC_RESTORED at 15 %"};

    // A script still running.
    QTest::newRow("start dropped at the loss is logged, and no restore run follows")
        << 1u << 0 << 0 << 0 << true << QStringList{"0 block dc=0 busy", "100 block dc=1"}
        << QStringList{"Post-process script not started for DC_LOST: the previous run has not ended."};
    QTest::newRow("start dropped at the end of the delay is logged")
        << 1u << 30 << 0 << 0 << false << QStringList{"0 block dc=0", "30000 tick busy"}
        << QStringList{kPending30, "countdown", "countdown over",
                       "Post-process script not started for DC_LOST: the previous run has not ended."};
    QTest::newRow("threshold held while busy: logged once, run when the runner is free")
        << 1u << 0 << 20 << 0 << false
        << QStringList{"0 block dc=1", "10 block dc=0 busy", "20 block level=15 busy", "30 block busy",
                       "40 block", "50 block"}
        << QStringList{"Post-process script not started for DC_LOST: the previous run has not ended.",
                       "Battery level 15 % is at or below 20 %.",
                       "Post-process script not started for BATTERY_LOW: the previous run has not ended.",
                       "Battery level 15 % is at or below 20 %.", "start BATTERY_LOW at 15 %"};
    QTest::newRow("test run: with the last block, dropped while busy")
        << 0u << 0 << 0 << 0 << false << QStringList{"0 block dc=1 level=64", "test", "test busy"}
        << QStringList{"start TEST at 64 %", "Post-process script not started for TEST: the previous run has not ended."};
}

void tst_powerEventPolicy::decisions()
{
    QFETCH(quint32, policy);
    QFETCH(int, delay);
    QFETCH(int, lowLevel);
    QFETCH(int, lowRuntime);
    QFETCH(bool, onRestore);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);

    driver d;
    d.policy.setSettings({policy, delay, lowLevel, lowRuntime, onRestore});
    for (const QString& s : steps)
        d.step(s);
    QCOMPARE(d.seen, expected);
}

QTEST_GUILESS_MAIN(tst_powerEventPolicy)
#include "tst_powereventpolicy.moc"
