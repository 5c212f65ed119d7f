// Who holds a serial port that would not open because it is busy: the window
// and the headless monitor cannot both own one line, and "busy" alone does
// not tell the operator which one to stop.
#pragma once

#include <QString>

namespace platform {

// The process id of another process that has the port open (or holds its
// lock file), 0 when none can be found. name is a bare device name
// (ttyUSB0) or a path, as the connection settings give it.
qint64 portHolder(const QString& name);

// The holder's program name, empty when it cannot be read.
QString processName(qint64 pid);

// "port held by process N (name)", or empty when no holder can be found.
QString portHolderText(const QString& name);

} // namespace platform
