#include "scriptprocess.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace platform {
namespace {

const QString kShell = QStringLiteral("/bin/sh");

struct fileKind
{
    bool readable = false;
    bool binary = false;
    bool shebang = false;
};

fileKind inspect(const QString& path)
{
    fileKind kind;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kind;
    kind.readable = true;
    const QByteArray head = file.read(4096);
    kind.binary = head.contains('\0');
    kind.shebang = head.startsWith("#!");
    return kind;
}

} // namespace

QString scriptProcess::nativePath(const QString& storedPath)
{
    return storedPath;
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

    const QByteArray local = QFile::encodeName(path);
    const bool executable = ::access(local.constData(), X_OK) == 0;
    const fileKind kind = inspect(path);

    // A text file without "#!" is refused by the kernel even with the execute
    // bit, and one without the bit cannot be executed at all: the shell runs
    // both, exactly as a terminal would.
    bool direct = executable && (!kind.readable || kind.binary || kind.shebang);
    if (!direct) {
        if (!kind.readable)
            return fail(QStringLiteral("not readable"));
        if (kind.binary)
            return fail(QStringLiteral("not executable and not a shell script"));
    }

    if (direct) {
        setProgram(path);
        setArguments({});
    } else {
        setProgram(kShell);
        setArguments({path});
    }
    start(QIODevice::ReadWrite);
    if (!waitForStarted(-1))
        return fail(errorString());
    return true;
}

void scriptProcess::killAll()
{
    const qint64 pid = processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    kill();
    waitForFinished(5000);
}

void scriptProcess::setupChildProcess()
{
    // Runs in the child between fork and exec: a group of its own, so that
    // killAll() reaches every process the script starts.
    ::setpgid(0, 0);
}

} // namespace platform
