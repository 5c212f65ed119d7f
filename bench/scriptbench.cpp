// Power fail to script: from the module losing DC input to the post-process
// script's first command, with the Config tab current, so that the status
// watch shares the line with the register table's refresh.
#include "benchsections.h"

#include "benchsimulator.h"
#include "monitorthread.h"
#include "samplestats.h"
#include "utilityprocess.h"
#include "wirelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <time.h>

namespace {

constexpr unsigned kBaud = 9600;
constexpr int kPollMs = 20;           // the default: the least the connection page takes
constexpr int kTableRegisters = 35;   // what the Config page reads per refresh
constexpr double kAllowanceMs = 20;

// The script's `date` reads the wall clock; so does this side.
qint64 realtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

QList<qint64> stamps(const QString& file)
{
    QList<qint64> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        bool ok = false;
        const qint64 ns = line.trimmed().toLongLong(&ok);
        if (ok)
            out << ns;
    }
    return out;
}

void measure(benchFigure& f, benchSimulator& sim, const benchOptions& o)
{
    QTemporaryDir dir;
    const QString script = dir.path() + QStringLiteral("/on-power-fail.sh");
    const QString log = dir.path() + QStringLiteral("/started");
    {
        QFile s(script);
        if (!dir.isValid() || !s.open(QIODevice::WriteOnly)) {
            f.error = QStringLiteral("cannot write the script");
            return;
        }
        // Its first command takes the time: that is when the script has started.
        s.write(QStringLiteral("#!/bin/sh\ndate +%s%N >> '%1'\n").arg(log).toUtf8());
    }
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);

    utilityRecord record;
    record.port = sim.linkPath();
    record.baud = kBaud;
    record.pollMs = kPollMs;
    utilityProcess program;
    if (!program.startWindowChild(record, {QStringLiteral("--script"), script, QStringLiteral("--config-tab")})) {
        f.error = QStringLiteral("program did not start");
        return;
    }
    const QString tab = program.takeLine(15000);
    if (tab != QLatin1String("tab Config")) {
        f.error = QStringLiteral("Config tab not current (%1)").arg(tab.isEmpty() ? QStringLiteral("no answer") : tab);
        return;
    }
    // The table's refresh under way before the first loss.
    benchSupport::spin(o.quick ? 300 : 1000);

    const long requests0 = sim.requests();
    const qint64 wall0 = benchSupport::monotonicNs();
    std::vector<double> latencies;
    // Losses land at a spread of phases over a whole cycle of the shared line.
    const int spreadMs = static_cast<int>(kPollMs + wireLimit::readMs(monitorThread::kStatusCount, kBaud)
                                          + wireLimit::readMs(kTableRegisters, kBaud)) + 1;
    for (int i = 0; i < o.scriptSamples; ++i) {
        benchSupport::spin(1 + (i * 37) % spreadMs);
        const qint64 t0 = realtimeNs();
        if (sim.command(QStringLiteral("power fail")) != QLatin1String("ok")) {
            f.error = QStringLiteral("simulator refused power fail");
            return;
        }
        QList<qint64> seen;
        if (!benchSupport::waitFor([&] { return (seen = stamps(log)).size() > i; }, 5000)) {
            f.error = QStringLiteral("script did not start within 5 s of power fail %1").arg(i + 1);
            return;
        }
        latencies.push_back((seen.last() - t0) / 1e6);
        sim.command(QStringLiteral("power restore"));
        // DC back seen by the watch, and the script's run over, before the next loss.
        benchSupport::spin(o.quick ? 300 : 600);
    }
    const double wallS = (benchSupport::monotonicNs() - wall0) / 1e9;
    const long requests1 = sim.requests();
    f.value = sampleStats::median(latencies);
    f.note = QStringLiteral("p95 %1 ms, max %2 ms, min %3 ms, %4 losses; %5 requests/s on the line")
                 .arg(sampleStats::percentile(latencies, 95), 0, 'f', 1)
                 .arg(sampleStats::maximum(latencies), 0, 'f', 1)
                 .arg(*std::min_element(latencies.begin(), latencies.end()), 0, 'f', 1)
                 .arg(latencies.size())
                 .arg(requests0 >= 0 && requests1 >= 0 ? (requests1 - requests0) / wallS : -1.0, 0, 'f', 1);
}

} // namespace

void runScript(const benchOptions& o, figureTable& table)
{
    benchFigure f;
    f.name = QStringLiteral("script_config_%1").arg(kBaud);
    f.title = QStringLiteral("Power fail to script start");
    f.conditions = QStringLiteral("main window, Config tab current, %1 baud, poll %2 ms, policy 1")
                       .arg(kBaud).arg(kPollMs);
    f.unit = QStringLiteral("ms");
    f.goal = kPollMs + wireLimit::readMs(monitorThread::kStatusCount, kBaud) + wireLimit::readMs(kTableRegisters, kBaud)
             + kAllowanceMs;
    f.decimals = 1;
    f.wireLimit = wireLimit::readText(monitorThread::kStatusCount, kBaud) + QStringLiteral(" + ")
                  + wireLimit::readText(kTableRegisters, kBaud) + QStringLiteral(" (table)");
    benchSimulator sim;
    if (!sim.start(kBaud))
        f.error = QStringLiteral("simulator did not start");
    else
        measure(f, sim, o);
    table.add(f);
}
