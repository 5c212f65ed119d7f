// The last hour of the readings the Trends page draws, one sample a second at
// most, in memory that is taken once and never grows; with the moments DC was
// lost and came back. Plain code: the page draws it and exports it as CSV.
#pragma once

#include "statusdecoder.h"

#include <QByteArray>
#include <QVector>

#include <vector>

class trendBuffer
{
public:
    static constexpr int kCapacity = 3600;   // one hour at one sample a second
    static constexpr int kMarkCapacity = 256;
    static constexpr qint64 kMinSpacingMs = 1000;

    struct sample
    {
        qint64 ms = 0;   // since the epoch
        quint16 inputMv = 0;
        quint16 outputMv = 0;
        quint16 batteryMv = 0;
        quint16 levelPercent = 0;
    };
    struct mark
    {
        qint64 ms = 0;
        bool dcLost = false;   // false: DC came back
    };

    trendBuffer();

    // Keeps the block's readings unless the newest sample is younger than a
    // second (or the clock went back past it); true when kept. A DC edge is
    // kept in any case.
    bool add(qint64 ms, const statusDecoder::block& registers, const statusDecoder::update& u);
    bool add(const sample& s);
    void addMark(const mark& m);

    int size() const { return m_count; }
    // 0 is the oldest.
    sample at(int i) const;
    // The marks no older than the oldest sample, oldest first.
    QVector<mark> marks() const;
    // Changes with every sample or mark kept, so a view redraws only then.
    quint64 revision() const { return m_revision; }

    // A header row, then one row per sample: UTC time in ISO 8601 with
    // milliseconds, then each reading.
    QByteArray csv() const;

private:
    std::vector<sample> m_samples;
    int m_first = 0;
    int m_count = 0;
    std::vector<mark> m_marks;
    int m_firstMark = 0;
    int m_markCount = 0;
    quint64 m_revision = 0;
};
