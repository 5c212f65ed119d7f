// The QR-7215 register map as the simulator serves it: which registers exist,
// who may write them, their ranges and their values at start.
#pragma once

#include "qr7215registers.h"

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

constexpr int kFirstRegister = QR7215_FIRST_REGISTER;
constexpr int kLastRegister = QR7215_LAST_REGISTER;

constexpr int kRegSlaveAddress = QR7215_REG_SLAVE_ADDRESS;
constexpr int kRegPolicySetting = QR7215_REG_POLICY_SETTING;
constexpr int kRegLowBattery = QR7215_REG_LOW_BATTERY;
constexpr int kRegCommand = QR7215_REG_COMMAND;
constexpr int kRegInputVoltage = QR7215_REG_INPUT_VOLTAGE;
constexpr int kRegInputCurrent = QR7215_REG_INPUT_CURRENT;
constexpr int kRegOutputCurrent = QR7215_REG_OUTPUT_CURRENT;
constexpr int kRegBatteryVoltage = QR7215_REG_BATTERY_VOLTAGE;
constexpr int kRegBatteryCurrent = QR7215_REG_BATTERY_CURRENT;
constexpr int kRegRuntime = QR7215_REG_RUNTIME;
constexpr int kRegBatteryLevel = QR7215_REG_BATTERY_LEVEL;
constexpr int kRegPowerSource = QR7215_REG_POWER_SOURCE;
constexpr int kRegDcOk = QR7215_REG_DC_OK;
constexpr int kRegBatMode = QR7215_REG_BAT_MODE;
constexpr int kRegBatReady = QR7215_REG_BAT_READY;
constexpr int kRegPolicyMirror = QR7215_REG_POLICY_MODE;
constexpr int kRegDeviceType = QR7215_REG_DEVICE_TYPE;

const std::vector<registerSpec>& registerMap();
// Null when the module has no register with that number.
const registerSpec* findRegister(int number);

} // namespace qr7215sim
