// CPU: the real program, connected by Auto Connect to the simulated module at
// its default settings, left monitoring; its CPU time per second of wall time.
// Once on the status page, and once with the Config tab current (the
// program's main window in the benchmark's window child), where the watch
// runs beside the register table's refresh.
#include "benchsections.h"

#include "benchsimulator.h"
#include "processprobe.h"
#include "samplestats.h"
#include "utilityprocess.h"
#include "wirelimit.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

namespace {

constexpr double kGoalPercent = 2.0;
constexpr double kMonitorGoalPercent = 1.0;
constexpr unsigned kBaud = 115200;
// The default the program polls with: the connection page takes nothing below
// 20 ms and raises the record's default of 10 to it, in the record too.
constexpr int kPollMs = 20;

// Where the time went, by thread, over the whole run: the main thread is
// "GUI", the others go by their names.
QString byThread(qint64 pid, const QList<processProbe::threadTime>& before,
                 const QList<processProbe::threadTime>& after, double wallS)
{
    QMap<QString, qint64> ns;
    for (const processProbe::threadTime& a : after) {
        for (const processProbe::threadTime& b : before) {
            if (a.id == b.id)
                ns[a.id == QString::number(pid) ? QStringLiteral("GUI") : a.name] += a.ns - b.ns;
        }
    }
    QStringList parts;
    for (auto it = ns.cbegin(); it != ns.cend(); ++it)
        parts << QStringLiteral("%1 %2 %").arg(it.key()).arg(100.0 * it.value() / 1e9 / wallS, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

void measure(benchFigure& f, benchSimulator& sim, const benchOptions& o, bool configTab)
{
    utilityProcess program;
    utilityRecord record;
    record.port = sim.linkPath();
    record.baud = kBaud;
    record.pollMs = kPollMs;
    const bool started = configTab ? program.startWindowChild(record, {QStringLiteral("--config-tab")})
                                   : program.start(sim.linkPath(), kBaud, kPollMs);
    if (!started) {
        f.error = QStringLiteral("program did not start");
        return;
    }
    const qint64 pid = program.pid();
    if (configTab) {
        const QString tab = program.takeLine(15000);
        if (tab != QLatin1String("tab Config")) {
            f.error = QStringLiteral("Config tab not current (%1)").arg(tab);
            return;
        }
    }

    // Connected and polling: requests keep coming.
    const bool polling = benchSupport::waitFor([&] { return sim.requests() > 20; }, 10000);
    if (!polling) {
        f.error = QStringLiteral("program did not start polling");
    } else {
        benchSupport::spin(o.quick ? 200 : 1000);
        std::vector<double> percents;
        const long requests0 = sim.requests();
        const qint64 process0 = processProbe::processCpuTimeNs(pid);
        const QList<processProbe::threadTime> threads0 = processProbe::threadTimes(pid);
        const qint64 wall0 = benchSupport::monotonicNs();
        for (int s = 0; s < o.cpuSeconds; ++s) {
            QStringList tasksBefore;
            QStringList tasksAfter;
            const qint64 cpuBefore = processProbe::threadCpuTimeNs(pid, &tasksBefore);
            const qint64 before = benchSupport::monotonicNs();
            benchSupport::spin(o.cpuWindowMs);
            const qint64 cpuAfter = processProbe::threadCpuTimeNs(pid, &tasksAfter);
            const qint64 after = benchSupport::monotonicNs();
            // A thread that came or went in between would skew the difference.
            if (cpuBefore >= 0 && cpuAfter >= 0 && tasksBefore == tasksAfter)
                percents.push_back(100.0 * static_cast<double>(cpuAfter - cpuBefore) / static_cast<double>(after - before));
        }
        const double wallS = (benchSupport::monotonicNs() - wall0) / 1e9;
        const qint64 process1 = processProbe::processCpuTimeNs(pid);
        const QList<processProbe::threadTime> threads1 = processProbe::threadTimes(pid);
        const long requests1 = sim.requests();
        if (percents.empty()) {
            f.error = QStringLiteral("no CPU reading");
        } else {
            f.value = sampleStats::median(percents);
            // The machine's load slows the poll, and the CPU follows the
            // requests: the time per request compares runs under any load.
            const double perRequestUs =
                requests1 > requests0 ? sampleStats::median(percents) / 100.0 * wallS * 1e6 / (requests1 - requests0) : -1.0;
            f.note = QStringLiteral("whole run %1 % (process counters), %2 requests/s, %6 us per request, "
                                    "seconds %3..%4 %; by thread %5")
                         .arg(process0 >= 0 && process1 >= 0 ? 100.0 * (process1 - process0) / 1e9 / wallS : -1.0, 0, 'f', 2)
                         .arg((requests1 - requests0) / wallS, 0, 'f', 1)
                         .arg(*std::min_element(percents.begin(), percents.end()), 0, 'f', 2)
                         .arg(sampleStats::maximum(percents), 0, 'f', 2)
                         .arg(byThread(pid, threads0, threads1, wallS))
                         .arg(perRequestUs, 0, 'f', 0);
        }
    }
}

// qr7215ctl monitor at the poll it takes by default (that of the program),
// with no script and no NUT file: the cost of the headless watch alone.
void measureMonitor(benchFigure& f, benchSimulator& sim, const benchOptions& o)
{
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("config_com.xml")));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QStringLiteral("<Settings><Setting><ComPort>%1</ComPort><BaudRate>%2</BaudRate>"
                                       "</Setting></Settings>")
                            .arg(sim.linkPath())
                            .arg(kBaud)
                            .toUtf8())
               < 0) {
        f.error = QStringLiteral("cannot write the connection settings");
        return;
    }
    config.close();
    QProcess monitor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    monitor.setProcessEnvironment(env);
    monitor.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    monitor.setStandardErrorFile(QProcess::nullDevice());
    monitor.start(QStringLiteral(QR7215CTL_PATH), {QStringLiteral("--config"), config.fileName(), QStringLiteral("monitor")});
    if (!monitor.waitForStarted(5000)
        || !benchSupport::waitFor([&] { return sim.requests() > 20; }, 10000)) {
        f.error = QStringLiteral("qr7215ctl monitor did not start polling");
        return;
    }
    benchSupport::spin(o.quick ? 200 : 1000);
    const qint64 pid = monitor.processId();
    const long requests0 = sim.requests();
    const qint64 cpu0 = processProbe::processCpuTimeNs(pid);
    const qint64 wall0 = benchSupport::monotonicNs();
    benchSupport::spin(o.cpuSeconds * o.cpuWindowMs);
    const qint64 cpu1 = processProbe::processCpuTimeNs(pid);
    const double wallS = (benchSupport::monotonicNs() - wall0) / 1e9;
    const long requests1 = sim.requests();
    monitor.terminate();
    monitor.waitForFinished(5000);
    if (cpu0 < 0 || cpu1 < 0) {
        f.error = QStringLiteral("no CPU reading");
        return;
    }
    f.value = 100.0 * (cpu1 - cpu0) / 1e9 / wallS;
    f.note = QStringLiteral("%1 requests/s, process counters in 10 ms steps over %2 s")
                 .arg((requests1 - requests0) / wallS, 0, 'f', 1)
                 .arg(wallS, 0, 'f', 1);
}

} // namespace

