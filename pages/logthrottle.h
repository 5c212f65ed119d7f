// Keeps a failure that repeats from flooding the log, the way system loggers
// do: the first occurrence of a text is logged at once, a repeat says once
// that the text keeps coming, further repeats are only counted, and a summary
// with the count is logged when the burst ends (a quiet gap without the text)
// or, while it goes on, once a summary interval.
//
// Plain and thread-safe: the poll thread and the GUI thread both submit. The
// clock is injected so that tests step time instead of sleeping.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <mutex>

class logThrottle
{
public:
    // Milliseconds from any fixed origin; must never go backwards.
    using clockFunction = std::function<std::int64_t()>;

    // Longer than one failed read of a silent module with the default link
    // settings (4 attempts of 1 s, then a quiet wait), so its repeats stay
    // one burst.
    static constexpr std::int64_t kDefaultQuietGapMs = 10000;
    static constexpr std::int64_t kDefaultSummaryEveryMs = 60000;

    // The line that follows a text when it starts repeating.
    static QString repeatingLine(const QString& text);
    // The summary of count suppressed repeats over seconds.
    static QString summaryLine(const QString& text, int count, std::int64_t seconds);

    // Without a clock the steady clock is used.
    explicit logThrottle(clockFunction clock = clockFunction());

    // quietGapMs without a text ends its burst; summaryEveryMs is the
    // longest a burst goes on without a summary. Both at least 1 ms.
    void setTimes(std::int64_t quietGapMs, std::int64_t summaryEveryMs);
    std::int64_t quietGapMs() const;
    std::int64_t summaryEveryMs() const;

    // One occurrence of text: returns the lines to log now, in order (none
    // while the text is being counted).
    QStringList submit(const QString& text);
    // Lines that are due by now: summaries of bursts that ended or whose
    // interval is over. Bursts that ended are forgotten.
    QStringList flush();
    // Milliseconds until flush() has work, 0 when it has some now, -1 when
    // no text is being followed.
    std::int64_t msUntilDue() const;
    // How many texts are being followed.
    int tracked() const;
    // Forgets every text without a summary: the next occurrence of any text
    // is a first one again.
    void reset();

private:
    struct burst {
        std::int64_t lastSeen = 0;
        // Start of the counting window: when counting began or the last summary.
        std::int64_t windowStart = 0;
        // Repeats seen but not logged since windowStart.
        int suppressed = 0;
        bool repeating = false;
    };

    std::int64_t now() const;
    bool ended(const burst& b, std::int64_t at) const;
    // Appends the summary of b's suppressed repeats up to end, if there are any.
    void summarise(const QString& text, burst& b, std::int64_t end, QStringList& out) const;

    clockFunction m_clock;
    mutable std::mutex m_mutex;
    std::int64_t m_quietGapMs = kDefaultQuietGapMs;
    std::int64_t m_summaryEveryMs = kDefaultSummaryEveryMs;
    QHash<QString, burst> m_bursts;
};
