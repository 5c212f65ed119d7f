#include "serialportpath.h"

namespace platform {

bool serialPortExists(const QString&)
{
    return false;
}

} // namespace platform
