// The status poll thread: every poll period it reads the module's status
// block through the device adapter and tells the status page that a fresh,
// complete block waits in its buffer.
#pragma once

#include "sdk/qr7215registers.h"

#include <QThread>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>

class monitorThread : public QThread
{
    Q_OBJECT
public:
    static constexpr quint16 kStatusStart = QR7215_STATUS_BLOCK_START;
    static constexpr int kStatusCount = QR7215_STATUS_BLOCK_COUNT;
    using statusBlock = std::array<quint16, kStatusCount>;

    explicit monitorThread(QObject* parent = nullptr);
    // Stops and joins a running loop.
    ~monitorThread() override;

    // Starts the loop with the given period; on a running loop it only
    // changes the period, which counts from the next sleep on.
    void startPoll(quint32 pollCycle);
    // Ends the loop and waits until run() has returned.
    bool stopPoll();

    // Copy of the last complete block read (QR7215_STATUS_BLOCK_START on).
    statusBlock registers() const;

    quint32 pollCycle() const { return m_pollCycle.load(); }
    bool stopRequested() const { return m_stopRequested.load(); }

signals:
    void signalFinished();

protected:
    void run() override;

private:
    // Sleeps one period; returns early, with true, once a stop is requested.
    bool sleepOnePeriod();

    // Word i mirrors register 40000 + i; only the status block is ever written.
    quint16 m_registers[50] = {};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<quint32> m_pollCycle{10};
    // Written last by run() and read after wait(): makes the join visible to
    // tools that do not see inside QThread.
    std::atomic<int> m_runsEnded{0};

    mutable std::mutex m_registersMutex;
    // Lets stopPoll() cut a long sleep short instead of waiting out the period.
    std::mutex m_sleepMutex;
    std::condition_variable m_wake;
};
