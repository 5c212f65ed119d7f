// Start-up registration: keeps one entry that starts the program when the
// user logs on (the Run key on Windows, an XDG autostart entry elsewhere).
// A failure is told by the result and a short reason; callers go on either way.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable (UTF-8); empty when the system cannot tell.
std::string currentExecutablePath();

// Where the entry of that name is kept, for messages: a file or a registry value.
std::string autoStartEntry(const std::string& name);

// Registers the running executable under the entry name. An entry that
// already names exactly this executable is left untouched; one naming
// another path (the program was moved) is replaced. False, with the reason,
// when the entry could not be written.
bool registerAutoStart(const std::string& name, std::string* reason = nullptr);
// The same for an executable given by path (UTF-8), so tests can stand in
// a moved or oddly named program.
bool registerAutoStart(const std::string& name, const std::string& executablePath, std::string* reason = nullptr);

// Removes the entry, but only when it names the running executable: another
// copy of the program (an installed one, a demo build) keeps its own. False,
// with the reason, when an entry of this executable could not be removed.
bool unregisterAutoStart(const std::string& name, std::string* reason = nullptr);
bool unregisterAutoStart(const std::string& name, const std::string& executablePath, std::string* reason = nullptr);

} // namespace platform
