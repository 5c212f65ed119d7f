#include "scriptfilefilter.h"

namespace scriptFile {

QString dialogFilter()
{
#ifdef Q_OS_WIN
    return QStringLiteral("bat files(*.bat)");
#else
    // Any program can serve as the script; a shell script is the usual one.
    return QStringLiteral("Shell scripts (*.sh);;All files (*)");
#endif
}

} // namespace scriptFile
