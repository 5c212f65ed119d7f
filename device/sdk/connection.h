// One open link to a module: the port, its libmodbus context, and the
// request/answer exchange with retries. Every public call takes the
// connection's own mutex, so two threads using one descriptor take turns;
// close() first cuts a request in progress short, then takes it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "qr7215sdk.h"
#include "serialport.h"

struct _modbus;

namespace qr7215sdk {

struct lineSettings {
    std::string device;
    uint32_t baud = 0;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    int slave = 1;
    uint32_t timeoutMs = 0;
    uint32_t retries = 0;
};

// Response time-outs are kept within these bounds: a time-out of 0 (or a few
// ms, shorter than any adapter's latency) would fail every request, and a
// huge one would look like a hang.
constexpr uint32_t kMinTimeoutMs = 20;
constexpr uint32_t kMaxTimeoutMs = 60000;
constexpr uint32_t kMaxRetries = 20;

// Checks the descriptor's line settings and turns them into lineSettings.
// Returns QR7215_OK, QR7215_E_ARGUMENT or QR7215_E_PORT_SETUP.
int lineSettingsFrom(const deviceDescriptor& d, const std::string& device, lineSettings& out);

class connection
{
public:
    explicit connection(const lineSettings& line);
    ~connection();
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    // Opens the port and identifies the module; on failure the port is closed again.
    int open(deviceInfo& info);
    int readRegisters(uint16_t start, uint8_t count, uint16_t* values);
    int writeRegisters(uint32_t start, uint8_t count, const uint16_t* values);
    // Ends a request in progress (it returns QR7215_E_NOT_OPEN within
    // milliseconds), waits for it to leave, then closes. Later calls give
    // NOT_OPEN. Safe from any thread while another one is in a request.
    void close();
    // Marks the link closing and wakes a request in progress, without
    // waiting for it: what a close during the open needs, since the open
    // itself holds the connection until it returns.
    void abort();

private:
    using clock = std::chrono::steady_clock;

    int readLocked(uint16_t start, uint8_t count, uint16_t* values);
    // Sends raw (slave address first, no CRC) and receives its answer into
    // answer, with the retries. Returns QR7215_OK and the answer's length,
    // or the code of the last failure.
    int transact(const uint8_t* raw, int rawLength, uint8_t* answer, int& answerLength);
    // One request and its answer; returns a result code.
    int attempt(const uint8_t* raw, int rawLength, uint8_t* answer, int& answerLength);
    // After a time-out: discards input until the line has been quiet for
    // one response time-out (bounded), so that a late answer is not taken
    // for the next one. Returns QR7215_OK, NOT_OPEN (closing) or LINK_LOST.
    int settleLine();
    void closeLocked();

    std::mutex m_mutex;
    lineSettings m_line;
    serialPort m_port;
    _modbus* m_ctx = nullptr;
    bool m_linkLost = false;
    // Set by a time-out: an answer may still be on its way.
    bool m_lineUnsettled = false;
    // Since when no input has been seen (the input queue was last emptied,
    // by a flush or by reading an answer) while the line is unsettled.
    clock::time_point m_quietSince;
    // Set by close() before it waits for the mutex; read without it.
    std::atomic<bool> m_closing{false};
};

} // namespace qr7215sdk
