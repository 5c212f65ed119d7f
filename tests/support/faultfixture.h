// Ground shared by the tests that run the real program against qr7215-sim:
// the files it reads beside its executable, the stall meter of the GUI
// thread, and the checks on failure lines.
#pragma once

#include "comsettings.h"
#include "comsettingsfile.h"
#include "logthrottle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace faultfixture {

// Short time-outs keep a row fast.
struct lineSetup {
    QString port;
    quint32 timeoutMs = 200;
    quint32 retries = 1;
    quint32 pollMs = 50;
    bool autoConnect = false;
};

// configs/config_com.xml in appDir, as the connection page reads it.
inline bool writeComConfig(const QString& appDir, const lineSetup& line)
{
    QDir().mkpath(appDir + QStringLiteral("/configs"));
    comSettings record;
    record.comPort = line.port;
    record.responseTimeout = line.timeoutMs;
    record.numOfRetries = line.retries;
    record.pollDelay = line.pollMs;
    record.autoConnect = line.autoConnect;
    return comSettingsFile::write(appDir + QStringLiteral("/configs/config_com.xml"), record);
}

// The example register table (rows 40000..40034) into appDir/iconfigs.
inline bool installExampleTable(const QString& appDir)
{
    const QString target = appDir + QStringLiteral("/iconfigs/config_registers.xml");
    QDir().mkpath(appDir + QStringLiteral("/iconfigs"));
    QFile::remove(target);
    return QFile::copy(QStringLiteral(QR7215_SOURCE_DIR "/resources/iconfigs/config_registers.xml"), target);
}

// Ticks every millisecond in the GUI thread: the longest gap between two
// ticks is how long the operator could not be served, and the display text
// sampled on each tick is every value the operator could have seen, in order.
class stallMeter : public QObject
{
public:
    explicit stallMeter(std::function<QString()> display = {})
        : m_display(std::move(display))
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
            const QString text = m_display ? m_display() : QString();
            if (m_shown.isEmpty() || m_shown.constLast() != text)
                m_shown << text;
        });
        m_clock.start();
        m_timer.start();
    }
    // A new measurement window; the samples are kept.
    void restartWindow()
    {
        m_longest = 0;
        m_last = m_clock.elapsed();
    }
    qint64 longestMs() const { return m_longest; }
    const QStringList& shown() const { return m_shown; }

private:
    std::function<QString()> m_display;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    QStringList m_shown;
};

// Once `fresh` was shown, `stale` must never be shown again.
inline bool staleAfterFresh(const QStringList& shown, const QString& stale, const QString& fresh)
{
    const int firstFresh = shown.indexOf(fresh);
    return firstFresh >= 0 && shown.indexOf(stale, firstFresh) >= 0;
}

// The adapter's "ERR:" lines, the poll thread's "Read error: " and the
// failed open with its explanation.
inline bool isFailureLine(const QString& line)
{
    return line.startsWith(QLatin1String("ERR:")) || line.startsWith(QLatin1String("Read error: "))
           || line.startsWith(QLatin1String("Open device error:")) || line.startsWith(QLatin1String("Port "));
}

// What the log says about one failure text: as itself, as "repeating", and
// the counts of its summaries.
struct textReport {
    int first = 0;
    int repeating = 0;
    QList<int> summaries;
};

inline textReport reportOf(const QStringList& lines, const QString& text)
{
    textReport r;
    const QRegularExpression summary(QStringLiteral("^") + QRegularExpression::escape(text)
                                     + QStringLiteral(" \\(repeated (\\d+) times? in \\d+ s\\)$"));
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = summary.match(line);
        if (line == text)
            ++r.first;
        else if (line == logThrottle::repeatingLine(text))
            ++r.repeating;
        else if (m.hasMatch())
            r.summaries << m.captured(1).toInt();
    }
    return r;
}

// The failure lines that are neither one of texts nor the throttle's word on one.
inline QStringList unexpectedFailureLines(const QStringList& lines, const QStringList& texts)
{
    QStringList odd;
    for (const QString& line : lines) {
        bool known = !isFailureLine(line);
        for (const QString& text : texts)
            known = known || line == text || line.startsWith(text + QStringLiteral(" ("));
        if (!known)
            odd << line;
    }
    return odd;
}

} // namespace faultfixture
