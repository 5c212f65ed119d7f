// Where the per-user settings store ("batPath", "batExecutePolicy") lives:
// the current user's registry key on Windows, an INI file under the XDG
// config folder elsewhere. And where the connection settings file lives.
#pragma once

#include <QSettings>
#include <QString>

namespace platform {

QString settingsStorePath();
QSettings::Format settingsStoreFormat();

// Where config_com.xml is read from and written to.
struct connectionSettingsFiles
{
    // Read and written.
    QString file;
    // Read instead while file does not exist yet; empty when there is none.
    QString firstStartDefault;
};

// Beside the executable, in appDir/configs (made when missing), wherever that
// folder can hold the file and the program is not installed into a prefix
// (see dataFolder). An installed tree (/usr, /opt, Program Files) usually
// cannot hold it anyway: the file then lives in the user's config folder
// (GenericConfigLocation + "/Tarvolt/UPS/config_com.xml", which honours
// XDG_CONFIG_HOME), and the one beside the executable, where it exists, is
// the first start's default.
connectionSettingsFiles connectionSettingsLocation(const QString& appDir);

} // namespace platform
