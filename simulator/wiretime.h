// How long a request and its answer take on a real serial line. A
// pseudo-terminal has no baud rate, so the simulator holds each answer back
// by this time when it is asked to behave like a line of a given speed.
#pragma once

#include <chrono>
#include <cstddef>

namespace qr7215sim {

// 8N1 (10 bits a character) for requestBytes + answerBytes, plus the
// 3.5-character silence that ends each of the two frames (1.75 ms at speeds
// above 19200 baud). Rounded up to whole nanoseconds; zero for a zero baud rate.
std::chrono::nanoseconds wireTime(size_t requestBytes, size_t answerBytes, unsigned baud);

} // namespace qr7215sim
