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
#include "serialport.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
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

serialPort::~serialPort()
{
    detach();
    release();
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

void serialPort::release()
{
    if (m_lockFd >= 0) {
        flock(m_lockFd, LOCK_UN);
        ::close(m_lockFd);
    }
    m_lockFd = -1;
}

} // namespace qr7215sdk
