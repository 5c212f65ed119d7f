// Request handling of the simulated module: functions 0x03, 0x06 and 0x10.
#include "modbusslave.h"

#include "rtuframe.h"

namespace qr7215sim {

namespace {

constexpr uint8_t kBroadcast = 0;

uint16_t word(const std::vector<uint8_t>& f, size_t at)
{
    return static_cast<uint16_t>((f[at] << 8) | f[at + 1]);
}

void putWord(std::vector<uint8_t>& f, uint16_t v)
{
    f.push_back(static_cast<uint8_t>(v >> 8));
    f.push_back(static_cast<uint8_t>(v & 0xFF));
}

std::vector<uint8_t> exceptionAnswer(uint8_t slave, uint8_t function, uint8_t code)
{
    return {slave, static_cast<uint8_t>(function | 0x80), code};
}

} // namespace

modbusSlave::modbusSlave(registerBank& bank, uint8_t address)
    : m_bank(bank)
    , m_address(address)
{
}

std::vector<uint8_t> modbusSlave::handle(const std::vector<uint8_t>& frame)
{
    if (!crcValid(frame))
        return {};
    const uint8_t slave = frame[0];
    if (slave != m_address && slave != kBroadcast)
        return {};
    if (slave == m_address)
        ++m_requests;
    if (m_fault.mode == faultMode::timeout)
        return {};

    std::vector<uint8_t> answer;
    if (m_fault.mode == faultMode::exception)
        answer = exceptionAnswer(m_address, frame[1], m_fault.exceptionCode);
    else
        answer = execute(frame);
    // A broadcast is carried out (writes only) and never answered.
    if (slave == kBroadcast || answer.empty())
        return {};

    appendCrc(answer);
    if (m_fault.mode == faultMode::crc)
        answer.back() ^= 0x5A;
    return answer;
}

std::vector<uint8_t> modbusSlave::execute(const std::vector<uint8_t>& f)
{
    const uint8_t slave = f[0];
    const uint8_t function = f[1];
    const size_t pdu = f.size() - 2;  // without the CRC

    if (function == 0x03) {
        if (pdu != 6)
            return exceptionAnswer(slave, function, kIllegalDataValue);
        if (slave == kBroadcast)
            return {};
        std::vector<uint16_t> values;
        const uint8_t ex = m_bank.read(word(f, 2), word(f, 4), values);
        if (ex)
            return exceptionAnswer(slave, function, ex);
        std::vector<uint8_t> answer{slave, function, static_cast<uint8_t>(values.size() * 2)};
        for (const uint16_t v : values)
            putWord(answer, v);
        return answer;
    }
    if (function == 0x06) {
        if (pdu != 6)
            return exceptionAnswer(slave, function, kIllegalDataValue);
        const uint8_t ex = m_bank.write(word(f, 2), {word(f, 4)});
        if (ex)
            return exceptionAnswer(slave, function, ex);
        return std::vector<uint8_t>(f.begin(), f.begin() + 6);  // the echo
    }
    if (function == 0x10) {
        if (pdu < 7)
            return exceptionAnswer(slave, function, kIllegalDataValue);
        const uint16_t count = word(f, 4);
        const uint8_t bytes = f[6];
        if (count < 1 || count > 123 || bytes != count * 2 || pdu != 7u + bytes)
            return exceptionAnswer(slave, function, kIllegalDataValue);
        std::vector<uint16_t> values;
        for (uint16_t i = 0; i < count; ++i)
            values.push_back(word(f, 7 + 2 * i));
        const uint8_t ex = m_bank.write(word(f, 2), values);
        if (ex)
            return exceptionAnswer(slave, function, ex);
        return std::vector<uint8_t>(f.begin(), f.begin() + 6);  // address and count
    }
    return exceptionAnswer(slave, function, kIllegalFunction);
}

} // namespace qr7215sim
