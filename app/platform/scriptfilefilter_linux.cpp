#include "scriptfilefilter.h"

namespace scriptFile {

QString dialogFilter()
{
    // Any program can serve as the script; a shell script is the usual one.
    return QStringLiteral("Shell scripts (*.sh);;All files (*)");
}

} // namespace scriptFile