void runCpu(const benchOptions& o, figureTable& table)
{
    for (const bool configTab : {false, true}) {
        benchFigure f;
        f.name = configTab ? QStringLiteral("cpu_config_115200") : QStringLiteral("cpu_115200");
        f.title = QStringLiteral("CPU while monitoring");
        f.conditions = QStringLiteral("%1 baud, poll %2 ms (the page's least, the default), %3, %4 s")
                           .arg(kBaud)
                           .arg(kPollMs)
                           .arg(configTab ? QStringLiteral("main window, Config tab current")
                                          : QStringLiteral("program, status page"))
                           .arg(o.cpuSeconds * o.cpuWindowMs / 1000.0, 0, 'f', 1);
        f.unit = QStringLiteral("% of a core");
        f.goal = kGoalPercent;
        f.decimals = 2;
        f.wireLimit = wireLimit::readText(20, kBaud);
        benchSimulator sim;
        if (!sim.start(kBaud))
            f.error = QStringLiteral("simulator did not start");
        else
            measure(f, sim, o, configTab);
        table.add(f);
    }

    benchFigure f;
    f.name = QStringLiteral("cpu_ctl_monitor_115200");
    f.title = QStringLiteral("CPU of qr7215ctl monitor");
    f.conditions = QStringLiteral("%1 baud, poll %2 ms (its default), no window, %3 s")
                       .arg(kBaud)
                       .arg(kPollMs)
                       .arg(o.cpuSeconds * o.cpuWindowMs / 1000.0, 0, 'f', 1);
    f.unit = QStringLiteral("% of a core");
    f.goal = kMonitorGoalPercent;
    f.decimals = 2;
    f.wireLimit = wireLimit::readText(20, kBaud);
    benchSimulator sim;
    if (!sim.start(kBaud))
        f.error = QStringLiteral("simulator did not start");
    else
        measureMonitor(f, sim, o);
    table.add(f);
}
