// The exit codes of qr7215ctl, one per class of failure, so that a script or
// a service manager can tell a wrong command line from a module that does
// not answer.
#pragma once

#include <QString>

namespace ctlExit {

enum code : int {
    Ok = 0,
    ModuleError = 1,   // the module answered with an error, or not as a QR-7215
    Usage = 2,         // the command line, or a value the register does not take
    CannotOpen = 3,    // no such port, a port held by another program, bad line settings
    Permission = 4,    // no permission to open the port
    TimeOut = 5        // no answer within the time-out, after every retry
};

// The exit code for a device library result (0 gives Ok).
code forResult(int result);

// One line on what the codes mean, for --help and the README.
QString summary();

} // namespace ctlExit
