// Where the per-user settings store ("batPath", "batExecutePolicy") lives:
// the current user's registry key on Windows, an INI file under the XDG
// config folder elsewhere.
#pragma once

#include <QSettings>
#include <QString>

namespace platform {

QString settingsStorePath();
QSettings::Format settingsStoreFormat();

} // namespace platform
