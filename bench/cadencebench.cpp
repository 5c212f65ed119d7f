// Poll cadence: how much longer than its period plus the line's own time the
// real status poll thread takes between two reads; and, with the Config page
// refreshing its table on the same line, the longest the watch goes without
// a status block.
#include "benchsections.h"

#include "benchsimulator.h"
#include "configwidget.h"
#include "monitorthread.h"
#include "samplestats.h"
#include "wirelimit.h"

#include <QWindow>

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

namespace {

constexpr double kGoalMs = 0.5;
constexpr unsigned kBauds[] = {115200, 9600};
constexpr quint32 kPeriods[] = {10, 20, 100};

benchFigure cadenceFigure(unsigned baud, quint32 period, const benchOptions& o)
{
    benchFigure f;
    f.name = QStringLiteral("cadence_p%1_%2").arg(period).arg(baud);
    f.title = QStringLiteral("Poll cadence");
    f.conditions = QStringLiteral("%1 baud, poll %2 ms, %3x%4 reads")
                       .arg(baud).arg(period).arg(o.cadenceWindows).arg(o.cadenceReadsPerWindow);
    f.unit = QStringLiteral("ms");
    f.goal = kGoalMs;
    f.decimals = 2;
    f.wireLimit = wireLimit::readText(monitorThread::kStatusCount, baud);
    return f;
}

void measure(benchFigure& f, unsigned baud, quint32 period, double floorMs, const benchOptions& o)
{
    monitorThread thread;
    std::mutex mutex;
    std::vector<qint64> stamps;
    QObject::connect(&thread, &monitorThread::signalFinished, &thread, [&] {
        const qint64 now = benchSupport::monotonicNs();
        std::lock_guard<std::mutex> lock(mutex);
        stamps.push_back(now);
    }, Qt::DirectConnection);

    // The first read comes one period after the start, not after a read: it
    // only opens the first interval.
    const size_t intervals = static_cast<size_t>(o.cadenceWindows * o.cadenceReadsPerWindow);
    const double expectedMs = period + wireLimit::readMs(monitorThread::kStatusCount, baud);
    const int timeoutMs = static_cast<int>((intervals + 2) * (expectedMs + 20)) + 3000;
    thread.startPoll(period);
    const bool complete = benchSupport::waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return stamps.size() >= intervals + 1;
    }, timeoutMs);
    thread.stopPoll();
    if (!complete) {
        f.error = QStringLiteral("%1 reads in %2 ms").arg(stamps.size()).arg(timeoutMs);
        return;
    }

    std::vector<double> windowExcess;
    for (int w = 0; w < o.cadenceWindows; ++w) {
        const size_t first = static_cast<size_t>(w * o.cadenceReadsPerWindow);
        const size_t last = first + static_cast<size_t>(o.cadenceReadsPerWindow);
        const double meanMs = (stamps[last] - stamps[first]) / 1e6 / o.cadenceReadsPerWindow;
        windowExcess.push_back(meanMs - expectedMs);
    }
    f.value = sampleStats::median(windowExcess);
    f.note = QStringLiteral("mean interval %1 ms, windows %2..%3 ms; a bare libmodbus read takes %4 ms over the wire time")
                 .arg(f.value + expectedMs, 0, 'f', 2)
                 .arg(*std::min_element(windowExcess.begin(), windowExcess.end()), 0, 'f', 2)
                 .arg(sampleStats::maximum(windowExcess), 0, 'f', 2)
                 .arg(floorMs, 0, 'f', 2);
}

constexpr unsigned kSharedBaud = 9600;
constexpr quint32 kSharedPeriod = 20;   // the default: the least the connection page takes
constexpr int kTableRegisters = 35;
constexpr double kSharedAllowanceMs = 20;

