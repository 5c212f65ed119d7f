// Pseudo-terminal set-up for the simulator (POSIX only: the simulator is a
// test and demonstration tool that runs where pseudo-terminals exist).
#include "pseudoterminal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qr7215sim {

namespace {

std::string why(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

pseudoTerminal::~pseudoTerminal()
{
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool pseudoTerminal::open(std::string& error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        error = why("posix_openpt");
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = why("grantpt/unlockpt");
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        error = why("ptsname");
        return false;
    }
    m_slaveName = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        error = why(name);
        return false;
    }
    // Raw: no echo (the master would read its own answers back as requests),
    // no line editing, no translation of bytes. A client sets its own line
    // settings on open and libmodbus puts these back when it closes.
    termios tios{};
    if (tcgetattr(m_slave, &tios) != 0) {
        error = why("tcgetattr");
        return false;
    }
    cfmakeraw(&tios);
    tios.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tios, B115200);
    cfsetospeed(&tios, B115200);
    if (tcsetattr(m_slave, TCSANOW, &tios) != 0) {
        error = why("tcsetattr");
        return false;
    }
    // Answers nobody reads must never block the simulator.
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool pseudoTerminal::makeLink(const std::string& link, std::string& error)
{
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symbolic link";
            return false;
        }
    }
    // Made under a temporary name and renamed over the old one, so a client
    // never finds the link missing or half made.
    const std::string temp = link + ".new" + std::to_string(getpid());
    ::unlink(temp.c_str());
    if (symlink(m_slaveName.c_str(), temp.c_str()) != 0) {
        error = why(("symlink " + link).c_str());
        return false;
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        error = why(("rename to " + link).c_str());
        ::unlink(temp.c_str());
        return false;
    }
    m_link = link;
    return true;
}

void pseudoTerminal::removeLink()
{
    if (m_link.empty())
        return;
    // Only our own link: another simulator may have taken the name since.
    char target[4096];
    const ssize_t n = readlink(m_link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (m_slaveName == target)
            ::unlink(m_link.c_str());
    }
    m_link.clear();
}

} // namespace qr7215sim
