// Where the read-only files live, the same way on every system.
#include "datafolder.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

QString dataFolder(const QString& appDir)
{
    const QString shared = QDir::cleanPath(appDir + QStringLiteral("/../share/qr7215"));
    return QFileInfo(shared).isDir() ? shared : appDir;
}

} // namespace platform
