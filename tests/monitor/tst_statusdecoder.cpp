// The status block decoding and the DC_OK / SW edge decisions, without a window.
#include "statusdecoder.h"
#include "testenv.h"

using namespace statusDecoder;

Q_DECLARE_METATYPE(statusDecoder::block)

namespace {

const QString kInfinitySec = QString(QChar(0x221E)) + QStringLiteral(" Sec.");

block makeBlock(std::initializer_list<std::pair<int, quint16>> registers)
{
    block b{};
    for (const auto& r : registers)
        b[r.first - 40016] = r.second;
    return b;
}

// One step's outcome in a form that compares easily.
struct outcome
{
    QStringList logs;
    QList<bool> emits;
    int scripts = 0;
    QStringList order;   // "log:...", "emit:true", "script"
};

outcome collect(const update& u)
{
    outcome o;
    for (const action& a : u.actions) {
        switch (a.what) {
        case action::Log:
            o.logs << a.text;
            o.order << QStringLiteral("log:") + a.text;
            break;
        case action::EmitDcOk:
            o.emits << a.state;
            o.order << (a.state ? QStringLiteral("emit:true") : QStringLiteral("emit:false"));
            break;
        case action::StartScript:
            ++o.scripts;
            o.order << QStringLiteral("script");
            break;
        }
    }
    return o;
}

} // namespace

class tst_statusDecoder : public QObject
{
    Q_OBJECT
private slots:
    void labels_data();
    void labels();
    void leds_data();
    void leds();
    void edges_data();
    void edges();
    void scriptGoesBeforeTheBrokenLine();
    void blankDisplay();
};

void tst_statusDecoder::labels_data()
{
    QTest::addColumn<block>("registers");
    QTest::addColumn<QString>("voltageInput");
    QTest::addColumn<QString>("voltageOutput");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("charging");   // empty: label left as it is
    QTest::addColumn<QString>("supply");     // empty: label left as it is

    QTest::newRow("source 1 level 37: DC, Charging")
        << makeBlock({{40016, 24000}, {40018, 12000}, {40026, 37}, {40027, 1}})
        << "24000mV" << "12000mV" << 37 << "Charging" << "DC";
    QTest::newRow("source 1 level 99: still Charging")
        << makeBlock({{40026, 99}, {40027, 1}}) << "0mV" << "0mV" << 99 << "Charging" << "DC";
    QTest::newRow("source 1 level 100: Charge Full")
        << makeBlock({{40026, 100}, {40027, 1}}) << "0mV" << "0mV" << 100 << "Charge Full" << "DC";
    QTest::newRow("source 1 level 150: charging unchanged, level passed on")
        << makeBlock({{40026, 150}, {40027, 1}}) << "0mV" << "0mV" << 150 << "" << "DC";
    QTest::newRow("source 2: UPS, Discharging")
        << makeBlock({{40026, 60}, {40027, 2}}) << "0mV" << "0mV" << 60 << "Discharging" << "UPS";
    QTest::newRow("source 2 level 100: Discharging")
        << makeBlock({{40026, 100}, {40027, 2}}) << "0mV" << "0mV" << 100 << "Discharging" << "UPS";
    QTest::newRow("source 0 leaves both labels")
        << makeBlock({{40026, 50}, {40027, 0}}) << "0mV" << "0mV" << 50 << "" << "";
    QTest::newRow("source 3 leaves both labels")
        << makeBlock({{40026, 50}, {40027, 3}}) << "0mV" << "0mV" << 50 << "" << "";
    QTest::newRow("largest voltages in plain decimal")
        << makeBlock({{40016, 65535}, {40018, 1}, {40027, 1}, {40026, 0}})
        << "65535mV" << "1mV" << 0 << "Charging" << "DC";
    QTest::newRow("neighbouring registers are not shown")
        << makeBlock({{40017, 111}, {40019, 222}, {40025, 333}, {40016, 5}, {40018, 6}})
        << "5mV" << "6mV" << 0 << "" << "";
}

