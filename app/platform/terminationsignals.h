// The requests to end that the system or a user sends a running program
// (kill, logging out, Ctrl+C in the terminal it was started from) end this one
// the way the tray's Quit does: the application's event loop is asked to quit,
// so everything connected to aboutToQuit runs (the poll thread stops, the
// script runner is shut down, the device is closed) and main() returns 0.
// Free of Qt so that every build of the platform layer can include it.
#pragma once

namespace platform {

// Call once, from the thread that runs the application's event loop, after
// the application object exists. False when nothing could be installed; the
// system's default actions then stay.
bool quitOnTerminationSignals();

} // namespace platform
