// The Modbus RTU slave of the simulated module: turns one request frame into
// the module's answer, with the faults the operator switched on.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "registerbank.h"

namespace qr7215sim {

enum class faultMode {
    none,
    timeout,    // the module hears nothing and answers nothing
    delay,      // every answer leaves late
    crc,        // every answer is damaged (bad CRC)
    exception   // every request is answered with one exception code
};

struct faultSetting {
    faultMode mode = faultMode::none;
    std::chrono::milliseconds delay{0};
    uint8_t exceptionCode = 0;
};

class modbusSlave
{
public:
    modbusSlave(registerBank& bank, uint8_t address);

    void setFault(const faultSetting& fault) { m_fault = fault; }
    const faultSetting& fault() const { return m_fault; }
    uint8_t address() const { return m_address; }

    // One complete frame, CRC included. Returns the answer frame with its CRC,
    // or nothing (bad CRC, another slave's request, a broadcast, the time-out fault).
    std::vector<uint8_t> handle(const std::vector<uint8_t>& frame);

    // Intact requests addressed to this slave so far, answered or not.
    uint64_t requestCount() const { return m_requests; }

private:
    std::vector<uint8_t> execute(const std::vector<uint8_t>& frame);

    registerBank& m_bank;
    uint8_t m_address;
    faultSetting m_fault;
    uint64_t m_requests = 0;
};

} // namespace qr7215sim
