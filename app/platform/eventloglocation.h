// Where the event log lives, and how a written line is made to reach the disk
// itself rather than the system's cache: the record of a power loss has to
// survive the shutdown that the loss sets off.
#pragma once

#include <QString>

namespace platform {

// The folder of QR-7215.log and its rotated copies: $XDG_STATE_HOME/Tarvolt/UPS
// (~/.local/state when the variable is unset or not absolute) on Linux,
// %LOCALAPPDATA%\Tarvolt\UPS on Windows. Not made here.
QString eventLogFolder();

// Pushes what was written to the open file (fd, as QFile::handle() gives it,
// at path) down to the disk; false when the system refused.
bool syncToDisk(int fd, const QString& path);

} // namespace platform
