// serialPort on Windows. CreateFile, which libmodbus uses to open the port,
// already gives a process the port alone (a second open fails with
// ERROR_ACCESS_DENIED), so there is nothing to claim; a vanished USB adapter
// shows as failing reads and writes, which the request layer reports.
#include "serialport.h"

#include <windows.h>

#include "qr7215sdk.h"

namespace qr7215sdk {

serialPort::~serialPort() = default;

std::string serialPort::deviceName(const std::string& boundName, unsigned portNumber)
{
    if (!boundName.empty()) {
        if (boundName.rfind("\\\\", 0) == 0)
            return boundName;
        return "\\\\.\\" + boundName;  // needed for COM10 and above, harmless below
    }
    if (portNumber == 0)
        return std::string();
    return "\\\\.\\COM" + std::to_string(portNumber);
}

bool serialPort::baudSupported(uint32_t baud)
{
    return baud > 0;  // the driver decides; SetCommState refuses what it cannot do
}

int serialPort::claim(const std::string&)
{
    return QR7215_OK;
}

int serialPort::connectError(int)
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QR7215_E_PORT_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return QR7215_E_PORT_BUSY;
    default:
        return QR7215_E_PORT_SETUP;
    }
}

void serialPort::attach(_modbus*)
{
}

bool serialPort::hungUp() const
{
    return false;
}

void serialPort::detach()
{
}

void serialPort::release()
{
}

} // namespace qr7215sdk
