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
        {40000, RW, 1, 247, 1, "Slave address"},
        {40001, RW, 0, 7, 7, "Baud rate code"},
        {40002, RW, 0, 2, 0, "Parity"},
        {40003, RW, 0, 9, 0, "Policy mode setting"},
        {40004, RW, 0, 100, 20, "Low battery level"},
        {40005, RW, 0, 3600, 30, "Shutdown delay"},
        {40006, RW, 0, 3600, 10, "Restart delay"},
        {40007, RW, 5000, 28000, 12000, "Output voltage setpoint"},
        {40008, RW, 100, 5000, 1500, "Charge current limit"},
        {40009, RW, 0, 1, 1, "Buzzer"},
        {40010, RW, 0, 1, 1, "Remote enable"},
        {40011, W, 1, 3, 0, "Command"},
        {40012, R, 0, 65535, 2200, "Battery capacity"},
        {40013, R, 0, 65535, 1234, "Operating hours"},
        {40014, R, 0, 65535, 87, "Charge cycles"},
        {40015, R, 0, 65535, 0, "Alarm flags"},
        {40016, R, 0, 65535, 24000, "Input voltage"},
        {40017, R, 0, 65535, 850, "Input current"},
        {40018, R, 0, 65535, 12000, "Output voltage"},
        {40019, R, 0, 65535, 1200, "Output current"},
        {40020, R, 0, 65535, 12600, "Battery voltage"},
        {40021, R, 0, 65535, 0, "Battery current"},
        {40022, R, 0, 65535, 315, "Temperature"},
        {40023, R, 0, 65535, 95, "Runtime"},
        {40024, R, 0, 65535, 0, "Reserved"},
        {40025, R, 0, 65535, 0, "Reserved"},
        {40026, R, 0, 65535, 100, "Battery level"},
        {40027, R, 0, 65535, 1, "Power source"},
        {40028, R, 0, 65535, 1, "DC_OK"},
        {40029, R, 0, 65535, 0, "Bat.Mode"},
        {40030, R, 0, 65535, 1, "Bat.Ready"},
        {40031, R, 0, 65535, 0, "SW"},
        {40032, R, 0, 65535, 0, "Remote"},
        {40033, R, 0, 65535, 0, "Bat.Start"},
        {40034, R, 0, 65535, 1, "Dev.PSts"},
        {40035, R, 0, 65535, 0, "Policy mode"},
        {40040, R, 0, 65535, 0x7215, "Device type"},
        {40041, R, 0, 65535, 102, "Hardware version"},
        {40042, R, 0, 65535, 215, "Firmware version"},
        {40043, R, 0, 65535, 110, "Driver version"},
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