// The status poll thread and the Config page as the main window runs them
// with the Config tab current: the page shown and refreshing, the watch
// polling on the same adapter. The watch may wait for one table exchange
// before each read, never for more.
void measureShared(benchFigure& f, benchSimulator& sim, const benchOptions& o)
{
    configWidget page;
    page.resize(800, 600);
    page.show();
    if (!benchSupport::waitFor([&] { return page.windowHandle() && page.windowHandle()->isExposed(); }, 5000)) {
        f.error = QStringLiteral("Config page not shown");
        return;
    }
    monitorThread thread;
    std::mutex mutex;
    std::vector<qint64> stamps;
    QObject::connect(&thread, &monitorThread::signalFinished, &thread, [&] {
        const qint64 now = benchSupport::monotonicNs();
        std::lock_guard<std::mutex> lock(mutex);
        stamps.push_back(now);
    }, Qt::DirectConnection);

    page.slotOnSetEnabled(true);
    thread.startPoll(kSharedPeriod);
    const long before = sim.requests();
    benchSupport::spin(o.cadenceSharedSeconds * 1000);
    const long after = sim.requests();
    thread.stopPoll();
    page.slotOnSetEnabled(false);

    std::lock_guard<std::mutex> lock(mutex);
    if (stamps.size() < 3) {
        f.error = QStringLiteral("%1 status reads in %2 s").arg(stamps.size()).arg(o.cadenceSharedSeconds);
        return;
    }
    // The first read comes one period after the start: it only opens the first interval.
    std::vector<double> intervals;
    for (size_t i = 1; i < stamps.size(); ++i)
        intervals.push_back((stamps[i] - stamps[i - 1]) / 1e6);
    const double wallS = (stamps.back() - stamps.front()) / 1e9;
    const long statusReads = static_cast<long>(stamps.size());
    f.value = sampleStats::maximum(intervals);
    f.note = QStringLiteral("median %1 ms, p95 %2 ms, %3 status reads/s (alone: %4/s); %5 table reads beside them")
                 .arg(sampleStats::median(intervals), 0, 'f', 1)
                 .arg(sampleStats::percentile(intervals, 95), 0, 'f', 1)
                 .arg((statusReads - 1) / wallS, 0, 'f', 2)
                 .arg(1000.0 / (kSharedPeriod + wireLimit::readMs(monitorThread::kStatusCount, kSharedBaud)), 0, 'f', 2)
                 .arg(before >= 0 && after >= 0 ? after - before - statusReads : -1);
}

void runShared(const benchOptions& o, figureTable& table)
{
    benchFigure f;
    f.name = QStringLiteral("cadence_config_%1").arg(kSharedBaud);
    f.title = QStringLiteral("Poll cadence, longest gap");
    f.conditions = QStringLiteral("%1 baud, poll %2 ms, Config page refreshing on the same line, %3 s")
                       .arg(kSharedBaud).arg(kSharedPeriod).arg(o.cadenceSharedSeconds);
    f.unit = QStringLiteral("ms");
    f.goal = kSharedPeriod + wireLimit::readMs(monitorThread::kStatusCount, kSharedBaud)
             + wireLimit::readMs(kTableRegisters, kSharedBaud) + kSharedAllowanceMs;
    f.decimals = 1;
    f.wireLimit = wireLimit::readText(monitorThread::kStatusCount, kSharedBaud) + QStringLiteral(" + ")
                  + wireLimit::readText(kTableRegisters, kSharedBaud) + QStringLiteral(" (table)");
    benchSimulator sim;
    if (!sim.start(kSharedBaud))
        f.error = QStringLiteral("simulator did not start");
    else if (!benchSupport::openAdapter(sim, kSharedBaud))
        f.error = QStringLiteral("cannot open the simulator's port");
    else
        measureShared(f, sim, o);
    benchSupport::closeAdapter();
    table.add(f);
}

} // namespace

void runCadence(const benchOptions& o, figureTable& table)
{
    for (unsigned baud : kBauds) {
        benchSimulator sim;
        const bool started = sim.start(baud);
        // What the simulator and libmodbus alone add to the wire time: the
        // floor under every figure of this family.
        const int floorReads = std::max(5, o.cadenceReadsPerWindow);
        const qint64 bareNs = started ? benchSupport::bareReadsNs(sim.linkPath(), floorReads, 2) : -1;
        const double floorMs = bareNs > 0 ? bareNs / 1e6 / floorReads - wireLimit::readMs(monitorThread::kStatusCount, baud)
                                          : std::numeric_limits<double>::quiet_NaN();
        const bool open = started && benchSupport::openAdapter(sim, baud);
        for (quint32 period : kPeriods) {
            benchFigure f = cadenceFigure(baud, period, o);
            if (!open)
                f.error = started ? QStringLiteral("cannot open the simulator's port")
                                  : QStringLiteral("simulator did not start");
            else
                measure(f, baud, period, floorMs, o);
            table.add(f);
        }
        benchSupport::closeAdapter();
    }
    runShared(o, table);
}
