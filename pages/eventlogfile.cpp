#include "eventlogfile.h"

#include "consoleprint.h"
#include "eventloglocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace {

// The writer syncActive() asks; guarded, because a writer may go away while
// the watch asks.
std::mutex g_activeMutex;
eventLogFile* g_active = nullptr;

QByteArray encoded(const QString& line)
{
    return line.toUtf8() + '\n';
}

} // namespace

QString eventLogFile::defaultPath()
{
    return platform::eventLogFolder() + QStringLiteral("/QR-7215.log");
}

QString eventLogFile::formatLine(const QDateTime& when, const QString& msg)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QLatin1String(">>") + msg;
}

QString eventLogFile::refusedText(const QString& path, const QString& reason)
{
    return QStringLiteral("Event log: cannot write %1 (%2); its lines are kept and written when it can.")
        .arg(QDir::toNativeSeparators(path), reason);
}

eventLogFile::eventLogFile(const QString& path, qint64 rotateBytes, QObject* parent)
    : QObject(parent), m_path(path), m_rotateBytes(rotateBytes)
{
    m_thread = std::thread([this] { run(); });
    std::lock_guard<std::mutex> lock(g_activeMutex);
    g_active = this;
}

eventLogFile::~eventLogFile()
{
    {
        std::lock_guard<std::mutex> lock(g_activeMutex);
        if (g_active == this)
            g_active = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QString eventLogFile::folder() const
{
    return QFileInfo(m_path).absolutePath();
}

void eventLogFile::slotOnShowMsg(const QString& msg)
{
    append(formatLine(QDateTime::currentDateTime(), msg));
}

void eventLogFile::slotOnLine(const QString& line)
{
    append(line);
}

void eventLogFile::append(const QString& line)
{
    QByteArray bytes = encoded(line);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queuedBytes += bytes.size();
        m_queue.push_back(std::move(bytes));
        ++m_appended;
        while (m_queuedBytes > kMaxPendingBytes && m_queue.size() > 1) {
            m_queuedBytes -= m_queue.front().size();
            m_queue.pop_front();
            ++m_dropped;
        }
    }
    m_wake.notify_one();
}

bool eventLogFile::sync(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t target = m_appended;
    if (m_synced >= target && !m_failed)
        return true;
    m_syncWanted = std::max(m_syncWanted, target);
    const std::uint64_t round = m_rounds;
    m_wake.notify_one();
    // A round that ends in a refusal answers at once: waiting longer would
    // only hold back whoever asked.
    m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return m_synced >= target || (m_failed && m_rounds > round); });
    return m_synced >= target;
}

bool eventLogFile::syncActive(int timeoutMs)
{
    std::lock_guard<std::mutex> lock(g_activeMutex);
    return !g_active || g_active->sync(timeoutMs);
}

void eventLogFile::run()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    clock::time_point retryAt;
    for (;;) {
        // A refusal pauses the writing, so that a dead disk is not hammered
        // with every line; a sync or the end of the program tries at once.
        const auto due = [&] {
            if (m_stop || m_syncWanted > m_synced)
                return true;
            return !m_queue.empty() && (!m_failed || clock::now() >= retryAt);
        };
        if (m_failed)
            m_wake.wait_until(lock, retryAt, due);
        else
            m_wake.wait(lock, due);
        if (!due() && !m_stop)
            continue;

        std::deque<QByteArray> batch;
        batch.swap(m_queue);
        m_queuedBytes = 0;
        const std::uint64_t dropped = m_dropped;
        m_dropped = 0;
        const std::uint64_t target = m_appended;
        const bool wantSync = m_syncWanted > m_synced;
        const bool wasFailed = m_failed;
        lock.unlock();

        if (dropped > 0)
            batch.push_front(encoded(formatLine(QDateTime::currentDateTime(),
                                                QStringLiteral("Event log: %1 lines were lost while the file "
                                                               "could not be written.")
                                                    .arg(dropped))));
        QString reason;
        bool ok = write(batch, &reason);
        if (ok && wantSync) {
            ok = m_file || open(&reason);
            if (ok && !platform::syncToDisk(m_file->handle(), m_path)) {
                ok = false;
                reason = QStringLiteral("the disk did not confirm the write");
            }
        }
        if (!ok) {
            close();
            if (!wasFailed)
                g_consolePrint.showMsg(refusedText(m_path, reason));
        }

        lock.lock();
        if (ok) {
            m_failed = false;
            if (wantSync)
                m_synced = target;
        } else {
            m_failed = true;
            retryAt = clock::now() + std::chrono::milliseconds(kRetryMs);
            // The unwritten lines go back in front of any that came meanwhile.
            for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
                m_queuedBytes += it->size();
                m_queue.push_front(std::move(*it));
            }
            m_syncWanted = m_synced;
        }
        ++m_rounds;
        m_done.notify_all();
        if (m_stop && (m_queue.empty() || m_failed))
            break;
    }
    lock.unlock();
    close();
}

bool eventLogFile::write(std::deque<QByteArray>& batch, QString* reason)
{
    while (!batch.empty()) {
        const QByteArray& bytes = batch.front();
        if (!m_file && !open(reason))
            return false;
        if (m_size > 0 && m_size + bytes.size() > m_rotateBytes && !rotate(reason))
            return false;
        const qint64 n = m_file->write(bytes);
        if (n != bytes.size() || !m_file->flush()) {
            *reason = m_file->errorString();
            // A part of the line may have reached the file; the retry writes
            // it whole, after a break, rather than leave it cut.
            if (n > 0)
                m_file->write("\n");
            return false;
        }
        m_size += n;
        batch.pop_front();
    }
    return true;
}

bool eventLogFile::open(QString* reason)
{
    const QString dir = folder();
    if (!QDir().mkpath(dir)) {
        *reason = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    auto file = std::make_unique<QFile>(m_path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        *reason = file->errorString();
        return false;
    }
    m_size = file->size();
    m_file = std::move(file);
    return true;
}

bool eventLogFile::rotate(QString* reason)
{
    close();
    const auto numbered = [this](int n) { return m_path + QLatin1Char('.') + QString::number(n); };
    QFile::remove(numbered(kKeptFiles - 1));
    for (int n = kKeptFiles - 2; n >= 1; --n) {
        if (QFile::exists(numbered(n)) && !QFile::rename(numbered(n), numbered(n + 1))) {
            *reason = QStringLiteral("%1 cannot be renamed").arg(QDir::toNativeSeparators(numbered(n)));
            return false;
        }
    }
    if (!QFile::rename(m_path, numbered(1))) {
        *reason = QStringLiteral("%1 cannot be renamed").arg(QDir::toNativeSeparators(m_path));
        return false;
    }
    return open(reason);
}

void eventLogFile::close()
{
    m_file.reset();
    m_size = 0;
}
