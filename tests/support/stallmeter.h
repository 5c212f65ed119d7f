// The longest stall of the GUI thread's event loop while a test runs, and
// every text a display showed meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace faultfixture {

// Ticks every millisecond in the GUI thread and keeps the longest gap between
// two ticks: how long the event loop could not serve the operator. It also
// samples a display text on every tick, so that every value the operator
// could have seen is recorded in order.
class stallMeter : public QObject
{
public:
    explicit stallMeter(std::function<QString()> display = {})
        : m_display(std::move(display))
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    void start()
    {
        m_longest = 0;
        m_shown.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    // Starts a new measurement window, keeping the samples.
    void restartWindow()
    {
        m_longest = 0;
        m_last = m_clock.elapsed();
    }

    qint64 longestMs() const { return m_longest; }
    // The display texts in the order they were shown, repeats folded.
    const QStringList& shown() const { return m_shown; }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = qMax(m_longest, now - m_last);
        m_last = now;
        if (m_display) {
            const QString text = m_display();
            if (m_shown.isEmpty() || m_shown.constLast() != text)
                m_shown << text;
        }
    }

    std::function<QString()> m_display;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    QStringList m_shown;
};

} // namespace faultfixture
