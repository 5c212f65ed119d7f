// serialPort on Windows. CreateFile, which libmodbus uses to open the port,
// already gives a process the port alone (a second open fails with
// ERROR_ACCESS_DENIED), so there is nothing to claim; a vanished USB adapter
// shows as failing reads and writes, which the request layer reports.
// libmodbus keeps the port's handle to itself, so input cannot be watched
// here: waitForInput() only waits (until the time is up or wake() comes).
#include "serialport.h"

#include <windows.h>

#include "qr7215sdk.h"

namespace qr7215sdk {

serialPort::serialPort()
    : m_wakeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

serialPort::~serialPort()
{
    if (m_wakeEvent)
        CloseHandle(m_wakeEvent);
}

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
    // Without its wake object a request on this port could not be cut short.
    return m_wakeEvent ? QR7215_OK : QR7215_E_IO;
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

bool serialPort::watchesInput()
{
    return false;
}

serialPort::waitResult serialPort::waitForInput(uint32_t timeoutMs)
{
    if (!m_wakeEvent) {
        Sleep(timeoutMs);
        return waitResult::quiet;
    }
    return WaitForSingleObject(m_wakeEvent, timeoutMs) == WAIT_OBJECT_0 ? waitResult::woken
                                                                         : waitResult::quiet;
}

void serialPort::wake()
{
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
}

} // namespace qr7215sdk
