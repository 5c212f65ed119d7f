// Small helpers for tests that run real post-process scripts: write a script
// into a folder, count the lines a script appended to its mark file, and tell
// whether a process is still alive.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <csignal>
#include <sys/types.h>

namespace scripthelper {

inline QString writeScript(const QString& path, const QByteArray& body, bool executable = true)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(body);
    file.close();
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        perms |= QFile::ExeOwner;
    file.setPermissions(perms);
    return path;
}

// Shell text that appends one line to mark, quoted for any path.
inline QByteArray appendLine(const QString& mark)
{
    QString quoted = mark;
    quoted.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    return "echo ran >> '" + quoted.toUtf8() + "'\n";
}

inline int lineCount(const QString& mark)
{
    QFile file(mark);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().count('\n');
}

inline QString readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

// A zombie waiting for a reaper counts as gone.
inline bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

} // namespace scripthelper
