// The QR-7215 register map as the simulator serves it: which registers exist,
// who may write them, their ranges and their values at start.
#pragma once

#include <cstdint>
#include <vector>

namespace qr7215sim {

enum class registerAccess { readOnly, writeOnly, readWrite };

struct registerSpec {
    uint16_t number;
    registerAccess access;
    uint16_t minimum;  // range a Modbus write must keep to
    uint16_t maximum;
    uint16_t initial;
    const char* name;
};

constexpr int kFirstRegister = 40000;
constexpr int kLastRegister = 40043;

constexpr int kRegSlaveAddress = 40000;
constexpr int kRegPolicySetting = 40003;
constexpr int kRegLowBattery = 40004;
constexpr int kRegCommand = 40011;
constexpr int kRegInputVoltage = 40016;
constexpr int kRegInputCurrent = 40017;
constexpr int kRegOutputCurrent = 40019;
constexpr int kRegBatteryVoltage = 40020;
constexpr int kRegBatteryCurrent = 40021;
constexpr int kRegRuntime = 40023;
constexpr int kRegBatteryLevel = 40026;
constexpr int kRegPowerSource = 40027;
constexpr int kRegDcOk = 40028;
constexpr int kRegBatMode = 40029;
constexpr int kRegBatReady = 40030;
constexpr int kRegPolicyMirror = 40035;
constexpr int kRegDeviceType = 40040;

const std::vector<registerSpec>& registerMap();
// Null when the module has no register with that number.
const registerSpec* findRegister(int number);

} // namespace qr7215sim
