// Where a serial port name the operator typed lives on this system.
#pragma once

#include <QString>

namespace platform {

// True when the name stands for a port present on this system, listed or not:
// on Linux a bare device name (ttyUSB0) found in /dev, or a path (a
// /dev/serial/by-id link, a pseudo-terminal link) that exists. Windows has no
// such names beside the system's list, so there it is always false.
bool serialPortExists(const QString& name);

} // namespace platform
