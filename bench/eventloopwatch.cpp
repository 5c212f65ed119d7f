#include "eventloopwatch.h"

#include <algorithm>

namespace {
constexpr qint64 kIntervalNs = 1000000;
}

eventLoopWatch::eventLoopWatch(QObject* parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, &eventLoopWatch::onTick);
}

void eventLoopWatch::start()
{
    m_clock.start();
    m_lastNs = m_startNs = m_clock.nsecsElapsed();
    m_endNs = 0;
    m_longestNs = 0;
    m_blockedNs = 0;
    m_over20 = 0;
    m_timer.start();
}

void eventLoopWatch::stop()
{
    onTick();
    m_timer.stop();
    m_endNs = m_clock.nsecsElapsed();
}

double eventLoopWatch::blockedShare() const
{
    const qint64 span = (m_endNs ? m_endNs : m_clock.nsecsElapsed()) - m_startNs;
    return span > 0 ? static_cast<double>(m_blockedNs) / static_cast<double>(span) : 0.0;
}

void eventLoopWatch::onTick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 late = now - m_lastNs - kIntervalNs;
    m_lastNs = now;
    if (late <= 0)
        return;
    m_longestNs = std::max(m_longestNs, late);
    if (late > 2 * kIntervalNs)
        m_blockedNs += late;
    if (late > 20 * kIntervalNs)
        ++m_over20;
}
