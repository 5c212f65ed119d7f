// The status block's decoding and the poll thread against the fake device
// library; the status page only where it adds to the decoder (the labels a
// block leaves alone, the poll period, the power-event settings acted on with
// a real script while another tab is current); the trend samples.
#include "batthread.h"
#include "childprocess.h"
#include "eventlogfile.h"
#include "fakelink.h"
#include "logcapture.h"
#include "monitorthread.h"
#include "nutdatafile.h"
#include "pageprobe.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "statusdecoder.h"
#include "testenv.h"
#include "trendbuffer.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <csignal>
#include <unistd.h>

using probe = statusMonitorWidgetProbe;
using namespace statusDecoder;

namespace {

// "40026=37 40027=1": registers by number, the rest zero.
block parse(const QString& text)
{
    block b{};
    for (const QString& reg : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = reg.split(QLatin1Char('='));
        b[kv[0].toInt() - QR7215_STATUS_BLOCK_START] = kv[1].toUShort();
    }
    return b;
}

// "in | out | level | charging | supply | lit LEDs | policy mode"; "-" for a
// label the block leaves as it is.
QString shown(const view& v)
{
    const bool on[] = {v.dcOk, v.batMode, v.batReady, v.sw, v.remote, v.batStart, v.devSts};
    const char* const names[] = {"DC_OK", "Bat.Mode", "Bat.Ready", "SW", "Remote", "Bat.Start", "Dev.PSts"};
    QStringList lit;
    for (int i = 0; i < 7; ++i)
        if (on[i])
            lit << QLatin1String(names[i]);
    const auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    return QStringList{v.voltageInput, v.voltageOutput, QString::number(v.batteryLevel), orDash(v.chargingStatus),
                       orDash(v.powerSupply), lit.join(QLatin1Char('+')), v.policyMode}
        .join(QStringLiteral(" | "));
}

QString detailsShown(const details& d)
{
    return QStringList{d.inputCurrent, d.outputCurrent, d.batteryVoltage, d.batteryCurrent, d.temperature, d.runtime,
                       d.alarms}
        .join(QStringLiteral(" | "));
}

} // namespace

class tst_statusMonitor : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { fakeLink::closeAny(); }
    void decode_data();
    void decode();
    void trendKeepsOneSampleASecondForAnHour_data();
    void trendKeepsOneSampleASecondForAnHour();
    void trendExportsItsSamples();
    void stopEndsThePoll_data();
    void stopEndsThePoll();
    void watchGoesOnWhileItsTabIsNotCurrent();
    void pollPeriodTakesEffectAtNextStart();
    void delayAndRestoreOnAnotherTab();
    void feedsNutAsTheStoreSays();
    void edgeLineIsOnDiskWhenTheScriptStarts_data();
    void edgeLineIsOnDiskWhenTheScriptStarts();
};

