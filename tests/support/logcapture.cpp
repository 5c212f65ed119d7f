#include "logcapture.h"

LogCapture::LogCapture()
{
    // Each capture starts with a fresh throttle, so a failure line an earlier
    // test already logged counts as a first occurrence again.
    g_consolePrint.throttle().reset();
    // Direct delivery from the GUI thread, queued from the poll thread: the
    // same road the log page's lines take.
    connect(&g_consolePrint, &consolePrint::signalShowMsg, this, [this](const QString& m) { lines << m; });
    connect(&g_consolePrint, &consolePrint::signalShowHwVer, this, [this](const QString& m) { hwVersions << m; });
    connect(&g_consolePrint, &consolePrint::signalShowFwVer, this, [this](const QString& m) { fwVersions << m; });
    connect(&g_consolePrint, &consolePrint::signalShowDrvVer, this, [this](const QString& m) { drvVersions << m; });
}

int LogCapture::countStartingWith(const QString& prefix) const
{
    int n = 0;
    for (const QString& l : lines)
        n += l.startsWith(prefix) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    lines.clear();
    hwVersions.clear();
    fwVersions.clear();
    drvVersions.clear();
}
