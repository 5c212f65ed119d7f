// Requests to the module over libmodbus, with retries and input flushing.
//
// libmodbus sends and receives the frames (and checks slave address and CRC);
// the answer is checked here. Requests go out with modbus_send_raw_request
// and come back with modbus_receive_confirmation instead of through
// modbus_read_registers, for two reasons: every exception code 1..255 keeps
// its number (libmodbus folds codes above 11 into EMBBADEXC), and the retry
// loop decides alone what happens after a failure.
//
// The input is flushed before every attempt and after every failure: Modbus
// RTU has no transaction number, so an answer that arrives after its request
// timed out would otherwise be taken as the answer to the next request. A
// flush only removes what has already arrived, so after a time-out the next
// request also waits until the line has been quiet for one time-out.
//
// The wait for an answer's first byte is the port's waitForInput(), which a
// close from another thread ends at once; libmodbus is called only when
// bytes are there, with what is left of the time-out as its own.
#include "connection.h"

#include <algorithm>
#include <cerrno>

#include <modbus/modbus.h>

#include "resultcodes.h"

namespace qr7215sdk {

namespace {

constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kWriteSingle = 0x06;
constexpr uint8_t kWriteMultiple = 0x10;

uint16_t word(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void putWord(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

bool retryable(int code)
{
    return code == QR7215_E_TIMEOUT || code == QR7215_E_CRC || code == QR7215_E_BAD_ANSWER;
}

// The answer as libmodbus delivers it: slave, function, data, CRC (2 bytes).
// Returns QR7215_OK, an exception result or BAD_ANSWER.
int checkAnswer(const uint8_t* raw, const uint8_t* answer, int length)
{
    const uint8_t function = raw[1];
    if (length < 5 || answer[0] != raw[0])
        return QR7215_E_BAD_ANSWER;
    if (answer[1] == (function | 0x80)) {
        if (length != 5 || answer[2] == 0)
            return QR7215_E_BAD_ANSWER;
        return exceptionResult(answer[2]);
    }
    if (answer[1] != function)
        return QR7215_E_BAD_ANSWER;
    if (function == kReadHolding) {
        const int count = word(raw + 4);
        if (answer[2] != count * 2 || length != 5 + count * 2)
            return QR7215_E_BAD_ANSWER;
        return QR7215_OK;
    }
    // 0x06 echoes address and value, 0x10 address and count: the same bytes
    // of the request in both.
    if (length != 8)
        return QR7215_E_BAD_ANSWER;
    for (int i = 2; i < 6; ++i) {
        if (answer[i] != raw[i])
            return QR7215_E_BAD_ANSWER;
    }
    return QR7215_OK;
}

} // namespace

int lineSettingsFrom(const deviceDescriptor& d, const std::string& device, lineSettings& out)
{
    if (d.comMode != 0 || device.empty())
        return QR7215_E_ARGUMENT;
    if (d.slaveAddress < 1 || d.slaveAddress > 247)
        return QR7215_E_ARGUMENT;
    if (d.parity > 2 || (d.stopBits != 1 && d.stopBits != 2) || (d.dataBits != 7 && d.dataBits != 8))
        return QR7215_E_ARGUMENT;
    if (d.baudRate == 0)
        return QR7215_E_ARGUMENT;
    if (!serialPort::baudSupported(d.baudRate))
        return QR7215_E_PORT_SETUP;
    out.device = device;
    out.baud = d.baudRate;
    out.parity = "NEO"[d.parity];
    out.dataBits = d.dataBits;
    out.stopBits = d.stopBits;
    out.slave = d.slaveAddress;
    out.timeoutMs = d.responseTimeout < kMinTimeoutMs ? kMinTimeoutMs
                    : d.responseTimeout > kMaxTimeoutMs ? kMaxTimeoutMs
                                                       : d.responseTimeout;
    out.retries = d.retries > kMaxRetries ? kMaxRetries : d.retries;
    return QR7215_OK;
}

connection::connection(const lineSettings& line)
    : m_line(line)
{
}

connection::~connection()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
}

int connection::open(deviceInfo& info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int rc = m_port.claim(m_line.device);
    if (rc != QR7215_OK)
        return rc;

    m_ctx = modbus_new_rtu(m_line.device.c_str(), static_cast<int>(m_line.baud), m_line.parity,
                           m_line.dataBits, m_line.stopBits);
    if (!m_ctx) {
        m_port.release();
        return errno == ENOMEM ? QR7215_E_IO : QR7215_E_ARGUMENT;
    }
    // No MODBUS_ERROR_RECOVERY_LINK: on a lost port it reconnects in a loop
    // and never returns. Recovery is the retry loop below.
    modbus_set_error_recovery(m_ctx, MODBUS_ERROR_RECOVERY_NONE);
    modbus_set_slave(m_ctx, m_line.slave);
    const uint32_t sec = m_line.timeoutMs / 1000;
    const uint32_t usec = (m_line.timeoutMs % 1000) * 1000;
    modbus_set_response_timeout(m_ctx, sec, usec);
    // Between two bytes of one answer: a slow line needs as long as the
    // answer's start may take.
    modbus_set_byte_timeout(m_ctx, sec, usec);

    if (modbus_connect(m_ctx) == -1) {
        rc = serialPort::connectError(errno);
        modbus_free(m_ctx);
        m_ctx = nullptr;
        m_port.release();
        return rc;
    }
    m_port.attach(m_ctx);

    uint16_t id[4] = {};
    rc = readLocked(QR7215_REG_DEVICE_TYPE, QR7215_IDENTIFICATION_COUNT, id);
    // A device without the identification registers is some other device.
    if (rc == exceptionResult(1) || rc == exceptionResult(2))
        rc = QR7215_E_NOT_QR7215;
    if (rc == QR7215_OK && id[0] != QR7215_DEVICE_TYPE)
        rc = QR7215_E_NOT_QR7215;
    if (rc != QR7215_OK) {
        closeLocked();
        return rc;
    }
    info.deviceType = id[0];
    info.hardwareVersion = id[1];
    info.firmwareVersion = id[2];
    info.driverVersion = id[3];
    return QR7215_OK;
}

int connection::readRegisters(uint16_t start, uint8_t count, uint16_t* values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return readLocked(start, count, values);
}

int connection::readLocked(uint16_t start, uint8_t count, uint16_t* values)
{
    if (!m_ctx)
        return QR7215_E_NOT_OPEN;
    uint8_t raw[6] = {static_cast<uint8_t>(m_line.slave), kReadHolding};
    putWord(raw + 2, start - QR7215_FIRST_REGISTER);
    putWord(raw + 4, count);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    int length = 0;
    const int rc = transact(raw, sizeof raw, answer, length);
    if (rc != QR7215_OK)
        return rc;
    for (int i = 0; i < count; ++i)
        values[i] = word(answer + 3 + 2 * i);
    return QR7215_OK;
}

int connection::writeRegisters(uint32_t start, uint8_t count, const uint16_t* values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ctx)
        return QR7215_E_NOT_OPEN;
    uint8_t raw[7 + 2 * 123] = {static_cast<uint8_t>(m_line.slave)};
    int rawLength;
    putWord(raw + 2, start - QR7215_FIRST_REGISTER);
    if (count == 1) {
        raw[1] = kWriteSingle;
        putWord(raw + 4, values[0]);
        rawLength = 6;
    } else {
        raw[1] = kWriteMultiple;
        putWord(raw + 4, count);
        raw[6] = static_cast<uint8_t>(count * 2);
        for (int i = 0; i < count; ++i)
            putWord(raw + 7 + 2 * i, values[i]);
        rawLength = 7 + 2 * count;
    }
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    int length = 0;
    return transact(raw, rawLength, answer, length);
}

int connection::transact(const uint8_t* raw, int rawLength, uint8_t* answer, int& answerLength)
{
    int last = QR7215_E_TIMEOUT;
    for (uint32_t attempt = 0; attempt <= m_line.retries; ++attempt) {
        if (m_closing.load(std::memory_order_acquire))
            return QR7215_E_NOT_OPEN;
        // A dead line fails at once instead of waiting out every retry.
        if (m_linkLost || m_port.hungUp()) {
            m_linkLost = true;
            return QR7215_E_LINK_LOST;
        }
        // Only before a new request: a retry sends the very same bytes, so a
        // late answer to an earlier attempt is an answer to this request too.
        if (attempt == 0 && m_lineUnsettled) {
            const int rc = settleLine();
            if (rc != QR7215_OK)
                return rc;
        }
        const int code = this->attempt(raw, rawLength, answer, answerLength);
        if (code != QR7215_OK)
            modbus_flush(m_ctx);
        // After a time-out in this request an answer may still come, even
        // when a retry succeeded; the queue is empty from here on.
        if (code == QR7215_E_TIMEOUT)
            m_lineUnsettled = true;
        if (m_lineUnsettled)
            m_quietSince = clock::now();
        if (code == QR7215_OK)
            return QR7215_OK;
        if (code == QR7215_E_LINK_LOST) {
            m_linkLost = true;
            return code;
        }
        if (!retryable(code))
            return code;
        last = code;
    }
    return last;
}

int connection::attempt(const uint8_t* raw, int rawLength, uint8_t* answer, int& answerLength)
{
    modbus_flush(m_ctx);
    errno = 0;
    if (modbus_send_raw_request(m_ctx, raw, rawLength) == -1)
        return resultForModbusErrno(errno);
    if (serialPort::watchesInput()) {
        const clock::time_point sent = clock::now();
        switch (m_port.waitForInput(m_line.timeoutMs)) {
        case serialPort::waitResult::woken:
            return QR7215_E_NOT_OPEN;
        case serialPort::waitResult::quiet:
            return QR7215_E_TIMEOUT;
        case serialPort::waitResult::input:
            break;
        }
        // The first byte is there; libmodbus's own wait for it must not
        // start the time-out again. At least 1 ms: 0 is refused.
        const auto spent = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - sent);
        const long long left = std::max<long long>(1000, m_line.timeoutMs * 1000LL - spent.count());
        modbus_set_response_timeout(m_ctx, static_cast<uint32_t>(left / 1000000),
                                    static_cast<uint32_t>(left % 1000000));
    }
    errno = 0;
    const int rc = modbus_receive_confirmation(m_ctx, answer);
    if (rc > 0) {
        answerLength = rc;
        return checkAnswer(raw, answer, rc);
    }
    if (rc == 0)
        return QR7215_E_BAD_ANSWER;  // libmodbus drops another slave's answer unchecked
    return resultForModbusErrno(errno);
}

