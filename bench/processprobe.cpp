#include "processprobe.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>

namespace processProbe {

namespace {

QByteArray readProc(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// utime + stime of one stat line, in clock ticks; -1 when unreadable.
qint64 ticksOf(const QByteArray& stat)
{
    // The command name may hold blanks; the fields after it are plain.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // Field 3 (state) is the first after the name; utime is 14, stime 15.
    if (fields.size() < 13)
        return -1;
    return fields.at(11).toLongLong() + fields.at(12).toLongLong();
}

} // namespace

qint64 threadCpuTimeNs(qint64 pid, QStringList* tasksOut)
{
    // schedstat counts nanoseconds on the CPU, per thread.
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(pid);
    QStringList tasks = QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    tasks.sort();
    if (tasks.isEmpty())
        return -1;
    qint64 total = 0;
    for (const QString& task : tasks) {
        const QByteArray line = readProc(taskDir + '/' + task + QStringLiteral("/schedstat"));
        if (line.isEmpty())
            return -1;
        total += line.split(' ').value(0).toLongLong();
    }
    if (tasksOut)
        *tasksOut = tasks;
    return total;
}

QList<threadTime> threadTimes(qint64 pid)
{
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(pid);
    QList<threadTime> out;
    for (const QString& task : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray line = readProc(taskDir + '/' + task + QStringLiteral("/schedstat"));
        if (line.isEmpty())
            continue;
        threadTime t;
        t.id = task;
        t.name = QString::fromUtf8(readProc(taskDir + '/' + task + QStringLiteral("/comm")).trimmed());
        t.ns = line.split(' ').value(0).toLongLong();
        out << t;
    }
    return out;
}

qint64 processCpuTimeNs(qint64 pid)
{
    const qint64 ticks = ticksOf(readProc(QStringLiteral("/proc/%1/stat").arg(pid)));
    return ticks < 0 ? -1 : ticks * (1000000000LL / sysconf(_SC_CLK_TCK));
}

qint64 residentBytes(qint64 pid)
{
    const QByteArray statm = readProc(QStringLiteral("/proc/%1/statm").arg(pid));
    const QList<QByteArray> fields = statm.split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

qint64 selfPid()
{
    return static_cast<qint64>(::getpid());
}

} // namespace processProbe
