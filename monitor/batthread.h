// The post-process script runner: runs the operator's script once, in a thread
// of its own, within a time limit, and writes every start and its outcome to
// the message log. A start request during a run is dropped, not queued.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class batThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kDefaultLimitMs = 30000;

    explicit batThread(QObject* parent = nullptr, int limitMs = kDefaultLimitMs);
    // Ends a running script and joins the thread.
    ~batThread() override;

    // For good: kills a running script with everything it started and refuses
    // later runs. The thread ends within a fraction of a second.
    void shutDown();

    // The script path as the last run read it.
    QString batPath() const;
    int limitMs() const { return m_limitMs; }

signals:
    void signalFinished();

protected:
    void run() override;

private:
    void runScript();
    QString limitText() const;

    mutable std::mutex m_pathMutex;
    QString m_batPath;
    const int m_limitMs;
    std::atomic<bool> m_shuttingDown{false};
    // Written last by run() and read after wait(): makes the join visible to
    // tools that do not see inside QThread.
    std::atomic<int> m_runsEnded{0};
};