void tst_statusDecoder::labels()
{
    QFETCH(block, registers);
    QFETCH(QString, voltageInput);
    QFETCH(QString, voltageOutput);
    QFETCH(int, level);
    QFETCH(QString, charging);
    QFETCH(QString, supply);

    const update u = decode(registers, edgeState(), kPolicyNone);
    QCOMPARE(u.shown.voltageInput, voltageInput);
    QCOMPARE(u.shown.voltageOutput, voltageOutput);
    QCOMPARE(u.shown.batteryLevel, level);
    QCOMPARE(u.shown.chargingStatus, charging);
    QCOMPARE(u.shown.powerSupply, supply);
}

void tst_statusDecoder::leds_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<quint16>("value");
    QTest::addColumn<QString>("lit");   // the one LED expected on, empty for none

    QTest::newRow("40028 DC_OK 1") << 40028 << quint16(1) << "dcOk";
    QTest::newRow("40029 Bat.Mode 7") << 40029 << quint16(7) << "batMode";
    QTest::newRow("40030 Bat.Ready 1") << 40030 << quint16(1) << "batReady";
    QTest::newRow("40031 SW 5") << 40031 << quint16(5) << "sw";
    QTest::newRow("40032 Remote 65535") << 40032 << quint16(65535) << "remote";
    QTest::newRow("40033 Bat.Start 1") << 40033 << quint16(1) << "batStart";
    QTest::newRow("40034 Dev.PSts 2") << 40034 << quint16(2) << "devSts";
    QTest::newRow("all zero: all dark") << 40028 << quint16(0) << "";
    QTest::newRow("40027 power source does not light an LED") << 40027 << quint16(1) << "";
}

void tst_statusDecoder::leds()
{
    QFETCH(int, reg);
    QFETCH(quint16, value);
    QFETCH(QString, lit);
    const view v = decode(makeBlock({{reg, value}}), edgeState(), kPolicyNone).shown;
    const QMap<QString, bool> states{{"dcOk", v.dcOk},       {"batMode", v.batMode},   {"batReady", v.batReady},
                                     {"sw", v.sw},           {"remote", v.remote},     {"batStart", v.batStart},
                                     {"devSts", v.devSts}};
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        QVERIFY2(it.value() == (it.key() == lit), qPrintable(it.key()));
}

void tst_statusDecoder::edges_data()
{
    QTest::addColumn<quint32>("policy");
    QTest::addColumn<QList<int>>("dc");
    QTest::addColumn<QList<int>>("sw");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QList<bool>>("emits");
    QTest::addColumn<QList<int>>("scriptSteps");   // the steps that start the script

    const QList<int> dcSeq{1, 1, 0, 0, 1};
    const QList<int> dcSteadyOne{1, 1, 1, 1, 1};
    const QList<int> swSeq{0, 5, 5, 0, 0};
    const QList<int> swZero{0, 0, 0, 0, 0};
    const QStringList dcLogs{"DC is connected.", "DC is broken.", "DC is connected."};
    const QList<bool> dcEmits{true, false, true};
    const QStringList swLogs{"DC is connected.", "SW ON.", "SW OFF."};

    for (quint32 policy : {0u, 1u, 2u}) {
        const QByteArray p = QByteArray::number(policy);
        QTest::newRow("DC 1,1,0,0,1 policy " + p)
            << policy << dcSeq << swZero << dcLogs << dcEmits
            << (policy == 1 ? QList<int>{2} : QList<int>{});
        QTest::newRow("SW 0,5,5,0 policy " + p)
            << policy << dcSteadyOne << swSeq << swLogs << QList<bool>{true}
            << (policy == 2 ? QList<int>{1} : QList<int>{});
        // The state before the first block is unknown: a start on battery,
        // or with SW already on, is reported and acted on.
        QTest::newRow("start on battery, DC 0,0,1 policy " + p)
            << policy << QList<int>{0, 0, 1} << QList<int>{0, 0, 0}
            << QStringList{"DC is broken.", "DC is connected."} << QList<bool>{false, true}
            << (policy == 1 ? QList<int>{0} : QList<int>{});
        QTest::newRow("start with SW on, SW 5,5,0 policy " + p)
            << policy << QList<int>{1, 1, 1} << QList<int>{5, 5, 0}
            << QStringList{"DC is connected.", "SW ON.", "SW OFF."} << QList<bool>{true}
            << (policy == 2 ? QList<int>{0} : QList<int>{});
    }
    QTest::newRow("SW changing between non-zero values says nothing")
        << 2u << dcSteadyOne << QList<int>{3, 7, 3, 7, 1} << QStringList{"DC is connected.", "SW ON."}
        << QList<bool>{true} << QList<int>{0};
    QTest::newRow("DC changing between non-zero values says nothing")
        << 1u << QList<int>{1, 2, 9, 2, 1} << swZero << QStringList{"DC is connected."} << QList<bool>{true}
        << QList<int>{};
    QTest::newRow("both edges in one block: DC first")
        << 1u << QList<int>{1, 0, 0, 0, 0} << QList<int>{0, 1, 1, 1, 1}
        << QStringList{"DC is connected.", "DC is broken.", "SW ON."} << QList<bool>{true, false} << QList<int>{1};
    QTest::newRow("policy 3 starts nothing")
        << 3u << QList<int>{1, 0, 0, 0, 0} << QList<int>{0, 1, 1, 1, 1}
        << QStringList{"DC is connected.", "DC is broken.", "SW ON."} << QList<bool>{true, false} << QList<int>{};
}

