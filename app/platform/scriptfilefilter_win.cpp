#include "scriptfilefilter.h"

namespace scriptFile {

QString dialogFilter()
{
    return QStringLiteral("bat files(*.bat)");
}

} // namespace scriptFile
