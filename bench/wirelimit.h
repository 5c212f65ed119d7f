// What the line itself costs: the time a Modbus RTU read of N registers takes
// on a real line at a given speed, request and answer frames with their
// silences (the same arithmetic the simulator's wire emulation uses).
#pragma once

#include <QString>

namespace wireLimit {

// Milliseconds for one read of `registers` registers (function 0x03) at `baud`.
double readMs(int registers, unsigned baud);
// "8.1 ms" style text for tables.
QString readText(int registers, unsigned baud);

} // namespace wireLimit
