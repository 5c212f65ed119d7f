// The figures qr7215-bench takes, one function per family, and what they share.
#pragma once

#include "benchoptions.h"
#include "figuretable.h"

#include <QString>

#include <functional>

class SimulatorProcess;
using benchSimulator = SimulatorProcess;

// Poll cadence of the status poll thread.
void runCadence(const benchOptions& options, figureTable& table);
// From a register change in the module to the status page showing it.
void runLatency(const benchOptions& options, figureTable& table);
// The device library against a bare libmodbus loop.
void runOverhead(const benchOptions& options, figureTable& table);
// Longest GUI stall with the Config page refreshing.
void runResponsiveness(const benchOptions& options, figureTable& table);
// CPU use of the running program while it monitors.
void runCpu(const benchOptions& options, figureTable& table);
// Resident memory growth over many log lines.
void runMemory(const benchOptions& options, figureTable& table);
// From the module losing DC to the post-process script's start, Config tab current.
void runScript(const benchOptions& options, figureTable& table);
// From exec to the main window shown.
void runStartup(const benchOptions& options, figureTable& table);
// The program's own start sequence, timed, in a child process of the benchmark.
int startupChild(int argc, char** argv);
// The program's main window with one operator step, in a child process of the
// benchmark (utilityProcess::startWindowChild()).
int windowChild(int argc, char** argv);

namespace benchSupport {

// Runs the GUI thread's event loop for `ms`.
void spin(int ms);
// Runs the event loop until `done` holds or `timeoutMs` passed; true when it holds.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
// Opens the global device adapter on the simulator's link.
bool openAdapter(const benchSimulator& sim, unsigned baud, quint32 timeoutMs = 1000, quint32 retries = 3,
                 quint32 pollDelay = 10);
void closeAdapter();
// ns for `reads` back-to-back reads of the status block by libmodbus alone,
// after `warmUpReads` untimed ones; -1 on any failure.
qint64 bareReadsNs(const QString& link, int reads, int warmUpReads);
// Monotonic clock in ns, comparable between processes.
qint64 monotonicNs();

} // namespace benchSupport
