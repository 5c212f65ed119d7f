// The simulator's request side on any byte stream with any timing: the frame
// assembler cuts it into frames, the slave answers them. The input is a
// script of steps: bytes arriving, time passing, operator commands, polls.
// Beside the whole simulator (which must simply survive), a bare assembler
// and slave are checked: frames only from bytes that came, and every answer
// a well-formed Modbus answer to its request.
#include "frameassembler.h"
#include "modbusslave.h"
#include "registerbank.h"
#include "rtuframe.h"
#include "simulatorcore.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace qr7215sim;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr uint8_t kSlave = 1;

uint16_t word(const std::vector<uint8_t>& f, size_t at)
{
    return static_cast<uint16_t>((f[at] << 8) | f[at + 1]);
}

void checkAnswer(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& answer)
{
    if (answer.empty())
        return;
    if (!crcValid(frame) || frame[0] != kSlave || !crcValid(answer) || answer[0] != kSlave)
        abort();
    if (answer.size() == 5 && answer[1] == (frame[1] | 0x80)) {
        if (answer[2] < 1 || answer[2] > 3)
            abort();
        return;
    }
    if (answer[1] != frame[1])
        abort();
    if (frame[1] == 0x03) {
        const size_t count = word(frame, 4);
        if (answer[2] != 2 * count || answer.size() != 5 + 2 * count)
            abort();
    } else if (frame[1] == 0x06 || frame[1] == 0x10) {
        if (answer.size() != 8 || !std::equal(answer.begin(), answer.begin() + 6, frame.begin()))
            abort();
    } else {
        abort();  // any other function is refused with an exception
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    simulatorCore core(kSlave, 0);
    frameAssembler frames;
    registerBank bank;
    modbusSlave slave(bank, kSlave);
    clock_type::time_point now{};
    size_t fed = 0;
    size_t framed = 0;

    auto settle = [&] {
        for (const std::vector<uint8_t>& frame : frames.takeFrames(now)) {
            if (frame.empty())
                abort();
            framed += frame.size();
            if (framed > fed)
                abort();
            checkAnswer(frame, slave.handle(frame));
        }
        core.poll(now);
    };

    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
    while (i < size) {
        const uint8_t op = next();
        switch (op % 4) {
        case 0: {
            const size_t wanted = next() % 40;
            const size_t n = std::min(wanted, size - i);
            frames.feed(data + i, n, now);
            core.receive(data + i, n, now);
            fed += n;
            i += n;
            break;
        }
        case 1:
            now += std::chrono::milliseconds(next());
            settle();
            break;
        case 2: {
            const size_t wanted = next() % 48;
            const size_t n = std::min(wanted, size - i);
            bool quit = false;
            core.command(std::string(reinterpret_cast<const char*>(data + i), n), now, quit);
            i += n;
            break;
        }
        default:
            settle();
            break;
        }
    }
    now += std::chrono::milliseconds(100);
    settle();
    return 0;
}