void tst_statusMonitor::decode_data()
{
    QTest::addColumn<QStringList>("blocks");
    QTest::addColumn<QString>("last");        // what the last block shows
    QTest::addColumn<QStringList>("trace");   // "step:log line", "step:DC_OK on|off"

    const QStringList onDc{"0:DC is connected.", "0:DC_OK on"};
    const auto idle = [](const QString& leds) { return "0mV | 0mV | 0 | - | - | " + leds + " | PC"; };
    const auto row = [&](const char* name, const char* block, const QString& last) {
        QTest::newRow(name) << QStringList{block} << last << onDc;
    };
    row("DC, level 99: Charging, 0.3 A", "40016=24000 40018=12000 40026=99 40027=1 40028=1 40035=3",
        "24000mV | 12000mV | 99 | Charging | DC | DC_OK | 0.3 A");
    row("DC, level 100: Charge Full, endless time", "40026=100 40027=1 40028=1 40035=5",
        "0mV | 0mV | 100 | Charge Full | DC | DC_OK | " + QString(QChar(0x221E)) + " Sec.");
    row("DC, level 150: charging left alone, largest voltage in plain decimal",
        "40016=65535 40018=1 40026=150 40027=1 40028=1 40035=10", "65535mV | 1mV | 150 | - | DC | DC_OK | NULL");
    row("battery, level 100: Discharging", "40026=100 40027=2 40028=1",
        "0mV | 0mV | 100 | Discharging | UPS | DC_OK | PC");
    row("source 0 leaves both labels, neighbours are not shown", "40017=111 40019=222 40025=333 40026=50 40028=1",
        "0mV | 0mV | 50 | - | - | DC_OK | PC");
    // The readings of the Details group; "details:" rows compare those.
    row("details: the simulator's start", "40017=850 40019=1200 40020=12600 40021=0 40022=315 40023=95 40028=1",
        "details: 850mA | 1200mA | 12600mV | 0mA | 31.5 \u00b0C | 95 min | none");
    row("details: below zero, every alarm", "40015=7 40021=65535 40022=65526 40028=1",
        "details: 0mA | 0mA | 0mV | 65535mA | -1.0 \u00b0C | 0 min | over-temperature, battery fault, output overload");
    row("details: a flag of its own is named by its bit", "40015=32770 40020=1 40022=1 40023=65535 40028=1",
        "details: 0mA | 0mA | 1mV | 0mA | 0.1 \u00b0C | 65535 min | battery fault, bit 15");
    for (const auto& led : {std::make_pair(40029, "Bat.Mode"), std::make_pair(40030, "Bat.Ready"),
                            std::make_pair(40032, "Remote"), std::make_pair(40033, "Bat.Start"),
                            std::make_pair(40034, "Dev.PSts")})
        QTest::addRow("%d lights %s", led.first, led.second)
            << QStringList{QStringLiteral("40028=1 %1=65535").arg(led.first)}
            << idle(QStringLiteral("DC_OK+") + QLatin1String(led.second)) << onDc;

    // The state before the first block is unknown: a start on battery, or
    // with SW on, is an edge like any other.
    QTest::newRow("DC lost and back") << QStringList{"40028=1", "40028=1", "40028=0", "40028=0", "40028=1"}
                                      << idle("DC_OK")
                                      << onDc + QStringList{"2:DC is broken.", "2:DC_OK off", "4:DC is connected.", "4:DC_OK on"};
    QTest::newRow("start on battery") << QStringList{"40028=0", "40028=0", "40028=1"} << idle("DC_OK")
                                      << QStringList{"0:DC is broken.", "0:DC_OK off", "2:DC is connected.", "2:DC_OK on"};
    QTest::newRow("SW on and off") << QStringList{"40028=1", "40028=1 40031=5", "40028=1 40031=5", "40028=1"}
                                   << idle("DC_OK") << onDc + QStringList{"1:SW ON.", "3:SW OFF."};
    QTest::newRow("start with SW on, then DC lost") << QStringList{"40028=1 40031=5", "40031=5"} << idle("SW")
                                                    << onDc + QStringList{"0:SW ON.", "1:DC is broken.", "1:DC_OK off"};
    QTest::newRow("SW changing between non-zero values says nothing")
        << QStringList{"40028=1 40031=3", "40028=1 40031=7", "40028=1 40031=3"} << idle("DC_OK+SW")
        << onDc + QStringList{"0:SW ON."};
    QTest::newRow("DC changing between non-zero values says nothing")
        << QStringList{"40028=1", "40028=2", "40028=9"} << idle("DC_OK") << onDc;
    QTest::newRow("both edges in one block: DC first")
        << QStringList{"40028=1", "40031=1"} << idle("SW")
        << onDc + QStringList{"1:DC is broken.", "1:DC_OK off", "1:SW ON."};
}

void tst_statusMonitor::decode()
{
    QFETCH(QStringList, blocks);
    QFETCH(QString, last);
    QFETCH(QStringList, trace);

    edgeState state;
    QStringList seen;
    view v;
    for (int step = 0; step < blocks.size(); ++step) {
        const update u = statusDecoder::decode(parse(blocks[step]), state);
        for (const action& a : u.actions) {
            const QString what = a.what == action::Log ? a.text : QString(a.state ? "DC_OK on" : "DC_OK off");
            seen << QString::number(step) + QLatin1Char(':') + what;
        }
        state = u.state;
        v = u.shown;
    }
    QCOMPARE(seen, trace);
    const QString detailsRow = QStringLiteral("details: ");
    QCOMPARE(last.startsWith(detailsRow) ? detailsRow + detailsShown(v.more) : shown(v), last);
}

void tst_statusMonitor::trendKeepsOneSampleASecondForAnHour_data()
{
    QTest::addColumn<QVector<qint64>>("times");   // ms of the blocks offered
    QTest::addColumn<QVector<qint64>>("kept");    // size, oldest, newest
    QVector<qint64> hourAndMore;
    for (qint64 s = 0; s < 5000; ++s)
        hourAndMore << s * 1000;
    QTest::newRow("a burst within a second keeps its first") << QVector<qint64>{0, 10, 999, 1000, 1999}
                                                             << QVector<qint64>{2, 0, 1000};
    QTest::newRow("a clock set back goes on sampling") << QVector<qint64>{10000, 5000, 5500, 6000}
                                                       << QVector<qint64>{3, 10000, 6000};
    QTest::newRow("5000 s at 1 Hz keep the last hour") << hourAndMore << QVector<qint64>{3600, 1400000, 4999000};
}

