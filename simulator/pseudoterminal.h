// The simulator's end of the line: a pseudo-terminal whose slave device a
// client opens as its serial port, reached through a symbolic link.
#pragma once

#include <string>

namespace qr7215sim {

class pseudoTerminal
{
public:
    pseudoTerminal() = default;
    ~pseudoTerminal();
    pseudoTerminal(const pseudoTerminal&) = delete;
    pseudoTerminal& operator=(const pseudoTerminal&) = delete;

    // Opens the pair and sets the slave side raw. On failure returns false and
    // error says why.
    bool open(std::string& error);
    // Points link at the slave device, replacing a symbolic link left there
    // (never any other kind of file).
    bool makeLink(const std::string& link, std::string& error);
    void removeLink();

    int masterFd() const { return m_master; }
    const std::string& slaveName() const { return m_slaveName; }

private:
    int m_master = -1;
    // Held open for the simulator's whole life: while any slave descriptor is
    // open, a client closing its own never hangs the master up (reads on the
    // master would then fail with EIO until the next client opens).
    int m_slave = -1;
    std::string m_slaveName;
    std::string m_link;
};

} // namespace qr7215sim
