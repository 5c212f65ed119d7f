// Result codes of the device library: what an errno left by libmodbus means
// for the caller, and the text that goes with each code.
#pragma once

#include <cstdint>

namespace qr7215sdk {

// The code for an errno value left by a failed libmodbus call during a
// request (time-out, damaged answer, Modbus exception, lost line...).
int resultForModbusErrno(int err);

// -100 - code.
int exceptionResult(uint8_t exceptionCode);

// Short English text for any result code; never null.
const char* resultText(int code);

} // namespace qr7215sdk
