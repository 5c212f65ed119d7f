// Where a second start finds the running instance to ask it to show itself:
// a local socket beside the single-instance lock, or a named pipe.
#pragma once

#include <QString>

namespace platform {

QString instanceChannelName(const char* name);

} // namespace platform
