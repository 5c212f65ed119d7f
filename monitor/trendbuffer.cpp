#include "trendbuffer.h"

#include <QDateTime>

constexpr int trendBuffer::kCapacity;
constexpr int trendBuffer::kMarkCapacity;
constexpr qint64 trendBuffer::kMinSpacingMs;

trendBuffer::trendBuffer()
    : m_samples(kCapacity), m_marks(kMarkCapacity)
{
}

bool trendBuffer::add(qint64 ms, const statusDecoder::block& r, const statusDecoder::update& u)
{
    using namespace statusDecoder;
    if (u.dcLost || u.dcReturned)
        addMark({ms, u.dcLost});
    return add(sample{ms, r[kVoltageInput], r[kVoltageOutput], r[kBatteryVoltage], r[kBatteryLevel]});
}

bool trendBuffer::add(const sample& s)
{
    if (m_count > 0) {
        const qint64 last = at(m_count - 1).ms;
        // A clock set back would otherwise stop the sampling for as long as
        // it went back; a clock set forward just leaves a gap.
        if (s.ms >= last && s.ms - last < kMinSpacingMs)
            return false;
    }
    if (m_count < kCapacity) {
        m_samples[(m_first + m_count) % kCapacity] = s;
        ++m_count;
    } else {
        m_samples[m_first] = s;
        m_first = (m_first + 1) % kCapacity;
    }
    ++m_revision;
    return true;
}

void trendBuffer::addMark(const mark& m)
{
    if (m_markCount < kMarkCapacity) {
        m_marks[(m_firstMark + m_markCount) % kMarkCapacity] = m;
        ++m_markCount;
    } else {
        m_marks[m_firstMark] = m;
        m_firstMark = (m_firstMark + 1) % kMarkCapacity;
    }
    ++m_revision;
}

trendBuffer::sample trendBuffer::at(int i) const
{
    return m_samples[(m_first + i) % kCapacity];
}

QVector<trendBuffer::mark> trendBuffer::marks() const
{
    QVector<mark> kept;
    const qint64 oldest = m_count > 0 ? at(0).ms : 0;
    for (int i = 0; i < m_markCount; ++i) {
        const mark& m = m_marks[(m_firstMark + i) % kMarkCapacity];
        if (m.ms >= oldest)
            kept << m;
    }
    return kept;
}

QByteArray trendBuffer::csv() const
{
    QByteArray out("time,input_voltage_mV,output_voltage_mV,battery_voltage_mV,battery_level_percent\n");
    out.reserve(out.size() + m_count * 56);
    for (int i = 0; i < m_count; ++i) {
        const sample s = at(i);
        out += QDateTime::fromMSecsSinceEpoch(s.ms, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        for (quint16 v : {s.inputMv, s.outputMv, s.batteryMv, s.levelPercent}) {
            out += ',';
            out += QByteArray::number(v);
        }
        out += '\n';
    }
    return out;
}
