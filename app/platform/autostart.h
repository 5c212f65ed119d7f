// Start-up registration: keeps one entry that starts the program when the
// user logs on (the Run key on Windows, an XDG autostart entry elsewhere).
// Every failure is silent; callers go on either way.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable (UTF-8); empty when the system cannot tell.
std::string currentExecutablePath();

// Registers the running executable under the entry name. An entry that
// already names exactly this executable is left untouched; one naming
// another path (the program was moved) is replaced.
void registerAutoStart(const std::string& name);
// The same for an executable given by path (UTF-8), so tests can stand in
// a moved or oddly named program.
void registerAutoStart(const std::string& name, const std::string& executablePath);

// Removes the entry, if there is one.
void unregisterAutoStart(const std::string& name);

} // namespace platform
