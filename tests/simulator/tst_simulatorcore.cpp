// The simulator's core with a clock the test holds: when answers leave (at
// once, after their wire time, after a fault delay), the battery clock, and
// the answers to operator commands.
#include <QtTest>

#include "rtuframe.h"
#include "simulatorcore.h"
#include "testenv.h"

using namespace qr7215sim;
using namespace std::chrono;
using clk = simulatorCore::clock;

namespace {

std::vector<uint8_t> frame(const QByteArray& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    std::vector<uint8_t> f(raw.begin(), raw.end());
    appendCrc(f);
    return f;
}

// Reading 20 registers from 40016: 8 bytes out, 45 back.
const QByteArray kStatusRead("010300100014");

std::string run(simulatorCore& core, const std::string& line, clk::time_point t)
{
    bool quit = false;
    return core.command(line, t, quit);
}

} // namespace

class tst_simulatorCore : public QObject
{
    Q_OBJECT

private slots:
    void answersAtOnceWithoutABaudRate();
    void answersAfterTheirWireTime();
    void faultDelayHoldsAnswersBack();
    void twoRequestsKeepTheirOrder();
    void batteryFollowsTheClock();
    void commandAnswers_data();
    void commandAnswers();
    void quitIsAnsweredAndFlagged();
};

void tst_simulatorCore::answersAtOnceWithoutABaudRate()
{
    simulatorCore core(1, 0);
    const auto t = clk::now();
    const std::vector<uint8_t> req = frame(kStatusRead);
    core.receive(req.data(), req.size(), t);
    const std::vector<uint8_t> answer = core.poll(t);
    QCOMPARE(answer.size(), size_t(45));
    QVERIFY(crcValid(answer));
    QCOMPARE(int(answer[3] << 8 | answer[4]), 24000);
    QVERIFY(!core.nextWake());
}

void tst_simulatorCore::answersAfterTheirWireTime()
{
    simulatorCore core(1, 9600);
    const auto t = clk::now();
    const std::vector<uint8_t> req = frame(kStatusRead);
    core.receive(req.data(), req.size(), t);
    QVERIFY(core.poll(t).empty());
    QVERIFY(core.nextWake().has_value());
    QCOMPARE(duration_cast<microseconds>(*core.nextWake() - t).count(), 62500);
    QVERIFY(core.poll(t + microseconds(62400)).empty());
    QCOMPARE(core.poll(t + microseconds(62500)).size(), size_t(45));
}

void tst_simulatorCore::faultDelayHoldsAnswersBack()
{
    simulatorCore core(1, 0);
    const auto t = clk::now();
    QCOMPARE(run(core, "fault delay 300", t), std::string("ok"));
    const std::vector<uint8_t> req = frame(kStatusRead);
    core.receive(req.data(), req.size(), t);
    QVERIFY(core.poll(t).empty());
    QCOMPARE(run(core, "pending", t), std::string("1"));
    // Clearing the fault does not call back an answer already on its way.
    QCOMPARE(run(core, "fault none", t), std::string("ok"));
    QVERIFY(core.poll(t + milliseconds(299)).empty());
    QCOMPARE(core.poll(t + milliseconds(300)).size(), size_t(45));
    QCOMPARE(run(core, "pending", t), std::string("0"));
}

void tst_simulatorCore::twoRequestsKeepTheirOrder()
{
    simulatorCore core(1, 0);
    const auto t = clk::now();
    QCOMPARE(run(core, "fault delay 100", t), std::string("ok"));
    const std::vector<uint8_t> first = frame("010300280001");   // 40040
    const std::vector<uint8_t> second = frame("010300290001");  // 40041
    core.receive(first.data(), first.size(), t);
    QVERIFY(core.poll(t).empty());
    core.receive(second.data(), second.size(), t + milliseconds(50));
    QVERIFY(core.poll(t + milliseconds(50)).empty());
    QCOMPARE(run(core, "requests", t), std::string("2"));
    const std::vector<uint8_t> out = core.poll(t + milliseconds(200));
    QCOMPARE(out.size(), size_t(14));
    QCOMPARE(int(out[3] << 8 | out[4]), 0x7215);
    QCOMPARE(int(out[10] << 8 | out[11]), 102);
}

void tst_simulatorCore::batteryFollowsTheClock()
{
    simulatorCore core(1, 0);
    const auto t = clk::now();
    QCOMPARE(run(core, "power fail", t), std::string("ok"));
    QCOMPARE(*core.nextWake(), t + simulatorCore::kBatteryStep);
    core.poll(t + seconds(1));
    QCOMPARE(run(core, "get 40026", t), std::string("100"));
    core.poll(t + seconds(2));
    QCOMPARE(run(core, "get 40026", t), std::string("99"));
    core.poll(t + seconds(10));  // a late wake-up catches up
    QCOMPARE(run(core, "get 40026", t), std::string("95"));

    QCOMPARE(run(core, "power restore", t + seconds(10)), std::string("ok"));
    core.poll(t + seconds(14));
    QCOMPARE(run(core, "get 40026", t), std::string("97"));
    QCOMPARE(run(core, "get 40028", t), std::string("1"));
}

void tst_simulatorCore::commandAnswers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("answer");
    QTest::newRow("get a default") << "get 40041" << "102";
    QTest::newRow("set") << "set 40016 23000" << "ok";
    QTest::newRow("fault") << "fault exception 4" << "ok";
    QTest::newRow("requests at start") << "requests" << "0";
    QTest::newRow("refused line") << "get 40036" << "error: register 40036 does not exist";
    QTest::newRow("unknown") << "hello" << "error: unknown command \"hello\"";
}

void tst_simulatorCore::commandAnswers()
{
    QFETCH(QString, line);
    QFETCH(QString, answer);
    simulatorCore core(1, 0);
    QCOMPARE(QString::fromStdString(run(core, line.toStdString(), clk::now())), answer);
}

void tst_simulatorCore::quitIsAnsweredAndFlagged()
{
    simulatorCore core(1, 0);
    bool quit = false;
    QCOMPARE(core.command("get 40000", clk::now(), quit), std::string("1"));
    QVERIFY(!quit);
    QCOMPARE(core.command("quit", clk::now(), quit), std::string("ok"));
    QVERIFY(quit);
}

QR_TEST_GUILESS_MAIN(tst_simulatorCore)
#include "tst_simulatorcore.moc"
