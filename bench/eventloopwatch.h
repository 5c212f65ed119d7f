// Watches the GUI thread's event loop with a 1 ms timer: a tick that comes
// late means the loop was blocked for that long.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class eventLoopWatch : public QObject
{
    Q_OBJECT
public:
    explicit eventLoopWatch(QObject* parent = nullptr);

    void start();
    void stop();

    // Longest lateness of a tick, in ms.
    double longestStallMs() const { return m_longestNs / 1e6; }
    // Ticks that came more than 20 ms late.
    int stallsOver20Ms() const { return m_over20; }
    // Share of the watched time the loop spent blocked beyond 2 ms at a time.
    double blockedShare() const;

private:
    void onTick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_startNs = 0;
    qint64 m_endNs = 0;
    qint64 m_longestNs = 0;
    qint64 m_blockedNs = 0;
    int m_over20 = 0;
};
