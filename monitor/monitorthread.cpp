#include "monitorthread.h"

#include "comadapter.h"
#include "consoleprint.h"

#include <algorithm>
#include <chrono>

constexpr quint16 monitorThread::kStatusStart;
constexpr int monitorThread::kStatusCount;

namespace {
const int kFirstRegister = QR7215_FIRST_REGISTER;
const int kBlockOffset = monitorThread::kStatusStart - kFirstRegister;
} // namespace

monitorThread::monitorThread(QObject* parent)
    : QThread(parent)
{
}

monitorThread::~monitorThread()
{
    stopPoll();
}

void monitorThread::startPoll(quint32 pollCycle)
{
    m_stopRequested.store(false);
    m_pollCycle.store(pollCycle);
    start(QThread::InheritPriority);
}

bool monitorThread::stopPoll()
{
    {
        std::lock_guard<std::mutex> lock(m_sleepMutex);
        m_stopRequested.store(true);
    }
    m_wake.notify_all();
    quit();
    const bool ended = wait();
    m_runsEnded.load(std::memory_order_acquire);
    // A thread that never ran has nobody to clear the flag.
    m_stopRequested.store(false);
    return ended;
}

monitorThread::statusBlock monitorThread::registers() const
{
    statusBlock block;
    std::lock_guard<std::mutex> lock(m_registersMutex);
    for (int i = 0; i < kStatusCount; ++i)
        block[i] = m_registers[kBlockOffset + i];
    return block;
}

bool monitorThread::sleepOnePeriod()
{
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    // A period of 0 would turn the loop into a spin while the link is closed.
    const auto period = std::chrono::milliseconds(std::max<quint32>(1, m_pollCycle.load()));
    return m_wake.wait_for(lock, period, [this] { return m_stopRequested.load(); });
}

void monitorThread::run()
{
    QThread::currentThread()->setPriority(QThread::HighestPriority);

    while (!m_stopRequested.load()) {
        if (sleepOnePeriod())
            break;
        if (!g_comAdapter.isConnected())
            continue;

        // Read into a block of our own and publish it whole, so the page never
        // sees half of one poll and half of the next.
        statusBlock block{};
        const int result = g_comAdapter.watchReadStatus(kStatusStart, kStatusCount, block.data());
        if (result != 0) {
            // A disconnect between the flag test and the read is no failure.
            if (result == QR7215_E_NOT_OPEN && !g_comAdapter.isConnected())
                continue;
            // Throttled: a module that stops answering fails every pass.
            g_consolePrint.showError(QStringLiteral("Read error: ") + QString::number(result));
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m_registersMutex);
            for (int i = 0; i < kStatusCount; ++i)
                m_registers[kBlockOffset + i] = block[i];
        }
        if (m_stopRequested.load())
            break;
        emit signalFinished();
    }
    m_stopRequested.store(false);
    m_runsEnded.fetch_add(1, std::memory_order_release);
}
