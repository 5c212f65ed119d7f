// The operating system's side of a serial port, kept apart from the Modbus
// logic: port naming, taking the port for ourselves alone, recognising a
// line that hung up, waiting for input that another thread can cut short,
// and what an open error means. serialport_posix.cpp and serialport_win.cpp
// implement it; the build picks one.
#pragma once

#include <cstdint>
#include <string>

struct _modbus;

namespace qr7215sdk {

class serialPort
{
public:
    // Makes the wake object at once: a close may wake the port from another
    // thread before the port has been claimed.
    serialPort();
    ~serialPort();
    serialPort(const serialPort&) = delete;
    serialPort& operator=(const serialPort&) = delete;

    // The device to open: the bound name when there is one ("ttyUSB0" is
    // /dev/ttyUSB0, a path stays as it is), otherwise port number n
    // (/dev/ttyS(n-1), COMn on Windows). Empty when neither names a port.
    static std::string deviceName(const std::string& boundName, unsigned portNumber);
    // Whether the line can run at this speed.
    static bool baudSupported(uint32_t baud);

    // Takes the port for this connection before libmodbus opens it, so that a
    // second program or connection is refused before it touches the line
    // settings. Returns QR7215_OK or the code for the failure.
    int claim(const std::string& device);
    // The code for the error a failed modbus_connect left (err is its errno).
    static int connectError(int err);
    // Once libmodbus has the port open: shuts other openers out of it.
    void attach(_modbus* ctx);
    // True when the line has hung up: adapter unplugged, the other end gone.
    bool hungUp() const;
    // Gives the port back; call before modbus_close, then release().
    void detach();
    void release();

    enum class waitResult {
        input,  // bytes (or a hang-up) are there to read
        quiet,  // nothing arrived within the time
        woken   // wake() was called
    };
    // Whether waitForInput() sees the port's input. Where it cannot, it only
    // waits out the time (or until wake()), and libmodbus does the watching.
    static bool watchesInput();
    // Waits up to timeoutMs for input on the attached port, or for wake().
    // Once woken, every later wait returns woken at once.
    waitResult waitForInput(uint32_t timeoutMs);
    // Ends a waitForInput() in progress in another thread, and every later
    // one. Safe from any thread at any time.
    void wake();

private:
    int m_lockFd = -1;  // holds the claim (POSIX)
    int m_fd = -1;      // libmodbus's descriptor once attached (POSIX)
#ifdef _WIN32
    void* m_wakeEvent = nullptr;  // a manual-reset event that wake() sets for good
#else
    int m_wakeFd = -1;  // an eventfd that wake() makes readable for good
#endif
};

} // namespace qr7215sdk
