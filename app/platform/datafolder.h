// Where the program's read-only files live: the register table (iconfigs/),
// the style sheet (Themes/) and the help (help/).
#pragma once

#include <QString>

namespace platform {

// Beside the executable, in a build tree and in a portable copy. An
// executable installed into a prefix's bin/ (/usr/bin, /usr/local/bin,
// /opt/qr7215/bin) shares that folder with other programs, so its files are
// in <prefix>/share/qr7215 instead, which is taken whenever it exists.
QString dataFolder(const QString& appDir);

} // namespace platform
