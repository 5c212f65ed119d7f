#include "ctlexit.h"

#include "sdk/qr7215sdk.h"

namespace ctlExit {

code forResult(int result)
{
    switch (result) {
    case QR7215_OK:
        return Ok;
    case QR7215_E_ARGUMENT:
        return Usage;
    case QR7215_E_PORT_NOT_FOUND:
    case QR7215_E_PORT_BUSY:
    case QR7215_E_PORT_SETUP:
    case QR7215_E_ALREADY_OPEN:
        return CannotOpen;
    case QR7215_E_PERMISSION:
        return Permission;
    case QR7215_E_TIMEOUT:
        return TimeOut;
    default:
        return ModuleError;
    }
}

QString summary()
{
    return QStringLiteral("Exit codes: 0 ok, 1 module error, 2 usage, 3 cannot open the port, "
                          "4 no permission, 5 time-out.");
}

} // namespace ctlExit
