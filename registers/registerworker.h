// Runs the register table's exchanges with the device on a thread of its own,
// so that a slow line or a module that has stopped answering never holds up
// the GUI thread. One exchange at a time: a new one is refused while the last
// one's outcome has not been handed back. The outcome comes back by value, in
// the thread the worker belongs to.
#pragma once

#include "registertransaction.h"

#include <QMetaType>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

class registerWorker : public QObject
{
    Q_OBJECT
public:
    explicit registerWorker(QObject* parent = nullptr);
    // Waits for an exchange on the line, then ends the thread.
    ~registerWorker() override;

    // Starts `transaction` on the worker's thread and returns true, or returns
    // false and does nothing while an earlier one is not done.
    bool submit(const registerTransaction& transaction);
    // From submit() until signalTransactionDone() has been emitted.
    bool isBusy() const { return m_busy; }
    // Blocks until no exchange of this worker is on the line; its outcome may
    // still be on its way. Returns at once when none is.
    void waitUntilIdle();

signals:
    void signalTransactionDone(const registerTransaction& transaction);

private:
    void finish(const registerTransaction& transaction);

    QThread m_thread;
    // Lives in m_thread: the context the exchanges run in.
    QObject* m_runner = nullptr;
    // Touched in the owner's thread only.
    bool m_busy = false;
    // True while an exchange is queued for or running on the worker's thread.
    bool m_onLine = false;
    std::mutex m_mutex;
    std::condition_variable m_idle;
};

Q_DECLARE_METATYPE(registerTransaction)
