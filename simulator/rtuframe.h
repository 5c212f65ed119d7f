// Modbus RTU framing for the simulator: the CRC and how long a request frame is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qr7215sim {

// CRC-16/MODBUS (polynomial 0xA001 reflected, start 0xFFFF). On the wire the
// low byte goes first.
uint16_t crc16(const uint8_t* data, size_t length);
void appendCrc(std::vector<uint8_t>& frame);
// True when the frame is long enough to carry a CRC and its last two bytes match.
bool crcValid(const std::vector<uint8_t>& frame);

// Returned by requestLength for a function whose length the module cannot
// tell: such a frame ends at a gap of silence.
constexpr size_t kLengthBySilence = static_cast<size_t>(-1);

// Total length (CRC included) of the request frame at the start of data, or 0
// while more bytes are needed to tell.
size_t requestLength(const uint8_t* data, size_t size);

} // namespace qr7215sim
