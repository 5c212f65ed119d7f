// Modbus RTU CRC and request lengths.
#include "rtuframe.h"

namespace qr7215sim {

uint16_t crc16(const uint8_t* data, size_t length)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void appendCrc(std::vector<uint8_t>& frame)
{
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool crcValid(const std::vector<uint8_t>& frame)
{
    if (frame.size() < 4)
        return false;
    const size_t n = frame.size() - 2;
    const uint16_t crc = crc16(frame.data(), n);
    return frame[n] == (crc & 0xFF) && frame[n + 1] == (crc >> 8);
}

size_t requestLength(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    switch (data[1]) {
    case 0x03:  // slave, function, address, count, CRC
    case 0x06:  // slave, function, address, value, CRC
        return 8;
    case 0x10:  // slave, function, address, count, byte count, data, CRC
        if (size < 7)
            return 0;
        return 9 + static_cast<size_t>(data[6]);
    default:
        return kLengthBySilence;
    }
}

} // namespace qr7215sim
