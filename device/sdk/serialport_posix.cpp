// serialPort on Linux and other POSIX systems.
//
// Exclusivity: libmodbus opens the device without any lock, and a second
// program (or a second connection of this library) on the same port would
// interleave its requests with ours. Before libmodbus opens the port we open
// it ourselves and take flock(LOCK_EX | LOCK_NB) on that descriptor; the lock
// lives as long as the connection. flock also stops root and a second
// connection in this very process. Once libmodbus has the port open we set
// TIOCEXCL as well, so that ordinary users' programs that do not know about
// the lock get EBUSY from open(); it is cleared again before the port is
// closed, because a pseudo-terminal (or any tty another process keeps open)
// would otherwise stay exclusive after we are gone.
//
// Waiting for input: one poll() on the port and on an eventfd of this port,
// so that a close from another thread (which writes to the eventfd) ends the
// wait at once instead of after the response time-out.
#include "serialport.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <modbus/modbus.h>

#include "qr7215sdk.h"

namespace qr7215sdk {

namespace {

// "COM3" (any case) gives 3; 0 when the name is not of that form.
unsigned comNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    }
    unsigned n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return n;
}

int openError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:   // a device node without a device behind it
    case ENODEV:
    case EIO:     // a ttyS node whose UART is absent
    case ELOOP:
    case ENAMETOOLONG:
        return QR7215_E_PORT_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return QR7215_E_PERMISSION;
    case EBUSY:
    case EWOULDBLOCK:
        return QR7215_E_PORT_BUSY;
    case ENOTTY:
    case EISDIR:
    case EINVAL:
        return QR7215_E_PORT_SETUP;
    default:
        return QR7215_E_IO;
    }
}

} // namespace

serialPort::serialPort()
    : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

serialPort::~serialPort()
{
    detach();
    release();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

std::string serialPort::deviceName(const std::string& boundName, unsigned portNumber)
{
    if (!boundName.empty()) {
        if (boundName.find('/') != std::string::npos)
            return boundName;
        const std::string device = "/dev/" + boundName;
        struct stat st{};
        if (stat(device.c_str(), &st) != 0) {
            // The Windows spelling of a port still finds the matching Linux port.
            const unsigned n = comNumber(boundName);
            if (n >= 1)
                return "/dev/ttyS" + std::to_string(n - 1);
        }
        return device;
    }
    if (portNumber == 0)
        return std::string();
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

bool serialPort::baudSupported(uint32_t baud)
{
    // The speeds libmodbus turns into termios constants; any other it would
    // silently replace by 9600.
    switch (baud) {
    case 110: case 300: case 600: case 1200: case 2400: case 4800: case 9600:
    case 19200: case 38400: case 57600: case 115200: case 230400: case 460800:
    case 500000: case 576000: case 921600: case 1000000: case 1152000:
    case 1500000: case 2000000: case 2500000: case 3000000: case 3500000: case 4000000:
        return true;
    default:
        return false;
    }
}

int serialPort::claim(const std::string& device)
{
    release();
    // Without its wake object a request on this port could not be cut short.
    if (m_wakeFd < 0)
        return QR7215_E_IO;
    // Non-blocking: a modem line without carrier must not hold the open up.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openError(errno);
    if (!isatty(fd)) {
        ::close(fd);
        return QR7215_E_PORT_SETUP;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? QR7215_E_PORT_BUSY : openError(err);
    }
    m_lockFd = fd;
    return QR7215_OK;
}

int serialPort::connectError(int err)
{
    return openError(err);
}

void serialPort::attach(_modbus* ctx)
{
    m_fd = modbus_get_socket(ctx);
    if (m_fd >= 0)
        ioctl(m_fd, TIOCEXCL);
}

bool serialPort::hungUp() const
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void serialPort::detach()
{
    if (m_fd >= 0)
        ioctl(m_fd, TIOCNXCL);
    m_fd = -1;
}

bool serialPort::watchesInput()
{
    return true;
}

serialPort::waitResult serialPort::waitForInput(uint32_t timeoutMs)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
    const nfds_t count = m_fd >= 0 ? 2 : 1;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        // Rounded up, so the wait is never shorter than asked for.
        const int leftMs = left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
        const int rc = ::poll(fds, count, leftMs);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            // Let the read that follows meet the port's error and report it.
            return waitResult::input;
        }
        if (fds[0].revents != 0)
            return waitResult::woken;
        if (count == 2 && fds[1].revents != 0)
            return waitResult::input;
        if (clock::now() >= deadline)
            return waitResult::quiet;
    }
}

void serialPort::wake()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    // Cannot fail short of the counter's overflow, and one wake is enough.
    const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    (void)written;
}

void serialPort::release()
{
    if (m_lockFd >= 0) {
        flock(m_lockFd, LOCK_UN);
        ::close(m_lockFd);
    }
    m_lockFd = -1;
}

} // namespace qr7215sdk
