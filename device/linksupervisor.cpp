#include "linksupervisor.h"

#include "comadapter.h"
#include "consoleprint.h"

namespace {
const int kCheckIntervalMs = 100;
} // namespace

constexpr int linkSupervisor::kFirstRetryMs;
constexpr int linkSupervisor::kLongestRetryMs;

linkSupervisor::linkSupervisor(QObject* parent)
    : QObject(parent)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &linkSupervisor::slotOnRetry);
    m_checkTimer.setInterval(kCheckIntervalMs);
    connect(&m_checkTimer, &QTimer::timeout, this, &linkSupervisor::slotOnCheckLink);
}

linkSupervisor::~linkSupervisor()
{
    if (attemptInFlight())
        g_comAdapter.slotCloseDevice();
    joinWorker();
}

void linkSupervisor::open(const comSettings& settings, bool keepTrying)
{
    if (m_state != state::Closed)
        return;
    m_settings.assignFrom(settings);
    m_keepTrying = keepTrying;
    m_lastReported = 0;
    m_retryMs = kFirstRetryMs;
    setState(state::Connecting);
    startAttempt();
}

void linkSupervisor::adoptOpenLink(const comSettings& settings)
{
    if (m_state != state::Closed || !g_comAdapter.isConnected())
        return;
    m_settings.assignFrom(settings);
    m_keepTrying = true;
    m_lastReported = 0;
    m_retryMs = kFirstRetryMs;
    setState(state::Open);
}

void linkSupervisor::close()
{
    const state was = m_state;
    setState(state::Closed);
    m_retryTimer.stop();
    if (was == state::Open || attemptInFlight()) {
        // Cuts an attempt in flight short; closes an open link.
        g_comAdapter.slotCloseDevice();
    }
    joinWorker();
    if (was == state::Lost || (was == state::Connecting && m_keepTrying && m_lastReported != 0))
        g_consolePrint.showMsg(QStringLiteral("Connect attempts stopped."));
}

void linkSupervisor::startAttempt()
{
    joinWorker();
    g_comAdapter.prepareOpen();
    m_worker = std::thread([this] {
        // Failures are reported on the GUI thread, once per kind.
        const int result = g_comAdapter.openDevice(&m_settings, false);
        QMetaObject::invokeMethod(this, "slotOnAttemptDone", Qt::QueuedConnection, Q_ARG(int, result));
    });
}

void linkSupervisor::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void linkSupervisor::slotOnAttemptDone(int result)
{
    joinWorker();
    // Disconnect came first: the attempt was cancelled and says nothing.
    if (m_state != state::Connecting && m_state != state::Lost)
        return;
    if (result == 0) {
        if (m_state == state::Lost)
            g_consolePrint.showMsg(QStringLiteral("Communication with the module restored."));
        setState(state::Open);
        emit signalOpened();
        return;
    }
    if (result != m_lastReported) {
        g_comAdapter.reportOpenFailure(result, m_settings.comPort);
        if (m_keepTrying && m_lastReported == 0 && m_state == state::Connecting)
            g_consolePrint.showMsg(QStringLiteral("Trying to connect again until the module answers."));
        m_lastReported = result;
    }
    if (!m_keepTrying) {
        setState(state::Closed);
        return;
    }
    m_retryTimer.start(m_retryMs);
    m_retryMs = qMin(2 * m_retryMs, kLongestRetryMs);
}

void linkSupervisor::slotOnRetry()
{
    if (m_state == state::Connecting || m_state == state::Lost)
        startAttempt();
}

void linkSupervisor::slotOnCheckLink()
{
    if (m_state != state::Open)
        return;
    if (!g_comAdapter.isConnected()) {
        // Closed by someone else (the quit closes the device first).
        setState(state::Closed);
        return;
    }
    if (!g_comAdapter.linkLost())
        return;
    g_consolePrint.showMsg(QStringLiteral("Communication with the module lost."));
    g_comAdapter.closeLostLink();
    m_keepTrying = true;
    m_lastReported = 0;
    m_retryMs = kFirstRetryMs;
    setState(state::Lost);
    // The port may come back under the same path a moment later (a USB
    // adapter re-enumerating): the first attempt waits for it.
    m_retryTimer.start(m_retryMs);
    m_retryMs = qMin(2 * m_retryMs, kLongestRetryMs);
}

void linkSupervisor::setState(state s)
{
    m_state = s;
    if (s == state::Open)
        m_checkTimer.start();
    else
        m_checkTimer.stop();
}
