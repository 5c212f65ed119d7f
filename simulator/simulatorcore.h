// Everything the simulator does apart from its input and output: request
// frames in, answers out at the time they are due, operator commands, and the
// battery clock. The main loop feeds it bytes and lines and asks it when to wake.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frameassembler.h"
#include "modbusslave.h"
#include "registerbank.h"

namespace qr7215sim {

class simulatorCore
{
public:
    using clock = std::chrono::steady_clock;

    // baud 0: answers leave at once; otherwise they are held back by their wire time.
    simulatorCore(uint8_t slaveAddress, unsigned baud);

    // Bytes from the line.
    void receive(const uint8_t* data, size_t size, clock::time_point now);
    // Handles what is due at now (frames ended, battery steps) and returns the
    // bytes to send on the line now.
    std::vector<uint8_t> poll(clock::time_point now);
    // The next moment poll has something to do; empty when only input can wake it.
    std::optional<clock::time_point> nextWake() const;

    // One operator line; returns the answer line (without newline). quit is
    // set when the line asked the simulator to end.
    std::string command(const std::string& line, clock::time_point now, bool& quit);

    // Time between two battery steps of one percent.
    static constexpr std::chrono::seconds kBatteryStep{2};

private:
    struct heldAnswer {
        clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    registerBank m_bank;
    modbusSlave m_slave;
    frameAssembler m_frames;
    unsigned m_baud;
    std::vector<heldAnswer> m_held;  // in the order they are due
    std::optional<clock::time_point> m_nextBatteryStep;
};

} // namespace qr7215sim
