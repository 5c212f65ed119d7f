// What the kernel knows of a process: CPU time (all its threads) and
// resident memory, read from /proc.
#pragma once

#include <QStringList>
#include <QtGlobal>

namespace processProbe {

// CPU time of the threads the process has now, in ns (their ids go to
// `tasks` when given); -1 when it cannot be read. Threads that ended are not
// counted, so compare two readings only when `tasks` is the same.
qint64 threadCpuTimeNs(qint64 pid, QStringList* tasks = nullptr);
// CPU time so far of each thread the process has now, in ns, by thread id;
// the name is the thread's (Qt names its threads after their class).
struct threadTime
{
    QString id;
    QString name;
    qint64 ns = 0;
};
QList<threadTime> threadTimes(qint64 pid);
// CPU time of the whole process, ended threads included, in 10 ms steps.
qint64 processCpuTimeNs(qint64 pid);
// Resident set size in bytes; -1 when it cannot be read.
qint64 residentBytes(qint64 pid);
qint64 selfPid();

} // namespace processProbe
