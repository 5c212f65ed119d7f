#include "settingslocation.h"

#include <QStandardPaths>

namespace platform {

QString settingsStorePath()
{
    // GenericConfigLocation honours XDG_CONFIG_HOME and falls back to ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Tarvolt/UPS/QR-7215.conf");
}

QSettings::Format settingsStoreFormat()
{
    return QSettings::IniFormat;
}

} // namespace platform
