// The register table itself (docs/register-map.md is the reference).
#include "registermap.h"

namespace qr7215sim {

namespace {

constexpr registerAccess R = registerAccess::readOnly;
constexpr registerAccess W = registerAccess::writeOnly;
constexpr registerAccess RW = registerAccess::readWrite;

} // namespace

const std::vector<registerSpec>& registerMap()
{
    static const std::vector<registerSpec> map = {
        {QR7215_REG_SLAVE_ADDRESS, RW, 1, 247, 1, "Slave address"},
        {QR7215_REG_BAUD_CODE, RW, 0, 7, 7, "Baud rate code"},
        {QR7215_REG_PARITY, RW, 0, 2, 0, "Parity"},
        {QR7215_REG_POLICY_SETTING, RW, 0, QR7215_POLICY_MODE_COUNT - 1, QR7215_POLICY_MODE_PC, "Policy mode setting"},
        {QR7215_REG_LOW_BATTERY, RW, 0, 100, 20, "Low battery level"},
        {QR7215_REG_SHUTDOWN_DELAY, RW, 0, 3600, 30, "Shutdown delay"},
        {QR7215_REG_RESTART_DELAY, RW, 0, 3600, 10, "Restart delay"},
        {QR7215_REG_OUTPUT_SETPOINT, RW, 5000, 28000, 12000, "Output voltage setpoint"},
        {QR7215_REG_CHARGE_LIMIT, RW, 100, 5000, 1500, "Charge current limit"},
        {QR7215_REG_BUZZER, RW, 0, 1, 1, "Buzzer"},
        {QR7215_REG_REMOTE_ENABLE, RW, 0, 1, 1, "Remote enable"},
        {QR7215_REG_COMMAND, W, 1, 3, 0, "Command"},
        {QR7215_REG_BATTERY_CAPACITY, R, 0, 65535, 2200, "Battery capacity"},
        {QR7215_REG_OPERATING_HOURS, R, 0, 65535, 1234, "Operating hours"},
        {QR7215_REG_CHARGE_CYCLES, R, 0, 65535, 87, "Charge cycles"},
        {QR7215_REG_ALARM_FLAGS, R, 0, 65535, 0, "Alarm flags"},
        {QR7215_REG_INPUT_VOLTAGE, R, 0, 65535, 24000, "Input voltage"},
        {QR7215_REG_INPUT_CURRENT, R, 0, 65535, 850, "Input current"},
        {QR7215_REG_OUTPUT_VOLTAGE, R, 0, 65535, 12000, "Output voltage"},
        {QR7215_REG_OUTPUT_CURRENT, R, 0, 65535, 1200, "Output current"},
        {QR7215_REG_BATTERY_VOLTAGE, R, 0, 65535, 12600, "Battery voltage"},
        {QR7215_REG_BATTERY_CURRENT, R, 0, 65535, 0, "Battery current"},
        {QR7215_REG_TEMPERATURE, R, 0, 65535, 315, "Temperature"},
        {QR7215_REG_RUNTIME, R, 0, 65535, 95, "Runtime"},
        {QR7215_REG_RESERVED_1, R, 0, 65535, 0, "Reserved"},
        {QR7215_REG_RESERVED_2, R, 0, 65535, 0, "Reserved"},
        {QR7215_REG_BATTERY_LEVEL, R, 0, 65535, 100, "Battery level"},
        {QR7215_REG_POWER_SOURCE, R, 0, 65535, 1, "Power source"},
        {QR7215_REG_DC_OK, R, 0, 65535, 1, "DC_OK"},
        {QR7215_REG_BAT_MODE, R, 0, 65535, 0, "Bat.Mode"},
        {QR7215_REG_BAT_READY, R, 0, 65535, 1, "Bat.Ready"},
        {QR7215_REG_SW, R, 0, 65535, 0, "SW"},
        {QR7215_REG_REMOTE, R, 0, 65535, 0, "Remote"},
        {QR7215_REG_BAT_START, R, 0, 65535, 0, "Bat.Start"},
        {QR7215_REG_DEV_PSTS, R, 0, 65535, 1, "Dev.PSts"},
        {QR7215_REG_POLICY_MODE, R, 0, 65535, 0, "Policy mode"},
        {QR7215_REG_DEVICE_TYPE, R, 0, 65535, QR7215_DEVICE_TYPE, "Device type"},
        {QR7215_REG_HW_VERSION, R, 0, 65535, 102, "Hardware version"},
        {QR7215_REG_FW_VERSION, R, 0, 65535, 215, "Firmware version"},
        {QR7215_REG_DRIVER_VERSION, R, 0, 65535, 110, "Driver version"},
    };
    return map;
}

const registerSpec* findRegister(int number)
{
    for (const registerSpec& entry : registerMap()) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

} // namespace qr7215sim
