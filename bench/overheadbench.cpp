// Library overhead: back-to-back reads of the status block through the device
// library, as a share of what a bare libmodbus loop manages on the same
// pseudo-terminal in the same run (no wire emulation: only software counts).
#include "benchsections.h"

#include "benchsimulator.h"
#include "devicelink.h"
#include "samplestats.h"
#include "sdk/qr7215sdk.h"

#include <cstdint>

namespace {

constexpr double kGoalRatio = 0.9;
constexpr uint16_t kStatusStart = QR7215_STATUS_BLOCK_START;
constexpr int kStatusCount = QR7215_STATUS_BLOCK_COUNT;
constexpr int kWarmUpReads = 20;

// ns for `reads` reads through the device library; -1 on any failure.
qint64 timeLibrary(const QString& link, int reads)
{
    deviceDescriptor d = sdktest::lineDescriptor(1000, 0);
    if (sdktest::openOn(d, link) != 0) {
        UPS_SetPortName(&d, nullptr);
        return -1;
    }
    uint16_t values[kStatusCount];
    qint64 elapsed = -1;
    bool ok = true;
    for (int i = 0; i < kWarmUpReads && ok; ++i)
        ok = UPS_ReadRegisters(&d, kStatusStart, kStatusCount, values) == 0;
    const qint64 t0 = benchSupport::monotonicNs();
    for (int i = 0; i < reads && ok; ++i)
        ok = UPS_ReadRegisters(&d, kStatusStart, kStatusCount, values) == 0;
    if (ok)
        elapsed = benchSupport::monotonicNs() - t0;
    UPS_DeviceClose(&d);
    UPS_SetPortName(&d, nullptr);
    return elapsed;
}

} // namespace

void runOverhead(const benchOptions& o, figureTable& table)
{
    benchFigure f;
    f.name = QStringLiteral("library_overhead");
    f.title = QStringLiteral("Library throughput");
    f.conditions = QStringLiteral("no wire emulation, %1x%2 reads of %3 registers each side")
                       .arg(o.overheadWindows).arg(o.overheadReadsPerWindow).arg(kStatusCount);
    f.unit = QStringLiteral("x bare");
    f.sense = benchFigure::AtLeast;
    f.goal = kGoalRatio;
    f.decimals = 3;

    benchSimulator sim;
    if (!sim.start(0)) {
        f.error = QStringLiteral("simulator did not start");
        table.add(f);
        return;
    }
    std::vector<double> ratios;
    std::vector<double> libraryUs;
    std::vector<double> bareUs;
    const int n = o.overheadReadsPerWindow;
    for (int w = 0; w < o.overheadWindows; ++w) {
        // Alternate which side goes first, so a drift of the machine favours neither.
        qint64 library;
        qint64 bare;
        if (w % 2 == 0) {
            library = timeLibrary(sim.linkPath(), n);
            bare = benchSupport::bareReadsNs(sim.linkPath(), n, kWarmUpReads);
        } else {
            bare = benchSupport::bareReadsNs(sim.linkPath(), n, kWarmUpReads);
            library = timeLibrary(sim.linkPath(), n);
        }
        if (library <= 0 || bare <= 0) {
            f.error = library <= 0 ? QStringLiteral("device library read failed")
                                   : QStringLiteral("bare libmodbus read failed");
            break;
        }
        ratios.push_back(static_cast<double>(bare) / static_cast<double>(library));
        libraryUs.push_back(library / 1e3 / n);
        bareUs.push_back(bare / 1e3 / n);
    }
    if (f.error.isEmpty()) {
        f.value = sampleStats::median(ratios);
        f.note = QStringLiteral("library %1 us/read, bare libmodbus %2 us/read")
                     .arg(sampleStats::median(libraryUs), 0, 'f', 1)
                     .arg(sampleStats::median(bareUs), 0, 'f', 1);
    }
    table.add(f);
}
