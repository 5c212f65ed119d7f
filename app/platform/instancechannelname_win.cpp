// The instance channel on Windows: a named pipe per user name, since pipe
// names are seen by the whole machine.
#include "instancechannelname.h"

#include <QtGlobal>

namespace platform {

QString instanceChannelName(const char* name)
{
    return QString::fromUtf8(name) + QLatin1Char('-') + qEnvironmentVariable("USERNAME");
}

} // namespace platform