int connection::settleLine()
{
    const auto timeout = std::chrono::milliseconds(m_line.timeoutMs);
    // A line that never falls quiet (noise, another master) must not hold
    // the request up for ever: the attempt goes ahead after this.
    const clock::time_point giveUp = clock::now() + 3 * timeout;
    for (;;) {
        const clock::time_point now = clock::now();
        // Anything that arrived since m_quietSince is still in the queue,
        // so time already spent between requests counts as quiet.
        if (now - m_quietSince >= timeout || now >= giveUp)
            break;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
            std::min(m_quietSince + timeout, giveUp) - now);
        const serialPort::waitResult r = m_port.waitForInput(static_cast<uint32_t>(wait.count()));
        if (r == serialPort::waitResult::woken)
            return QR7215_E_NOT_OPEN;
        if (r == serialPort::waitResult::input) {
            if (m_port.hungUp()) {
                m_linkLost = true;
                return QR7215_E_LINK_LOST;
            }
            modbus_flush(m_ctx);
            m_quietSince = clock::now();
        }
    }
    m_lineUnsettled = false;
    return QR7215_OK;
}

void connection::close()
{
    // Before the mutex: a request in progress holds it, and only leaves
    // early once it sees the mark or is woken.
    abort();
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
}

void connection::abort()
{
    m_closing.store(true, std::memory_order_release);
    m_port.wake();
}

void connection::closeLocked()
{
    if (m_ctx) {
        // Unsent output could hold close() up on a line that cannot drain.
        modbus_flush(m_ctx);
        m_port.detach();
        modbus_close(m_ctx);
        modbus_free(m_ctx);
        m_ctx = nullptr;
    }
    m_port.release();
}

} // namespace qr7215sdk
