// The process-wide message bus: log lines and the device's version texts travel
// from whichever thread raises them to the log page and the status bar.
// Failure lines take a throttled road, so that a fault that repeats every poll
// is one clear line and a count instead of a flood; event lines are never held
// back, an operator must see every edge.
#pragma once

#include "logthrottle.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class QTimer;

class consolePrint : public QObject
{
    Q_OBJECT
public:
    consolePrint() = default;

    // Callable from any thread; receivers in the GUI thread get the text queued.
    void showMsg(const QString& msg);
    // A failed operation: the first occurrence of a text passes at once,
    // repeats are counted and summarised (see logThrottle).
    void showError(const QString& msg);
    void showHwVer(const QString& msg);
    void showFwVer(const QString& msg);
    void showDrvVer(const QString& msg);

    // The failure lines' throttle, for its timing.
    logThrottle& throttle() { return m_throttle; }

signals:
    void signalShowMsg(const QString& msg);
    void signalShowHwVer(const QString& msg);
    void signalShowFwVer(const QString& msg);
    void signalShowDrvVer(const QString& msg);

private:
    // Makes sure a summary that falls due is logged even when the text never
    // comes again: a timer in the application's thread, made there on first use.
    void scheduleFlush();
    void armFlushTimer();
    void flushThrottled();

    logThrottle m_throttle;
    std::atomic<bool> m_flushArmed{false};
    // Owned by the application object, so it goes away with it and never
    // outlives the event dispatcher; touched only in the application's thread.
    QPointer<QTimer> m_flushTimer;
};

extern consolePrint g_consolePrint;
