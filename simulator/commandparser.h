// The simulator's operator commands, one a line on standard input, parsed
// into a plain record. Parsing knows the register map, so a line that names a
// register the module does not have is refused here, with the reason.
#pragma once

#include <string>

namespace qr7215sim {

enum class commandKind {
    set,             // set REG VALUE
    get,             // get REG
    powerFail,       // power fail
    powerRestore,    // power restore
    faultTimeout,    // fault timeout
    faultDelay,      // fault delay MS
    faultCrc,        // fault crc
    faultException,  // fault exception CODE
    faultNone,       // fault none
    requests,        // requests: intact requests to this slave so far
    pending,         // pending: answers held back and not yet sent
    quit             // quit
};

struct simCommand {
    commandKind kind = commandKind::quit;
    int reg = 0;    // set, get
    int value = 0;  // set: the value; fault delay: ms; fault exception: the code
};

struct parseResult {
    bool ok = false;
    simCommand command;
    std::string error;  // why the line was refused, when !ok
};

// Longest delay "fault delay" accepts, in ms.
constexpr int kMaxFaultDelayMs = 60000;

// Words are separated by blanks; keywords are not case-sensitive; numbers are
// decimal or 0x-prefixed hexadecimal.
parseResult parseCommand(const std::string& line);

} // namespace qr7215sim