void tst_statusMonitor::trendKeepsOneSampleASecondForAnHour()
{
    QFETCH(QVector<qint64>, times);
    QFETCH(QVector<qint64>, kept);
    trendBuffer trend;
    for (qint64 ms : times)
        trend.add({ms, quint16(ms / 1000), 0, 0, 0});
    QCOMPARE(trend.size(), int(kept[0]));
    QCOMPARE(trend.at(0).ms, kept[1]);
    QCOMPARE(trend.at(trend.size() - 1).ms, kept[2]);
    QCOMPARE(trend.at(trend.size() - 1).inputMv, quint16(kept[2] / 1000));
}

void tst_statusMonitor::trendExportsItsSamples()
{
    trendBuffer trend;
    const qint64 t0 = QDateTime(QDate(2026, 12, 7), QTime(1, 30), Qt::UTC).toMSecsSinceEpoch();
    edgeState state;
    const char* const blocks[] = {"40016=24000 40018=12000 40020=13500 40026=100 40027=1 40028=1",
                                  "40016=0 40018=11900 40020=12400 40026=99 40027=2",
                                  "40016=23950 40018=12000 40020=12500 40026=98 40027=1 40028=1"};
    for (int i = 0; i < 3; ++i) {
        const update u = statusDecoder::decode(parse(QLatin1String(blocks[i])), state);
        state = u.state;
        QVERIFY(trend.add(t0 + 1500 * i, parse(QLatin1String(blocks[i])), u));
    }
    QCOMPARE(trend.csv(), QByteArray("time,input_voltage_mV,output_voltage_mV,battery_voltage_mV,battery_level_percent\n"
                                     "2026-12-07T01:30:00.000Z,24000,12000,13500,100\n"
                                     "2026-12-07T01:30:01.500Z,0,11900,12400,99\n"
                                     "2026-12-07T01:30:03.000Z,23950,12000,12500,98\n"));
    const QVector<trendBuffer::mark> marks = trend.marks();
    QCOMPARE(marks.size(), 2);
    QVERIFY(marks[0].dcLost && marks[0].ms == t0 + 1500);
    QVERIFY(!marks[1].dcLost && marks[1].ms == t0 + 3000);
}

void tst_statusMonitor::stopEndsThePoll_data()
{
    QTest::addColumn<int>("rounds");   // started and stopped this often first
    QTest::addColumn<quint32>("period");
    QTest::addColumn<bool>("destroy");   // ended by deleting it instead
    QTest::newRow("never started") << 0 << 5u << false;
    QTest::newRow("while polling") << 1 << 5u << false;
    QTest::newRow("started and stopped five times") << 5 << 5u << false;
    // The first read would come after a minute: the stop cuts the sleep short.
    QTest::newRow("during a minute-long period") << 1 << 60000u << false;
    QTest::newRow("destroyed while polling") << 1 << 5u << true;
}

void tst_statusMonitor::stopEndsThePoll()
{
    QFETCH(int, rounds);
    QFETCH(quint32, period);
    QFETCH(bool, destroy);
    fakeLink link;
    monitorThread::statusBlock expected;
    for (int i = 0; i < monitorThread::kStatusCount; ++i)
        fakesdk::setRegister(QR7215_STATUS_BLOCK_START + i, expected[i] = quint16(1000 + 17 * i));
    fakesdk::setRegister(QR7215_STATUS_BLOCK_START - 1, 7);   // neighbours must not leak in
    fakesdk::setRegister(QR7215_STATUS_BLOCK_START + QR7215_STATUS_BLOCK_COUNT, 7);
    // Counted in this thread, where the signal arrives queued; what is still
    // queued at the end goes with the receiver.
    int blocks = 0;
    QObject receiver;
    auto thread = std::make_unique<monitorThread>();
    connect(thread.get(), &monitorThread::signalFinished, &receiver, [&blocks] { ++blocks; });
    for (int round = 1; round <= rounds; ++round) {
        const int before = blocks;
        thread->startPoll(period);
        QTRY_VERIFY(period > 1000 || blocks > before);
        if (round < rounds)
            QVERIFY(thread->stopPoll());
    }
    if (blocks > 0)
        QCOMPARE(thread->registers(), expected);
    QElapsedTimer clock;
    clock.start();
    if (destroy)
        thread.reset();   // joins: a running QThread destroyed would abort
    else
        QVERIFY(thread->stopPoll() && !thread->isRunning() && !thread->stopRequested());
    QVERIFY2(clock.elapsed() < 30000, "the stop waited the period out");
    QCOMPARE(fakesdk::countCalls("read") == 0, period > 1000 || rounds == 0);
    for (const fakesdk::Call& c : fakesdk::calls())
        if (c.function == "read")
            QCOMPARE(std::make_pair(c.start, c.count), std::make_pair(uint32_t(QR7215_STATUS_BLOCK_START), uint32_t(QR7215_STATUS_BLOCK_COUNT)));
    if (thread) {
        const int count = blocks;
        thread->startPoll(5);   // and it starts again
        QTRY_VERIFY(blocks > count);
    }
}

