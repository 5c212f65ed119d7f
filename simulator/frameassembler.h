// Cuts the byte stream from the line into request frames: a frame of a known
// function ends at its expected length, any other at a gap of silence, and
// bytes that follow a gap always begin a new frame (which is how the slave
// finds its feet again after noise).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace qr7215sim {

class frameAssembler
{
public:
    using clock = std::chrono::steady_clock;

    explicit frameAssembler(std::chrono::milliseconds gap = std::chrono::milliseconds(15));

    void feed(const uint8_t* data, size_t size, clock::time_point now);
    // Frames complete at this moment, oldest first.
    std::vector<std::vector<uint8_t>> takeFrames(clock::time_point now);
    // When the bytes waiting now count as ended by silence; empty when none wait.
    std::optional<clock::time_point> silenceDeadline() const;

private:
    void cut(clock::time_point now);

    std::chrono::milliseconds m_gap;
    std::vector<std::vector<uint8_t>> m_ready;
    std::vector<uint8_t> m_buffer;
    clock::time_point m_lastByte{};
};

} // namespace qr7215sim
