#include "consoleprint.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <limits>

consolePrint g_consolePrint;

void consolePrint::showMsg(const QString& msg)
{
    emit signalShowMsg(msg);
}

void consolePrint::showError(const QString& msg)
{
    const QStringList lines = m_throttle.submit(msg);
    for (const QString& line : lines)
        emit signalShowMsg(line);
    scheduleFlush();
}

void consolePrint::showHwVer(const QString& msg)
{
    emit signalShowHwVer(msg);
}

void consolePrint::showFwVer(const QString& msg)
{
    emit signalShowFwVer(msg);
}

void consolePrint::showDrvVer(const QString& msg)
{
    emit signalShowDrvVer(msg);
}

void consolePrint::scheduleFlush()
{
    if (m_flushArmed.exchange(true))
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        // Without an event loop summaries come with the text's next occurrence.
        m_flushArmed.store(false);
        return;
    }
    // The bus was made before the application object and may be called from
    // the poll thread: the timer is made and started in the application's thread.
    QMetaObject::invokeMethod(app, [this] { armFlushTimer(); }, Qt::QueuedConnection);
}

void consolePrint::armFlushTimer()
{
    if (!m_flushTimer) {
        m_flushTimer = new QTimer(QCoreApplication::instance());
        m_flushTimer->setObjectName(QStringLiteral("logThrottleFlushTimer"));
        m_flushTimer->setSingleShot(true);
        connect(m_flushTimer.data(), &QTimer::timeout, this, [this] { flushThrottled(); });
        // Gone with the application object: a later one starts afresh.
        connect(m_flushTimer.data(), &QObject::destroyed, this, [this] { m_flushArmed.store(false); });
    }
    // Cleared before asking, so a failure submitted meanwhile arms it again
    // rather than finding it armed for a burst that has just been forgotten.
    m_flushArmed.store(false);
    const std::int64_t due = m_throttle.msUntilDue();
    if (due < 0)
        return;
    m_flushArmed.store(true);
    m_flushTimer->start(static_cast<int>(std::min<std::int64_t>(due, std::numeric_limits<int>::max())));
}

void consolePrint::flushThrottled()
{
    const QStringList lines = m_throttle.flush();
    for (const QString& line : lines)
        emit signalShowMsg(line);
    armFlushTimer();
}
