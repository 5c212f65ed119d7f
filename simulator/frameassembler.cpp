// Request framing by length and by silence.
#include "frameassembler.h"

#include "rtuframe.h"

namespace qr7215sim {

frameAssembler::frameAssembler(std::chrono::milliseconds gap)
    : m_gap(gap)
{
}

void frameAssembler::feed(const uint8_t* data, size_t size, clock::time_point now)
{
    if (size == 0)
        return;
    // Bytes after a gap begin a new frame: settle what came before them first.
    if (!m_buffer.empty() && now - m_lastByte >= m_gap) {
        cut(now);
        m_buffer.clear();
    }
    m_buffer.insert(m_buffer.end(), data, data + size);
    m_lastByte = now;
}

std::vector<std::vector<uint8_t>> frameAssembler::takeFrames(clock::time_point now)
{
    cut(now);
    std::vector<std::vector<uint8_t>> frames;
    frames.swap(m_ready);
    return frames;
}

void frameAssembler::cut(clock::time_point now)
{
    while (!m_buffer.empty()) {
        const size_t length = requestLength(m_buffer.data(), m_buffer.size());
        const bool silent = now - m_lastByte >= m_gap;
        if (length == kLengthBySilence) {
            if (!silent)
                break;
            m_ready.push_back(m_buffer);
            m_buffer.clear();
        } else if (length > 0 && m_buffer.size() >= length) {
            m_ready.emplace_back(m_buffer.begin(), m_buffer.begin() + static_cast<long>(length));
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(length));
        } else {
            if (silent)
                m_buffer.clear();  // a frame cut short
            break;
        }
    }
}

std::optional<frameAssembler::clock::time_point> frameAssembler::silenceDeadline() const
{
    if (m_buffer.empty())
        return std::nullopt;
    return m_lastByte + m_gap;
}

} // namespace qr7215sim
