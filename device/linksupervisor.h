// Keeps the link to the module: opens it on a worker thread so that a silent
// module never holds up the window, notices when an open link is lost, and
// reopens the same port with the same settings by itself, with a back-off,
// until it answers again or the operator presses Disconnect. Auto Connect at
// log-on uses the same retries, since the module or its adapter may not be
// there yet.
#pragma once

#include "comsettings.h"

#include <QObject>
#include <QTimer>

#include <thread>

class linkSupervisor : public QObject
{
    Q_OBJECT
public:
    enum class state {
        Closed,      // no link, nothing being tried
        Connecting,  // an open requested by the operator or Auto Connect
        Open,        // the adapter is connected
        Lost         // the open link was lost; reopening it
    };

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLongestRetryMs = 30000;

    explicit linkSupervisor(QObject* parent = nullptr);
    // Cancels an attempt in flight and waits for its worker (milliseconds).
    ~linkSupervisor() override;

    // Opens the link with a copy of the record. keepTrying: failed attempts
    // are repeated with the back-off instead of ending in Closed. Ignored
    // unless Closed.
    void open(const comSettings& settings, bool keepTrying);
    // Takes over a link the caller has just opened with settings, as if
    // open() had opened it: a loss from here on is reopened by itself.
    // Ignored unless Closed and the adapter is connected.
    void adoptOpenLink(const comSettings& settings);
    // Disconnect: cancels an attempt or a wait for the next one, or closes
    // the open link.
    void close();

    state currentState() const { return m_state; }
    // Whether an open is on the worker right now.
    bool attemptInFlight() const { return m_worker.joinable(); }
    // Milliseconds before the next attempt after the one that failed last.
    int nextRetryMs() const { return m_retryMs; }

signals:
    // An open succeeded (the first one, or a reopen after a loss).
    void signalOpened();

private slots:
    void slotOnAttemptDone(int result);
    void slotOnRetry();
    void slotOnCheckLink();

private:
    void startAttempt();
    void joinWorker();
    void setState(state s);

    state m_state = state::Closed;
    bool m_keepTrying = false;
    // Last failure reported in this run of attempts: the same failure is
    // not logged again at every attempt.
    int m_lastReported = 0;
    int m_retryMs = kFirstRetryMs;
    // What the attempts open with; read by the worker while one runs.
    comSettings m_settings;
    std::thread m_worker;
    QTimer m_retryTimer;
    QTimer m_checkTimer;
};
