// GUI responsiveness: the longest time the GUI thread's event loop is blocked
// while the "Config" page refreshes its register table from the module, and
// while the main window connects to a module that never answers.
#include "benchsections.h"

#include "benchsimulator.h"
#include "configwidget.h"
#include "eventloopwatch.h"
#include "utilityprocess.h"
#include "wirelimit.h"

#include <QElapsedTimer>
#include <QWindow>

namespace {

constexpr double kGoalMs = 100;
constexpr int kTableRegisters = 35;

struct responsivenessCase
{
    const char* name;
    unsigned baud;
    bool silentModule;
};

constexpr responsivenessCase kCases[] = {
    {"gui_stall_115200", 115200, false},
    {"gui_stall_9600", 9600, false},
    {"gui_stall_silent_module", 115200, true},
};

void measure(benchFigure& f, benchSimulator& sim, const responsivenessCase& c, const benchOptions& o)
{
    configWidget page;
    page.resize(800, 600);
    page.show();
    if (!benchSupport::waitFor([&] { return page.windowHandle() && page.windowHandle()->isExposed(); }, 5000)) {
        f.error = QStringLiteral("Config page not shown");
        return;
    }
    const long before = sim.requests();
    if (c.silentModule && sim.command(QStringLiteral("fault timeout")) != QLatin1String("ok")) {
        f.error = QStringLiteral("simulator refused the fault");
        return;
    }

    eventLoopWatch watch;
    page.slotOnSetEnabled(true);
    watch.start();
    benchSupport::spin(o.responsivenessSeconds * 1000);
    watch.stop();

    // Let the exchange in flight end sooner: the module answers the next attempt.
    if (c.silentModule)
        sim.command(QStringLiteral("fault none"));
    QElapsedTimer switchOff;
    switchOff.start();
    page.slotOnSetEnabled(false);
    const qint64 switchOffMs = switchOff.elapsed();
    const long after = sim.requests();

    f.value = watch.longestStallMs();
    f.note = QStringLiteral("%1 requests, blocked %2% of the time, %3 stalls >20 ms; switch-off waited %4 ms")
                 .arg(before >= 0 && after >= 0 ? after - before : -1)
                 .arg(watch.blockedShare() * 100, 0, 'f', 1)
                 .arg(watch.stallsOver20Ms())
                 .arg(switchOffMs);
}

// The connection page's largest settings: an open that waits for every retry
// would hold the window for (100 + 1) x 10 s.
constexpr int kLongestTimeoutMs = 10000;
constexpr int kMostRetries = 100;

// The main window in the benchmark's window child: Connect pressed with the
// module silent, Disconnect pressed while the attempt runs, Connect again and
// Quit with that attempt in flight.
void measureConnect(benchFigure& f, benchSimulator& sim, const benchOptions& o)
{
    if (sim.command(QStringLiteral("fault timeout")) != QLatin1String("ok")) {
        f.error = QStringLiteral("simulator refused the fault");
        return;
    }
    utilityRecord record;
    record.port = sim.linkPath();
    record.timeoutMs = kLongestTimeoutMs;
    record.retries = kMostRetries;
    record.autoConnect = false;
    utilityProcess program;
    const long before = sim.requests();
    if (!program.startWindowChild(record, {QStringLiteral("--connect-watch"),
                                           QString::number(o.responsivenessSeconds)})) {
        f.error = QStringLiteral("program did not start");
        return;
    }
    const QStringList watch = program.takeLine(o.responsivenessSeconds * 1000 + 15000).split(' ');
    const QString quitLine = program.takeLine(5000);
    const bool exited = program.waitForExit(5000);
    const qint64 exitedNs = benchSupport::monotonicNs();
    const long after = sim.requests();
    auto field = [&](const char* key) { return watch.value(watch.indexOf(QLatin1String(key)) + 1); };
    if (watch.value(0) != QLatin1String("watch") || watch.indexOf(QStringLiteral("stall-ms")) < 0) {
        f.error = QStringLiteral("no watch report (%1)").arg(watch.join(' '));
        return;
    }
    if (field("during") != QLatin1String("Connecting...")) {
        f.error = QStringLiteral("no attempt in flight at Disconnect (status bar: %1)").arg(field("during"));
        return;
    }
    const qint64 quitNs = quitLine.startsWith(QLatin1String("quit-ns ")) ? quitLine.mid(8).toLongLong() : 0;
    f.value = field("stall-ms").toDouble();
    f.note = QStringLiteral("%1 requests unanswered, blocked %2% of the time, %3 stalls >20 ms; Disconnect took %4 ms "
                            "(status bar then \"%5\"); Quit during a second attempt: %6")
                 .arg(before >= 0 && after >= 0 ? after - before : -1)
                 .arg(field("blocked"))
                 .arg(field("over20"))
                 .arg(field("disconnect-ms"))
                 .arg(field("after").replace('_', ' '))
                 .arg(exited && quitNs > 0 ? QStringLiteral("ended in %1 ms").arg((exitedNs - quitNs) / 1e6, 0, 'f', 0)
                                           : QStringLiteral("did not end within 5 s"));
}

} // namespace

void runResponsiveness(const benchOptions& o, figureTable& table)
{
    for (const responsivenessCase& c : kCases) {
        benchFigure f;
        f.name = QLatin1String(c.name);
        f.title = QStringLiteral("GUI longest stall");
        f.conditions = QStringLiteral("Config page, %1 baud, %2 s").arg(c.baud).arg(o.responsivenessSeconds);
        if (c.silentModule)
            f.conditions += QStringLiteral(", module silent (time-out 1000 ms, 3 retries)");
        f.unit = QStringLiteral("ms");
        f.goal = kGoalMs;
        f.decimals = 1;
        f.wireLimit = wireLimit::readText(kTableRegisters, c.baud);

        benchSimulator sim;
        if (!sim.start(c.baud))
            f.error = QStringLiteral("simulator did not start");
        else if (!benchSupport::openAdapter(sim, c.baud, 1000, 3))
            f.error = QStringLiteral("cannot open the simulator's port");
        else
            measure(f, sim, c, o);
        benchSupport::closeAdapter();
        table.add(f);
    }

    benchFigure f;
    f.name = QStringLiteral("gui_stall_connect_silent");
    f.title = QStringLiteral("GUI longest stall");
    f.conditions = QStringLiteral("main window, Connect to a silent module, time-out %1 ms, %2 retries "
                                  "(the page's largest), %3 s, then Disconnect")
                       .arg(kLongestTimeoutMs).arg(kMostRetries).arg(o.responsivenessSeconds);
    f.unit = QStringLiteral("ms");
    f.goal = kGoalMs;
    f.decimals = 1;
    benchSimulator sim;
    if (!sim.start(115200))
        f.error = QStringLiteral("simulator did not start");
    else
        measureConnect(f, sim, o);
    table.add(f);
}
