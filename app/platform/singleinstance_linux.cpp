// Single-instance guard on a lock file in the user's runtime folder. QLockFile
// writes the holder's pid and takes an flock on the file, so a live holder can
// never be displaced, and a file left behind by a crash (holder gone) is
// recognised as stale and taken over.
#include "singleinstance.h"
#include "singleinstance_lockfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {
namespace {
constexpr qint64 unnamedLockGraceMs = 5000;
}

QString firstUsableDirectory(const QStringList& candidates)
{
    for (const QString& candidate : candidates) {
        if (candidate.isEmpty())
            continue;
        if (!QFileInfo(candidate).exists() && !QDir().mkpath(candidate))
            continue;
        const QFileInfo info(candidate);
        if (info.isDir() && info.isWritable())
            return info.absoluteFilePath();
    }
    return QString();
}

QString instanceLockDirectory()
{
    return firstUsableDirectory({
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation),
        QDir::tempPath() + QStringLiteral("/qr7215-") + QString::number(::getuid()),
    });
}

std::unique_ptr<QLockFile> takeInstanceLock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Age alone must never make a running instance's lock stale: only a dead
    // (or replaced) holder process does.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;

    // A holder writes its pid right after creating the file, so a file that
    // still names no process after a while was left by a crash at that very
    // moment. removeStaleLockFile() is refused while a live holder keeps its
    // native lock on the file, so this never displaces a running instance.
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (lock->getLockInfo(&pid, &hostName, &appName))
        return nullptr;
    const qint64 age = QFileInfo(path).lastModified().msecsTo(QDateTime::currentDateTime());
    if (qAbs(age) < unnamedLockGraceMs || !lock->removeStaleLockFile() || !lock->tryLock(0))
        return nullptr;
    return lock;
}

bool acquireSingleInstance(const char* name)
{
    // Held until static destruction; a normal exit removes the file, a crash
    // leaves it for the next start to take over.
    static std::unique_ptr<QLockFile> held;
    if (held)
        return true;

    const QString directory = instanceLockDirectory();
    if (directory.isEmpty())
        return true; // nowhere to keep a guard: running beats refusing to start
    held = takeInstanceLock(directory + QLatin1Char('/') + QString::fromUtf8(name)
                            + QStringLiteral(".lock"));
    return held != nullptr;
}

} // namespace platform

#include "instancechannelname.h"

namespace platform {

QString instanceChannelName(const char* name)
{
    // A full path: QLocalServer would otherwise put it in /tmp, shared by
    // every user of the machine.
    const QString directory = instanceLockDirectory();
    return (directory.isEmpty() ? QDir::tempPath() : directory) + QLatin1Char('/') + QString::fromUtf8(name)
           + QStringLiteral(".sock");
}

} // namespace platform
