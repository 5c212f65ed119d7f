#include "eventloglocation.h"

#include <QStandardPaths>

#include <io.h>

namespace platform {

QString eventLogFolder()
{
    // GenericDataLocation is %LOCALAPPDATA% on Windows.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tarvolt/UPS");
}

bool syncToDisk(int fd)
{
    return ::_commit(fd) == 0;
}

} // namespace platform
