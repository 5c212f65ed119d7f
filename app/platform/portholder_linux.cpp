// Finds the holder of a port in three places: the exclusive flock the device
// library (and picocom, screen...) takes on the port, listed in /proc/locks;
// a UUCP lock file (LCK..ttyUSB0 in /var/lock or /run/lock, written by
// minicom, ModemManager and friends); and the open descriptors every process
// lists under /proc/PID/fd, which on a pseudo-terminal also shows whoever
// serves the line, so it comes last. Processes
// of other users hide their descriptors from anyone but root, so for an
// ordinary user only the lock file and the user's own processes can answer.
#include "portholder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {
namespace {

QString devicePath(const QString& name)
{
    return name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

qint64 lockFileHolder(const QString& device)
{
    const QString base = QFileInfo(device).fileName();
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        QFile lock(QString::fromLatin1(folder) + QStringLiteral("/LCK..") + base);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // Ten ASCII digits padded with blanks, or a binary int from older tools.
        const QByteArray content = lock.read(64);
        qint64 pid = content.trimmed().toLongLong();
        if (pid == 0 && content.size() == int(sizeof(int)))
            pid = *reinterpret_cast<const int*>(content.constData());
        if (alive(pid) && pid != ::getpid())
            return pid;
    }
    return 0;
}

// Lines such as "3: FLOCK  ADVISORY  WRITE 5587 00:19:6 0 EOF": device in
// hexadecimal major:minor, inode in decimal.
qint64 flockHolder(const QString& device)
{
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return 0;
    const QString where = QStringLiteral("%1:%2:%3")
                              .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(st.st_ino);
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& raw : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(raw).simplified().split(QLatin1Char(' '));
        if (f.size() >= 6 && f[1] == QLatin1String("FLOCK") && f[5] == where) {
            const qint64 pid = f[4].toLongLong();
            if (alive(pid) && pid != ::getpid())
                return pid;
        }
    }
    return 0;
}

} // namespace

qint64 portHolder(const QString& name)
{
    const QString device = devicePath(name);
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return 0;
    if (const qint64 pid = flockHolder(target))
        return pid;
    if (const qint64 pid = lockFileHolder(target))
        return pid;
    const qint64 self = ::getpid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : pids) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const QString fdFolder = QStringLiteral("/proc/") + entry + QStringLiteral("/fd");
        const QStringList fds = QDir(fdFolder).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            if (QFileInfo(fdFolder + QLatin1Char('/') + fd).symLinkTarget() == target)
                return pid;
        }
    }
    return 0;
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

} // namespace platform
