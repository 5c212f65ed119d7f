// Memory: resident memory growth of the main window while many log lines
// arrive through the message bus from another thread, as the poll thread's
// and the adapter's lines do; and of the real program while the module
// refuses every read at the fastest poll.
#include "benchsections.h"

#include "benchsimulator.h"
#include "consoleprint.h"
#include "mainwindow.h"
#include "processprobe.h"
#include "utilityprocess.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QWindow>

#include <atomic>
#include <thread>

namespace {

constexpr double kGoalMb = 5.0;
constexpr int kBatch = 500;
constexpr double kMiB = 1024.0 * 1024.0;
// The shortest period the program polls with: the connection page raises a
// smaller one from the settings file to its least, 20 ms.
constexpr int kFastestPollMs = 20;
constexpr qint64 kFloodLimitMs = 300000;

void measureFlood(benchFigure& f, benchSimulator& sim, const benchOptions& o)
{
    utilityProcess program;
    if (!program.start(sim.linkPath(), 115200, kFastestPollMs)) {
        f.error = QStringLiteral("program did not start");
        return;
    }
    if (!benchSupport::waitFor([&] { return sim.requests() > 20; }, 10000)) {
        f.error = QStringLiteral("program did not start polling");
        return;
    }
    if (sim.command(QStringLiteral("fault exception 4")) != QLatin1String("ok")) {
        f.error = QStringLiteral("simulator refused the fault");
        return;
    }
    benchSupport::spin(1000);
    const qint64 before = processProbe::residentBytes(program.pid());
    const long requests0 = sim.requests();
    long requests1 = requests0;
    QElapsedTimer took;
    took.start();
    while (requests1 - requests0 < o.memoryFloodReads && took.elapsed() < kFloodLimitMs && program.isRunning()) {
        benchSupport::spin(250);
        requests1 = sim.requests();
    }
    const qint64 after = processProbe::residentBytes(program.pid());
    if (before < 0 || after < 0 || !program.isRunning()) {
        f.error = QStringLiteral("cannot read resident memory");
        return;
    }
    f.value = (after - before) / kMiB;
    f.note = QStringLiteral("%1 failed reads in %2 s, each worth two log lines before throttling; RSS %3 -> %4 MB")
                 .arg(requests1 - requests0)
                 .arg(took.elapsed() / 1000.0, 0, 'f', 0)
                 .arg(before / kMiB, 0, 'f', 1)
                 .arg(after / kMiB, 0, 'f', 1);
}

void runFlood(const benchOptions& o, figureTable& table)
{
    benchFigure f;
    f.name = QStringLiteral("memory_fault_flood");
    f.title = QStringLiteral("Memory growth");
    f.conditions = QStringLiteral("program, every read refused (exception 4), poll %1 ms, no wire emulation, %2 reads")
                       .arg(kFastestPollMs)
                       .arg(o.memoryFloodReads);
    f.unit = QStringLiteral("MB");
    f.goal = kGoalMb;
    f.decimals = 2;
    benchSimulator sim;
    if (!sim.start(0))
        f.error = QStringLiteral("simulator did not start");
    else
        measureFlood(f, sim, o);
    table.add(f);
}

} // namespace

void runMemory(const benchOptions& o, figureTable& table)
{
    runFlood(o, table);

    benchFigure f;
    f.name = QStringLiteral("memory_log_lines");
    f.title = QStringLiteral("Memory growth");
    f.conditions = QStringLiteral("main window, %1 log lines from another thread").arg(o.memoryLines);
    f.unit = QStringLiteral("MB");
    f.goal = kGoalMb;
    f.decimals = 2;

    mainWindow window;
    window.show();
    auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("m_statusOutput"));
    if (!log || !benchSupport::waitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); },
                                       5000)) {
        f.error = QStringLiteral("main window or its log not shown");
        table.add(f);
        return;
    }
    benchSupport::spin(300);

    std::atomic<int> received{0};
    QObject counter;
    QObject::connect(&g_consolePrint, &consolePrint::signalShowMsg, &counter, [&received] { ++received; });

    const int blocksBefore = log->blockCount();
    const qint64 before = processProbe::residentBytes(processProbe::selfPid());
    std::atomic<int> sent{0};
    std::atomic<bool> stop{false};
    // Lines come in bursts no faster than the GUI thread takes them, so the
    // event queue stays short and what grows is what the log keeps.
    std::thread producer([&] {
        for (int i = 0; i < o.memoryLines && !stop; ++i) {
            while (sent - received > kBatch && !stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            g_consolePrint.showMsg(QStringLiteral("ERR:-104:When reading register start from 40016 (%1)").arg(i));
            ++sent;
        }
    });
    const bool all = benchSupport::waitFor([&] { return received >= o.memoryLines; }, 600000);
    stop = true;
    producer.join();
    benchSupport::spin(500);
    const qint64 after = processProbe::residentBytes(processProbe::selfPid());

    if (!all || before < 0 || after < 0) {
        f.error = all ? QStringLiteral("cannot read resident memory") : QStringLiteral("lines not delivered");
    } else {
        f.value = (after - before) / kMiB;
        f.note = QStringLiteral("RSS %1 -> %2 MB; the log holds %3 lines (%4 before)")
                     .arg(before / kMiB, 0, 'f', 1)
                     .arg(after / kMiB, 0, 'f', 1)
                     .arg(log->blockCount())
                     .arg(blocksBefore);
    }
    table.add(f);
}
