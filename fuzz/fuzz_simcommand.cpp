// The simulator's operator command parser on any line, and the simulator
// carrying the command out: a refusal always says why, an accepted command
// always stays within the ranges the parser promises.
#include "commandparser.h"
#include "registermap.h"
#include "simulatorcore.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace qr7215sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    const parseResult parsed = parseCommand(line);
    if (parsed.ok != parsed.error.empty())
        abort();
    if (parsed.ok) {
        const simCommand& c = parsed.command;
        switch (c.kind) {
        case commandKind::set:
            if (c.value < 0 || c.value > 65535)
                abort();
            [[fallthrough]];
        case commandKind::get:
            if (!findRegister(c.reg))
                abort();
            break;
        case commandKind::faultDelay:
            if (c.value < 0 || c.value > kMaxFaultDelayMs)
                abort();
            break;
        case commandKind::faultException:
            if (c.value < 1 || c.value > 255)
                abort();
            break;
        default:
            break;
        }
    }

    simulatorCore core(1, 0);
    bool quit = false;
    const std::string answer = core.command(line, simulatorCore::clock::time_point{}, quit);
    if (answer.empty() || quit != (parsed.ok && parsed.command.kind == commandKind::quit))
        abort();
    return 0;
}