void tst_statusMonitor::watchGoesOnWhileItsTabIsNotCurrent()
{
    fakeLink link;
    statusMonitorWidget page;
    probe::feed(page, parse("40026=55 40027=2 40028=1"));
    // Source 0 and level 150: both texts stay, the rest updates, the gauge clamps.
    probe::feed(page, parse("40016=777 40026=150 40028=1"));
    QCOMPARE(probe::label(page, "m_lblPowerSupplyValue"), QStringLiteral("UPS"));
    QCOMPARE(probe::label(page, "m_lblVoltageInputValue"), QStringLiteral("777mV"));
    QCOMPARE(probe::gauge(page)->value(), 100);

    page.slotOnSetEnabled(false);   // another tab became current
    probe::feed(page, parse("40016=888"), false);
    QCOMPARE(probe::label(page, "m_lblVoltageInputValue"), QStringLiteral("777mV"));
    page.slotOnSetEnabled(true);   // its tab is back: the last block shows, kept texts too
    QCOMPARE(probe::label(page, "m_lblVoltageInputValue"), QStringLiteral("888mV"));
    QCOMPARE(probe::label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Discharging"));
}

void tst_statusMonitor::pollPeriodTakesEffectAtNextStart()
{
    fakeLink link;
    statusMonitorWidget page;
    comSettings settings;
    page.slotOnConnect(settings);
    page.slotOnPollCycleChanged(40);
    QCOMPARE(probe::poller(page)->pollCycle(), settings.pollDelay);
    page.slotOnSetEnabled(false);
    page.slotOnSetEnabled(true);
    QCOMPARE(probe::poller(page)->pollCycle(), 40u);
    settings.pollDelay = 25;
    page.slotOnConnect(settings);
    QCOMPARE(probe::poller(page)->pollCycle(), 25u);
    QVERIFY(probe::poller(page)->isRunning());
}

void tst_statusMonitor::delayAndRestoreOnAnotherTab()
{
    const QString dir = testsupport::tempRoot() + QStringLiteral("/events");
    QDir().mkpath(dir);
    const QString events = dir + "/events";
    settingsStore::setBatPath(scripthelper::writeScript(
        dir + "/events.sh", "#!/bin/sh\necho \"$QR7215_EVENT $QR7215_BATTERY_LEVEL\" >> '" + events.toUtf8() + "'\n"));
    settingsStore::setBatExecutePolicy(1);
    LogCapture log;
    statusMonitorWidget page;
    QSignalSpy notes(&page, SIGNAL(signalNotify(const QString&, const QString&, bool, const QString&)));
    // Changed after the page was built: the page takes them from the store.
    settingsStore::setBatDelay(1);
    settingsStore::setBatOnRestore(true);
    page.slotOnPowerEventSettingsChanged();

    probe::feed(page, parse("40028=1 40026=100"), false);
    probe::feed(page, parse("40028=0 40026=97"), false);
    QCOMPARE(page.pendingScriptSeconds(), 1);
    QCOMPARE(log.count("Post-process script pending: it runs in 1 s unless DC returns."), 1);
    QVERIFY(!probe::runner(page)->isRunning());
    // The delay runs out with no block at all.
    QTRY_COMPARE(scripthelper::readAll(events), QStringLiteral("DC_LOST 97"));
    QCOMPARE(page.pendingScriptSeconds(), -1);
    QTRY_VERIFY(probe::runner(page)->isFinished());

    probe::feed(page, parse("40028=1 40026=98"), false);
    QTRY_COMPARE(scripthelper::readAll(events), QStringLiteral("DC_LOST 97\nDC_RESTORED 98"));
    QTRY_VERIFY(probe::runner(page)->isFinished());

    // A loss that DC outlasts: nothing runs.
    probe::feed(page, parse("40028=0"), false);
    QVERIFY(page.pendingScriptSeconds() > 0);
    probe::feed(page, parse("40028=1"), false);
    QCOMPARE(log.count("Post-process script cancelled: DC returned after 0 s."), 1);
    QCOMPARE(page.pendingScriptSeconds(), -1);

    // Both script outcomes included, which arrive from the runner's thread.
    QTRY_COMPARE(notes.count(), 9);
    QStringList summaries;
    for (const QList<QVariant>& n : qAsConst(notes))
        summaries << n.at(0).toString() + (n.at(2).toBool() ? " (critical)" : "");
    summaries.sort();
    QCOMPARE(summaries, (QStringList{"DC input lost (critical)", "DC input lost (critical)", "DC input restored",
                                     "DC input restored", "Post-process script", "Post-process script",
                                     "Post-process script cancelled", "Post-process script pending",
                                     "Post-process script pending"}));

    settingsStore::setBatPath(QString());
    settingsStore::setBatExecutePolicy(0);
    settingsStore::setBatDelay(0);
    settingsStore::setBatOnRestore(false);
}

void tst_statusMonitor::feedsNutAsTheStoreSays()
{
    fakeLink link;
    const QString path = testsupport::tempRoot() + QStringLiteral("/qr7215.dev");
    const auto holds = [&path](const char* text) { return testsupport::fileBytes(path).contains(text); };
    settingsStore::setNutFilePath(path);
    statusMonitorWidget page;
    probe::feed(page, parse("40026=55 40027=2"));
    QVERIFY(!QFile::exists(path));   // a path alone feeds nothing

    settingsStore::setNutFeed(true);
    page.slotOnPowerEventSettingsChanged();
    probe::feed(page, parse("40026=55 40027=2"));
    QTRY_VERIFY(holds("ups.status: OB DISCHRG LB\nbattery.charge: 55\n"));

    QCOMPARE(page.findChildren<nutDataFile*>().size(), 1);
    settingsStore::setNutFeed(false);
    page.slotOnPowerEventSettingsChanged();
    QVERIFY(page.findChildren<nutDataFile*>().isEmpty());
}

void tst_statusMonitor::edgeLineIsOnDiskWhenTheScriptStarts_data()
{
    QTest::addColumn<quint32>("policy");
    QTest::addColumn<QString>("edge");   // the second block
    QTest::addColumn<QString>("line");
    QTest::newRow("DC lost, policy 1") << 1u << "40028=0" << "DC is broken.";
    QTest::newRow("SW on, policy 2") << 2u << "40028=1 40031=1" << "SW ON.";
}

void tst_statusMonitor::edgeLineIsOnDiskWhenTheScriptStarts()
{
    QFETCH(quint32, policy);
    QFETCH(QString, edge);
    QFETCH(QString, line);
    if (!testsupport::kChildMayStartThreads)
        QSKIP("the watch's and the writer's threads would start in a forked child");
    const QString path = testsupport::tempRoot() + QStringLiteral("/kill/QR-7215.log");
    // Without the sync the writer still wins the race against the runner's
    // start about two times in three: eight children catch a missing one.
    for (int child = 0; child < 8; ++child) {
        QFile::remove(path);
        // A program without a window, whose script ends it at once: nothing after
        // the start gets a chance to write. A line logged only once the runner
        // was started ends the child with 2.
        const int code = testsupport::runWithTimeLimit(20, [&]() -> int {
            eventLogFile file(path);
            connect(&g_consolePrint, &consolePrint::signalShowMsg, &file, &eventLogFile::slotOnShowMsg);
            powerWatch watch;
            watch.setPolicy(policy);
            QThread* runner = powerWatchProbe::runner(watch);
            connect(&g_consolePrint, &consolePrint::signalShowMsg, [&](const QString& msg) {
                if (msg == line && runner->isRunning())
                    ::_exit(2);
            });
            connect(runner, &QThread::started, [] { ::kill(::getpid(), SIGKILL); });
            powerWatchProbe::feed(watch, parse(QStringLiteral("40028=1")));
            powerWatchProbe::feed(watch, parse(edge));
            QTest::qWait(10000);
            return 1;
        });
        QCOMPARE(code, int(testsupport::kChildCrashed));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(written.readAll());
        QVERIFY2(text.contains(QStringLiteral(">>DC is connected.\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral(">>") + line + QLatin1Char('\n')), qPrintable(text));
    }
}

QR_TEST_MAIN(tst_statusMonitor)
#include "tst_statusmonitor.moc"
