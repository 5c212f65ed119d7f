// The post-process script runner: runs the operator's script once, in a thread
// of its own, within a time limit, tells it through its environment what
// started it, and writes every start, its outcome and the last lines of its
// output to the message log. A start request during a run is dropped, not
// queued.
#pragma once

#include "scriptcontext.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class batThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kDefaultLimitMs = 30000;
    // Lines of the script's output (standard output and error together) kept
    // for the log, and the longest line kept whole.
    static constexpr int kOutputLines = 20;
    static constexpr int kOutputLineChars = 300;

    explicit batThread(QObject* parent = nullptr, int limitMs = kDefaultLimitMs);
    // Ends a running script and joins the thread.
    ~batThread() override;

    // For good: kills a running script with everything it started and refuses
    // later runs. The thread ends within a fraction of a second.
    void shutDown();

    // Starts a run that tells the script about context. False, and nothing
    // started, while a run is in progress.
    bool startScript(const scriptContext& context);

    // The script path as the last run read it.
    QString batPath() const;
    int limitMs() const { return m_limitMs; }

signals:
    void signalFinished();
    // A run is over; outcome is the log line that said how it ended.
    void signalScriptEnded(const QString& outcome);

protected:
    void run() override;

private:
    void runScript();
    // Runs the script at path and says how it ended.
    QString runProcess(const QString& path, const scriptContext& context);
    QString limitText() const;

    mutable std::mutex m_pathMutex;
    QString m_batPath;
    scriptContext m_context;
    const int m_limitMs;
    std::atomic<bool> m_shuttingDown{false};
    // Written last by run() and read after wait(): makes the join visible to
    // tools that do not see inside QThread.
    std::atomic<int> m_runsEnded{0};
};
