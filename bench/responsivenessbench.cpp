// GUI responsiveness: the longest time the GUI thread's event loop is blocked
// while the "Config" page refreshes its register table from the module.
#include "benchsections.h"

#include "benchsimulator.h"
#include "configwidget.h"
#include "eventloopwatch.h"
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
}
