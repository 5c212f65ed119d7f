#include "logthrottle.h"

#include <QPair>
#include <QVector>

#include <algorithm>
#include <chrono>

constexpr std::int64_t logThrottle::kDefaultQuietGapMs;
constexpr std::int64_t logThrottle::kDefaultSummaryEveryMs;

QString logThrottle::repeatingLine(const QString& text)
{
    return text + QStringLiteral(" (repeating; further repeats are counted)");
}

QString logThrottle::summaryLine(const QString& text, int count, std::int64_t seconds)
{
    return text + QStringLiteral(" (repeated %1 %2 in %3 s)")
                      .arg(count)
                      .arg(count == 1 ? QStringLiteral("time") : QStringLiteral("times"))
                      .arg(seconds);
}

logThrottle::logThrottle(clockFunction clock)
    : m_clock(std::move(clock))
{
}

void logThrottle::setTimes(std::int64_t quietGapMs, std::int64_t summaryEveryMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quietGapMs = std::max<std::int64_t>(1, quietGapMs);
    m_summaryEveryMs = std::max<std::int64_t>(1, summaryEveryMs);
}

std::int64_t logThrottle::quietGapMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_quietGapMs;
}

std::int64_t logThrottle::summaryEveryMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_summaryEveryMs;
}

std::int64_t logThrottle::now() const
{
    if (m_clock)
        return m_clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool logThrottle::ended(const burst& b, std::int64_t at) const
{
    return at - b.lastSeen >= m_quietGapMs;
}

void logThrottle::summarise(const QString& text, burst& b, std::int64_t end, QStringList& out) const
{
    if (b.suppressed == 0)
        return;
    // Rounded up: a burst of a few hundred milliseconds reads "in 1 s".
    const std::int64_t seconds = std::max<std::int64_t>(1, (end - b.windowStart + 999) / 1000);
    out << summaryLine(text, b.suppressed, seconds);
    b.suppressed = 0;
}

QStringList logThrottle::submit(const QString& text)
{
    QStringList out;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::int64_t at = now();

    auto it = m_bursts.find(text);
    if (it != m_bursts.end() && ended(*it, at)) {
        // The burst is over but no flush has said so yet: its summary comes
        // before the text starts afresh.
        summarise(text, *it, it->lastSeen, out);
        m_bursts.erase(it);
        it = m_bursts.end();
    }

    if (it == m_bursts.end()) {
        burst fresh;
        fresh.lastSeen = at;
        fresh.windowStart = at;
        m_bursts.insert(text, fresh);
        out << text;
        return out;
    }

    burst& b = *it;
    b.lastSeen = at;
    if (!b.repeating) {
        b.repeating = true;
        b.windowStart = at;
        out << repeatingLine(text);
        return out;
    }
    ++b.suppressed;
    if (at - b.windowStart >= m_summaryEveryMs) {
        summarise(text, b, at, out);
        b.windowStart = at;
    }
    return out;
}

QStringList logThrottle::flush()
{
    // Ordered by when each text was last seen, so that summaries of bursts
    // that ended together come in the order the bursts stopped.
    QVector<QPair<std::int64_t, QString>> due;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::int64_t at = now();
    for (auto it = m_bursts.begin(); it != m_bursts.end();) {
        burst& b = *it;
        QStringList lines;
        const std::int64_t lastSeen = b.lastSeen;
        if (ended(b, at)) {
            summarise(it.key(), b, b.lastSeen, lines);
            it = m_bursts.erase(it);
        } else {
            if (b.suppressed > 0 && at - b.windowStart >= m_summaryEveryMs) {
                summarise(it.key(), b, at, lines);
                b.windowStart = at;
            }
            ++it;
        }
        for (const QString& line : lines)
            due.append({lastSeen, line});
    }
    std::sort(due.begin(), due.end());
    QStringList out;
    for (const auto& line : due)
        out << line.second;
    return out;
}

std::int64_t logThrottle::msUntilDue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bursts.isEmpty())
        return -1;
    const std::int64_t at = now();
    std::int64_t due = INT64_MAX;
    for (const burst& b : m_bursts) {
        due = std::min(due, b.lastSeen + m_quietGapMs);
        if (b.suppressed > 0)
            due = std::min(due, b.windowStart + m_summaryEveryMs);
    }
    return std::max<std::int64_t>(0, due - at);
}

int logThrottle::tracked() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bursts.size();
}

void logThrottle::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bursts.clear();
}
