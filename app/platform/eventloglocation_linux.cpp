#include "eventloglocation.h"

#include <QDir>

#include <unistd.h>

namespace platform {

QString eventLogFolder()
{
    // Qt 5 knows no state location; the XDG rule is short enough to follow here.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Tarvolt/UPS");
}

bool syncToDisk(int fd, const QString&)
{
    return ::fdatasync(fd) == 0;
}

} // namespace platform