void tst_statusDecoder::edges()
{
    QFETCH(quint32, policy);
    QFETCH(QList<int>, dc);
    QFETCH(QList<int>, sw);
    QFETCH(QStringList, logs);
    QFETCH(QList<bool>, emits);
    QFETCH(QList<int>, scriptSteps);

    edgeState state;
    QStringList allLogs;
    QList<bool> allEmits;
    QList<int> starts;
    for (int i = 0; i < dc.size(); ++i) {
        const update u = decode(makeBlock({{40028, quint16(dc[i])}, {40031, quint16(sw[i])}}), state, policy);
        const outcome o = collect(u);
        allLogs << o.logs;
        allEmits << o.emits;
        for (int n = 0; n < o.scripts; ++n)
            starts << i;
        QCOMPARE(u.state.lastDcOk, quint16(dc[i] ? (state.lastDcOk ? state.lastDcOk : dc[i]) : 0));
        QCOMPARE(u.shown.dcOk, dc[i] != 0);
        QCOMPARE(u.shown.sw, sw[i] != 0);
        state = u.state;
    }
    QCOMPARE(allLogs, logs);
    QCOMPARE(allEmits, emits);
    QCOMPARE(starts, scriptSteps);
}

void tst_statusDecoder::scriptGoesBeforeTheBrokenLine()
{
    edgeState connected;
    connected.lastDcOk = 1;
    connected.known = true;
    const outcome o = collect(decode(makeBlock({{40028, 0}}), connected, kPolicyDcLost));
    QCOMPARE(o.order, (QStringList{"script", "log:DC is broken.", "emit:false"}));

    edgeState off;
    off.known = true;
    const outcome on = collect(decode(makeBlock({{40031, 4}}), off, kPolicySwOn));
    QCOMPARE(on.order, (QStringList{"log:SW ON.", "script"}));
}

void tst_statusDecoder::blankDisplay()
{
    const view v = blank();
    QCOMPARE(v.voltageInput, QStringLiteral("0mV"));
    QCOMPARE(v.voltageOutput, QStringLiteral("0mV"));
    QCOMPARE(v.batteryLevel, 0);
    QCOMPARE(v.chargingStatus, QStringLiteral("NULL"));
    QCOMPARE(v.powerSupply, QStringLiteral("NULL"));
    QCOMPARE(v.policyMode, QStringLiteral("NULL"));
    QVERIFY(!v.dcOk && !v.batMode && !v.batReady && !v.sw && !v.remote && !v.batStart && !v.devSts);
}

QR_TEST_GUILESS_MAIN(tst_statusDecoder)
#include "tst_statusdecoder.moc"
