// Shared pieces of the device library tests: a descriptor for the simulator's
// line, and a scope that closes what a test opened even when it fails early.
#pragma once

#include <QString>

#include "sdk/qr7215sdk.h"

namespace sdktest {

inline deviceDescriptor lineDescriptor(uint32_t timeoutMs = 200, uint32_t retries = 1)
{
    deviceDescriptor d{};
    d.comMode = 0;
    d.comPort = 1;
    d.slaveAddress = 1;
    d.parity = 0;
    d.stopBits = 1;
    d.dataBits = 8;
    d.baudRate = 115200;
    d.responseTimeout = timeoutMs;
    d.retries = retries;
    return d;
}

// Binds the port and opens; returns the library's result.
inline int openOn(deviceDescriptor& d, const QString& port, deviceInfo* info = nullptr)
{
    deviceInfo scratch{};
    UPS_SetPortName(&d, port.toUtf8().constData());
    return UPS_DeviceOpen(&d, info ? info : &scratch);
}

class closeAtExit
{
public:
    explicit closeAtExit(deviceDescriptor& d) : m_d(d) {}
    ~closeAtExit()
    {
        if (m_d.handle)
            UPS_DeviceClose(&m_d);
        UPS_SetPortName(&m_d, nullptr);
    }

private:
    deviceDescriptor& m_d;
};

} // namespace sdktest
