// The exported C functions of the device library: argument checks, then the
// connection table and the connection do the work. No C++ exception crosses
// this boundary.
#include "qr7215sdk.h"

#include <cstring>
#include <new>

#include "connection.h"
#include "connectiontable.h"
#include "resultcodes.h"
#include "serialport.h"

using namespace qr7215sdk;

namespace {

constexpr size_t kMaxNameLength = 4096;

// Register numbers run from 40000 to 65535 (protocol addresses 0..25535).
bool rangeValid(uint32_t start, uint32_t count, uint32_t maxCount)
{
    return count >= 1 && count <= maxCount && start >= QR7215_FIRST_REGISTER
           && uint64_t(start) + count - 1 <= 65535;
}

template <typename F>
int guarded(F f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return QR7215_E_IO;
    } catch (...) {
        return QR7215_E_IO;
    }
}

} // namespace

extern "C" {

int UPS_SetPortName(void* descriptor, const char* name)
{
    if (!descriptor)
        return QR7215_E_ARGUMENT;
    if (name && std::strlen(name) > kMaxNameLength)
        return QR7215_E_ARGUMENT;
    return guarded([&] {
        connectionTable::instance().bindName(descriptor, name ? std::string(name) : std::string());
        return QR7215_OK;
    });
}

int UPS_DeviceOpen(deviceDescriptor* descriptor, deviceInfo* info)
{
    if (!descriptor || !info)
        return QR7215_E_ARGUMENT;
    return guarded([&] {
        connectionTable& table = connectionTable::instance();
        int rc = table.reserve(descriptor);
        if (rc != QR7215_OK)
            return rc;
        std::shared_ptr<connection> link;
        deviceInfo found{};
        try {
            const std::string device =
                serialPort::deviceName(table.boundName(descriptor), descriptor->comPort);
            lineSettings line;
            rc = lineSettingsFrom(*descriptor, device, line);
            if (rc == QR7215_OK) {
                link = std::make_shared<connection>(line);
                // A close that came first leaves nothing to open; one that
                // comes during the open cuts its identification read short.
                rc = table.attach(descriptor, link) ? link->open(found) : QR7215_E_NOT_OPEN;
                if (rc != QR7215_OK)
                    link.reset();
            }
        } catch (...) {
            table.finish(descriptor, nullptr);
            throw;
        }
        const int entered = table.finish(descriptor, link);
        if (rc == QR7215_OK)
            rc = entered;
        if (rc == QR7215_OK)
            *info = found;
        return rc;
    });
}

int UPS_DeviceClose(deviceDescriptor* descriptor)
{
    if (!descriptor)
        return QR7215_E_ARGUMENT;
    return guarded([&] {
        connectionTable& table = connectionTable::instance();
        std::shared_ptr<connection> link = table.remove(descriptor);
        if (link) {
            link->close();
            return QR7215_OK;
        }
        // An open in progress (a silent module holds it for every retry's
        // time-out) ends within milliseconds, with QR7215_E_NOT_OPEN.
        std::shared_ptr<connection> pending;
        if (!table.cancelOpen(descriptor, pending))
            return QR7215_E_NOT_OPEN;
        if (pending)
            pending->abort();
        return QR7215_OK;
    });
}

int UPS_ReadRegisters(deviceDescriptor* descriptor, uint16_t start, uint8_t count, uint16_t* values)
{
    if (!descriptor || !values || !rangeValid(start, count, 125))
        return QR7215_E_ARGUMENT;
    return guarded([&] {
        std::shared_ptr<connection> link = connectionTable::instance().find(descriptor);
        return link ? link->readRegisters(start, count, values) : QR7215_E_NOT_OPEN;
    });
}

int UPS_WriteRegisters(deviceDescriptor* descriptor, uint32_t start, uint8_t count, const uint16_t* values)
{
    if (!descriptor || !values || !rangeValid(start, count, 123))
        return QR7215_E_ARGUMENT;
    return guarded([&] {
        std::shared_ptr<connection> link = connectionTable::instance().find(descriptor);
        return link ? link->writeRegisters(start, count, values) : QR7215_E_NOT_OPEN;
    });
}

const char* UPS_ErrorText(int code)
{
    return resultText(code);
}

} // extern "C"
