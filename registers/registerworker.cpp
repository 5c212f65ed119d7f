#include "registerworker.h"

registerWorker::registerWorker(QObject* parent)
    : QObject(parent)
    , m_runner(new QObject)
{
    qRegisterMetaType<registerTransaction>();
    m_thread.setObjectName(QStringLiteral("registerWorker"));
    m_runner->moveToThread(&m_thread);
}

registerWorker::~registerWorker()
{
    waitUntilIdle();
    m_thread.quit();
    m_thread.wait();
    delete m_runner;
}

bool registerWorker::submit(const registerTransaction& transaction)
{
    if (m_busy)
        return false;
    m_busy = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onLine = true;
    }
    if (!m_thread.isRunning())
        m_thread.start();
    QMetaObject::invokeMethod(m_runner, [this, request = transaction] {
        registerTransaction transaction = request;
        transaction.run();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_onLine = false;
        }
        m_idle.notify_all();
        // Dropped with the worker if it is gone by the time the event comes.
        QMetaObject::invokeMethod(this, [this, transaction] { finish(transaction); }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    return true;
}

void registerWorker::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_onLine; });
}

void registerWorker::finish(const registerTransaction& transaction)
{
    m_busy = false;
    emit signalTransactionDone(transaction);
}
