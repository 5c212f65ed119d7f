// Register access rules and the battery model of the simulated module.
#include "registerbank.h"

#include <algorithm>

namespace qr7215sim {

namespace {

constexpr uint16_t kChargeCurrent = 500;          // mA while the battery charges
constexpr uint16_t kEmptyBatteryVoltage = 11000;  // mV at 0 %, 12600 at 100 %
constexpr uint16_t kFullRuntime = 95;             // minutes at 100 %

} // namespace

registerBank::registerBank()
{
    for (const registerSpec& entry : registerMap())
        at(entry.number) = entry.initial;
    m_inputVoltage = at(kRegInputVoltage);
    m_inputCurrent = at(kRegInputCurrent);
}

uint8_t registerBank::read(uint16_t address, uint16_t count, std::vector<uint16_t>& values) const
{
    if (count < 1 || count > 125)
        return kIllegalDataValue;
    values.clear();
    for (int i = 0; i < count; ++i) {
        const int reg = kFirstRegister + address + i;
        if (!findRegister(reg))
            return kIllegalDataAddress;
        values.push_back(at(reg));
    }
    return 0;
}

uint8_t registerBank::write(uint16_t address, const std::vector<uint16_t>& values)
{
    if (values.empty() || values.size() > 123)
        return kIllegalDataValue;
    // Check everything first so that a refused write changes nothing.
    for (size_t i = 0; i < values.size(); ++i) {
        const registerSpec* entry = findRegister(kFirstRegister + address + static_cast<int>(i));
        if (!entry || entry->access == registerAccess::readOnly)
            return kIllegalDataAddress;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const registerSpec* entry = findRegister(kFirstRegister + address + static_cast<int>(i));
        if (values[i] < entry->minimum || values[i] > entry->maximum)
            return kIllegalDataValue;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const int reg = kFirstRegister + address + static_cast<int>(i);
        // A command is acted on, not kept: the register reads as 0.
        if (reg == kRegCommand)
            continue;
        store(reg, values[i]);
    }
    return 0;
}

bool registerBank::set(int reg, uint16_t value)
{
    if (!findRegister(reg))
        return false;
    store(reg, value);
    return true;
}

bool registerBank::get(int reg, uint16_t& value) const
{
    if (!findRegister(reg))
        return false;
    value = at(reg);
    return true;
}

void registerBank::store(int reg, uint16_t value)
{
    at(reg) = value;
    if (reg == kRegPolicySetting)
        at(kRegPolicyMirror) = value;
}

void registerBank::powerFail()
{
    if (at(kRegDcOk) != 0) {
        m_inputVoltage = at(kRegInputVoltage);
        m_inputCurrent = at(kRegInputCurrent);
    }
    at(kRegDcOk) = 0;
    at(kRegPowerSource) = 2;
    at(kRegBatMode) = 1;
    at(kRegInputVoltage) = 0;
    at(kRegInputCurrent) = 0;
    at(kRegBatteryCurrent) = at(kRegOutputCurrent);
    m_battery = batteryState::discharging;
    followBatteryLevel();
}

void registerBank::powerRestore()
{
    at(kRegDcOk) = 1;
    at(kRegPowerSource) = 1;
    at(kRegBatMode) = 0;
    at(kRegInputVoltage) = m_inputVoltage ? m_inputVoltage : 24000;
    at(kRegInputCurrent) = m_inputCurrent;
    m_battery = batteryState::charging;
    followBatteryLevel();
}

void registerBank::stepBattery()
{
    uint16_t& level = at(kRegBatteryLevel);
    if (m_battery == batteryState::discharging && level > 0)
        --level;
    else if (m_battery == batteryState::charging && level < 100)
        ++level;
    followBatteryLevel();
}

void registerBank::followBatteryLevel()
{
    const uint16_t level = std::min<uint16_t>(at(kRegBatteryLevel), 100);
    if (m_battery == batteryState::charging && level >= 100)
        m_battery = batteryState::idle;
    if (m_battery == batteryState::discharging && level == 0)
        m_battery = batteryState::idle;  // empty: nothing left to drain
    if (at(kRegDcOk) != 0)
        at(kRegBatteryCurrent) = level < 100 ? kChargeCurrent : 0;
    at(kRegBatteryVoltage) = static_cast<uint16_t>(kEmptyBatteryVoltage + 16 * level);
    at(kRegRuntime) = static_cast<uint16_t>(kFullRuntime * level / 100);
    at(kRegBatReady) = level >= at(kRegLowBattery) && level > 0 ? 1 : 0;
}

} // namespace qr7215sim
