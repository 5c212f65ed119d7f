// How long and how often each figure of qr7215-bench is sampled: a quick pass
// that only shows the benchmark still works, or a full run worth quoting.
#pragma once

#include <QString>

struct benchOptions
{
    bool quick = false;
    // Figures whose name starts with this run; empty runs them all.
    QString only;

    // Poll cadence: windows of this many intervals between reads.
    int cadenceWindows = 10;
    int cadenceReadsPerWindow = 20;
    // Poll cadence beside the Config page's refresh: seconds watched.
    int cadenceSharedSeconds = 12;
    // Display latency: register changes timed per line speed.
    int latencySamples = 60;
    // Library overhead: windows of back-to-back reads, each side.
    int overheadWindows = 9;
    int overheadReadsPerWindow = 1000;
    // GUI responsiveness: seconds watched per case.
    int responsivenessSeconds = 12;
    // CPU: seconds of monitoring, after the warm-up.
    int cpuSeconds = 30;
    // CPU: length of one window, in ms.
    int cpuWindowMs = 1000;
    // Memory: log lines sent through the message bus, and reads a module
    // refuses (two log lines each, before throttling).
    int memoryLines = 100000;
    int memoryFloodReads = 6000;
    // Start-up: program starts timed.
    int startupSamples = 15;
    // Power fail to script: losses timed.
    int scriptSamples = 20;

    static benchOptions quickPass()
    {
        benchOptions o;
        o.quick = true;
        o.cadenceWindows = 2;
        o.cadenceReadsPerWindow = 3;
        o.cadenceSharedSeconds = 1;
        o.latencySamples = 4;
        o.overheadWindows = 3;
        o.overheadReadsPerWindow = 100;
        o.responsivenessSeconds = 1;
        o.cpuSeconds = 2;
        o.cpuWindowMs = 400;
        o.memoryLines = 10000;
        o.memoryFloodReads = 50;
        o.startupSamples = 2;
        o.scriptSamples = 1;
        return o;
    }

    bool wants(const QString& figureFamily) const { return only.isEmpty() || figureFamily.startsWith(only); }
};
