#include "scriptprocess.h"

#include <QFileInfo>

namespace platform {

QString scriptProcess::nativePath(const QString& storedPath)
{
    QString path = storedPath;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

QString scriptProcess::describe(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("Script %1 cannot be run: no such file.").arg(path);
    if (info.isDir())
        return QStringLiteral("Script %1 cannot be run: a directory.").arg(path);
    return QString();
}

bool scriptProcess::launch(const QString& path, QString* reason)
{
    auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };

    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("no such file"));
    if (info.isDir())
        return fail(QStringLiteral("a directory"));

    // CreateProcess runs a .bat or .cmd file through the command interpreter.
    setProgram(path);
    setArguments({});
    start(QIODevice::ReadWrite);
    if (!waitForStarted(-1))
        return fail(errorString());
    return true;
}

void scriptProcess::killAll()
{
    kill();
    waitForFinished(5000);
}

void scriptProcess::setupChildProcess()
{
}

} // namespace platform
