// Wire-time arithmetic of a Modbus RTU exchange.
#include "wiretime.h"

#include <cstdint>

namespace qr7215sim {

std::chrono::nanoseconds wireTime(size_t requestBytes, size_t answerBytes, unsigned baud)
{
    if (baud == 0)
        return std::chrono::nanoseconds(0);
    constexpr uint64_t kBitsPerChar = 10;
    constexpr uint64_t kFrames = 2;
    uint64_t bits = (requestBytes + answerBytes) * kBitsPerChar;
    std::chrono::nanoseconds fixedSilence(0);
    if (baud > 19200)
        fixedSilence = std::chrono::microseconds(1750) * kFrames;
    else
        bits += kFrames * 35;  // 3.5 characters of 10 bits each
    // Whole bits times 1e9 / baud, rounded up: exact enough for any frame.
    const uint64_t ns = (bits * 1000000000ULL + baud - 1) / baud;
    return std::chrono::nanoseconds(ns) + fixedSilence;
}

} // namespace qr7215sim
