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

// How the script at path is started, the one decision launch() and
// describe() share: empty refusal and program set, or why it cannot be.
struct startPlan
{
    QString program;
    QStringList arguments;
    QString refusal;
    // What made it go through the shell.
    bool executable = false;
    bool shebang = false;
};

startPlan planFor(const QString& path)
{
    startPlan plan;
    const QFileInfo info(path);
    if (!info.exists()) {
        plan.refusal = QStringLiteral("no such file");
        return plan;
    }
    if (info.isDir()) {
        plan.refusal = QStringLiteral("a directory");
        return plan;
    }

    const QByteArray local = QFile::encodeName(path);
    const bool executable = ::access(local.constData(), X_OK) == 0;
    const fileKind kind = inspect(path);

    // A text file without "#!" is refused by the kernel even with the execute
    // bit, and one without the bit cannot be executed at all: the shell runs
    // both, exactly as a terminal would.
    const bool direct = executable && (!kind.readable || kind.binary || kind.shebang);
    if (direct) {
        plan.program = path;
        return plan;
    }
    if (!kind.readable)
        plan.refusal = QStringLiteral("not readable");
    else if (kind.binary)
        plan.refusal = QStringLiteral("not executable and not a shell script");
    plan.program = kShell;
    plan.arguments = QStringList{path};
    plan.executable = executable;
    plan.shebang = kind.shebang;
    return plan;
}

} // namespace

QString scriptProcess::nativePath(const QString& storedPath)
{
    return storedPath;
}

QString scriptProcess::describe(const QString& path)
{
    const startPlan plan = planFor(path);
    if (!plan.refusal.isEmpty())
        return QStringLiteral("Script %1 cannot be run: %2.").arg(path, plan.refusal);
    if (plan.program == path)
        return QString();
    QString why;
    if (plan.executable)
        why = QStringLiteral("has no \"#!\" line");
    else if (plan.shebang)
        why = QStringLiteral("is not executable, so its \"#!\" line is not used");
    else
        why = QStringLiteral("is not executable and has no \"#!\" line");
    return QStringLiteral("Script %1 %2: it will be run with %3.").arg(path, why, kShell);
}

bool scriptProcess::launch(const QString& path, QString* reason)
{
    const startPlan plan = planFor(path);
    if (!plan.refusal.isEmpty()) {
        if (reason)
            *reason = plan.refusal;
        return false;
    }
    setProgram(plan.program);
    setArguments(plan.arguments);
    start(QIODevice::ReadWrite);
    if (!waitForStarted(-1)) {
        if (reason)
            *reason = errorString();
        return false;
    }
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
