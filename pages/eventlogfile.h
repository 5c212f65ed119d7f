// The event log on disk: every line of the log page, appended to QR-7215.log
// as it happens, so that the history outlives the program and the shutdown a
// power loss sets off. The writing happens on a thread of its own: a slow or
// refusing disk never holds up the GUI or the watch. Usable without widgets,
// so a headless program keeps the same file: it connects the message bus's
// signalShowMsg to slotOnShowMsg, where the main window feeds the lines the
// log page showed to slotOnLine. Either way the watch syncs it (syncActive)
// before a script starts.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QFile;

class eventLogFile : public QObject
{
    Q_OBJECT
public:
    // The file is rotated when a line would take it past this size...
    static constexpr qint64 kRotateBytes = 1024 * 1024;
    // ...into QR-7215.log.1 (the newest) to .4, so five files in all.
    static constexpr int kKeptFiles = 5;
    // Lines kept in memory while the disk refuses them; beyond that the oldest
    // go and the file says how many.
    static constexpr qint64 kMaxPendingBytes = 1024 * 1024;
    // How often a refused write is tried again when nothing asks sooner.
    static constexpr int kRetryMs = 5000;

    static QString defaultPath();
    // "yyyy-MM-dd hh:mm:ss.zzz>>" + msg: the one form of a line, on the page
    // and in the file.
    static QString formatLine(const QDateTime& when, const QString& msg);

    explicit eventLogFile(const QString& path = defaultPath(), qint64 rotateBytes = kRotateBytes,
                          QObject* parent = nullptr);
    // Writes what is still queued, then ends the writer.
    ~eventLogFile() override;

    QString path() const { return m_path; }
    QString folder() const;

    // Queues a line that is already stamped; never waits for the disk.
    void append(const QString& line);
    // Waits until every line appended so far is on the disk itself (fsync), at
    // most timeoutMs. False when the time ran out or the disk refused; the
    // lines stay queued either way. Ends a refusal's pause: the write is tried now.
    bool sync(int timeoutMs);

    // sync() on the program's event log, the writer made last that still
    // lives; true when there is none. For the watch, which knows no writer.
    static bool syncActive(int timeoutMs);

    // The text of the one line a refusal costs on the log page.
    static QString refusedText(const QString& path, const QString& reason);

public slots:
    // A message of the bus, stamped now: for a program without a log page.
    void slotOnShowMsg(const QString& msg);
    // A line as the log page showed it.
    void slotOnLine(const QString& line);

private:
    void run();
    // Writes the batch; what is left unwritten on failure stays in it.
    bool write(std::deque<QByteArray>& batch, QString* reason);
    bool open(QString* reason);
    bool rotate(QString* reason);
    void close();

    const QString m_path;
    const qint64 m_rotateBytes;

    // Shared with the writer thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<QByteArray> m_queue;
    qint64 m_queuedBytes = 0;
    std::uint64_t m_appended = 0;   // lines handed in so far
    std::uint64_t m_synced = 0;     // of those, on the disk itself
    std::uint64_t m_dropped = 0;    // lost to the pending bound, not yet told
    std::uint64_t m_syncWanted = 0; // a sync asks for lines up to this count
    std::uint64_t m_rounds = 0;     // writing rounds finished
    bool m_failed = false;
    bool m_stop = false;

    // The writer thread's own.
    std::unique_ptr<QFile> m_file;
    qint64 m_size = 0;

    std::thread m_thread;
};
