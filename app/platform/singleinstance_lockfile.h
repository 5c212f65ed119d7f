// The pieces of the lock-file guard (the Unix side of singleinstance.h), open
// to tests so they can drive them on folders of their own.
#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace platform {

// The first usable folder among the candidates: non-empty, a directory (made
// when missing) and writable. Empty when none is.
QString firstUsableDirectory(const QStringList& candidates);

// Where the instance lock lives: the user's runtime folder, else a per-user
// cache folder, else a private folder under the temporary directory.
QString instanceLockDirectory();

// Takes the lock file at `path` if no live process holds it. A lock left by a
// process that has died (or one still naming no process seconds after it was
// made) is taken over; a lock of a live process never counts as stale, however
// old it is. Null when the lock is held.
std::unique_ptr<QLockFile> takeInstanceLock(const QString& path);

} // namespace platform
