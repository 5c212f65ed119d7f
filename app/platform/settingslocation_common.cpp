// Where the connection settings file lives, the same way on every system.
#include "settingslocation.h"

#include "datafolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {
namespace {

const QString kFileName = QStringLiteral("config_com.xml");

// The folder exists (or could be made) and a file can be put there. Asked of
// the system rather than of the mode bits, so a read-only mount counts too;
// an existing file that cannot be replaced counts as well.
bool canHold(const QString& folder, const QString& file)
{
    if (!QDir(folder).exists() && !QDir().mkpath(folder))
        return false;
    if (!QFileInfo(folder).isWritable())
        return false;
    return !QFileInfo::exists(file) || QFileInfo(file).isWritable();
}

} // namespace

connectionSettingsFiles connectionSettingsLocation(const QString& appDir)
{
    const QString folder = appDir + QStringLiteral("/configs");
    const QString beside = folder + QLatin1Char('/') + kFileName;
    connectionSettingsFiles files;
    // An installed program keeps no settings in its bin/ folder, not even for
    // root, who could write there.
    const bool installed = dataFolder(appDir) != appDir;
    if (!installed && canHold(folder, beside)) {
        files.file = beside;
        return files;
    }
    // GenericConfigLocation honours XDG_CONFIG_HOME and falls back to ~/.config.
    const QString userFolder
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Tarvolt/UPS");
    QDir().mkpath(userFolder);
    files.file = userFolder + QLatin1Char('/') + kFileName;
    if (QFileInfo::exists(beside))
        files.firstStartDefault = beside;
    return files;
}

} // namespace platform
