#include "serialportpath.h"

#include <QFileInfo>

namespace platform {

bool serialPortExists(const QString& name)
{
    if (name.isEmpty())
        return false;
    // The device library opens a bare name under /dev and a path as it stands.
    if (name.contains(QLatin1Char('/')))
        return QFileInfo::exists(name);
    return QFileInfo::exists(QStringLiteral("/dev/") + name);
}

} // namespace platform
