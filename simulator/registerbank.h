// The simulated module's registers: Modbus reads and writes with the module's
// access rules and exceptions, the operator's direct access, and the battery
// that drains on a power failure and charges once power is back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "registermap.h"

namespace qr7215sim {

// Modbus exception codes the module answers with.
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalDataAddress = 2;
constexpr uint8_t kIllegalDataValue = 3;

class registerBank
{
public:
    registerBank();

    // Modbus side, by protocol address (register number - 40000). Returns 0 or
    // the exception code. A write of several registers is applied whole or not at all.
    uint8_t read(uint16_t address, uint16_t count, std::vector<uint16_t>& values) const;
    uint8_t write(uint16_t address, const std::vector<uint16_t>& values);

    // Operator side, by register number: any existing register, any value,
    // whatever its access and range.
    bool set(int reg, uint16_t value);
    bool get(int reg, uint16_t& value) const;

    void powerFail();
    void powerRestore();
    // One step of the battery level (one percent down or up) while it moves.
    void stepBattery();
    bool batteryMoving() const { return m_battery != batteryState::idle; }

private:
    enum class batteryState { idle, discharging, charging };

    uint16_t& at(int reg) { return m_values[static_cast<size_t>(reg - kFirstRegister)]; }
    uint16_t at(int reg) const { return m_values[static_cast<size_t>(reg - kFirstRegister)]; }
    void store(int reg, uint16_t value);
    void followBatteryLevel();

    std::array<uint16_t, kLastRegister - kFirstRegister + 1> m_values{};
    batteryState m_battery = batteryState::idle;
    uint16_t m_inputVoltage = 0;  // what comes back when power returns
    uint16_t m_inputCurrent = 0;
};

} // namespace qr7215sim
