// qr7215ctl monitor: the program's watch without its window. The same poll,
// edges, policy, delay, thresholds and script (powerWatch), the same log
// lines on standard error, the link supervisor's reconnects, and optionally
// the NUT data file. Runs until SIGTERM or SIGINT.
#pragma once

#include "ctloptions.h"

#include <QObject>
#include <QString>

class ctlMonitor : public QObject
{
    Q_OBJECT
public:
    // Made before the open, whose report carries the firmware version.
    ctlMonitor();

    // The link is open already (the caller has said why when it is not).
    // Returns the exit code once the event loop has ended.
    int run(const ctlOptions& options);

    // How a log line reaches standard error: stamped as the log page stamps it.
    static QString stamped(const QString& line);

private:
    QString m_firmware;
};
