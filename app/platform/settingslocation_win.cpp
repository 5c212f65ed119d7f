#include "settingslocation.h"

namespace platform {

QString settingsStorePath()
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Tarvolt\\UPS\\QR-7215");
}

QSettings::Format settingsStoreFormat()
{
    return QSettings::NativeFormat;
}

} // namespace platform
