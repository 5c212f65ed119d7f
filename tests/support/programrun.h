// Runs a program of the utility the way a user's session does, for the tests
// that end it with a signal: a private application folder with its own
// configs/config_com.xml, private XDG folders (settings store, single-instance
// lock), the offscreen platform. Then sends the signal and times the exit.
#pragma once

#include "faultfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace faultfixture {

class programRun
{
public:
    programRun()
    {
        QDir().mkpath(configHome());
        QDir().mkpath(runtimeDir());
        QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    ~programRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool valid() const { return m_root.isValid(); }
    QString appDir() const { return m_root.filePath(QStringLiteral("app")); }
    QString configHome() const { return m_root.filePath(QStringLiteral("config")); }
    QString runtimeDir() const { return m_root.filePath(QStringLiteral("runtime")); }
    QString path(const QString& name) const { return m_root.filePath(name); }

    // Copies the program (and the device library beside it, when given) into the
    // application folder.
    bool install(const QString& program, const QString& libraryDir = QString())
    {
        QDir().mkpath(appDir());
        m_program = appDir() + QLatin1Char('/') + QFileInfo(program).fileName();
        if (!QFile::copy(program, m_program))
            return false;
        if (!libraryDir.isEmpty()) {
            const QStringList libraries =
                QDir(libraryDir).entryList({QStringLiteral("libqr7215sdk.so*")}, QDir::Files | QDir::System);
            for (const QString& name : libraries) {
                if (!QFile::copy(libraryDir + QLatin1Char('/') + name, appDir() + QLatin1Char('/') + name))
                    return false;
            }
        }
        return true;
    }

    // The settings store's script and policy.
    bool writeScriptSettings(const QString& script, int policy)
    {
        const QString dir = configHome() + QStringLiteral("/Tarvolt/UPS");
        QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/QR-7215.conf"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write("[General]\nbatPath=" + script.toUtf8() + "\nbatExecutePolicy=" + QByteArray::number(policy) + "\n");
        return true;
    }

    bool start(const QStringList& arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(m_program, arguments);
        return m_process.waitForStarted(5000);
    }

    QProcess& process() { return m_process; }

    // Sends signo and waits (up to limitMs) for the program to end; returns the
    // time it took, or -1 when it did not end.
    qint64 signalAndWait(int signo, int limitMs)
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(m_process.processId()), signo);
        if (!m_process.waitForFinished(limitMs))
            return -1;
        return clock.elapsed();
    }

    // What the program wrote on its error channel, for the failure message.
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QTemporaryDir m_root;
    QString m_program;
    QProcess m_process;
};

// Whether a port is left exclusive (TIOCEXCL) or locked by a program that
// has ended: what a program that never closed its link leaves behind.
inline QString portLeftBehind(const QString& port)
{
    const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot open the port");
    QString left;
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        left = QStringLiteral("the port is still exclusive");
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        left = QStringLiteral("the port is still locked");
    ::close(fd);
    return left;
}

// A process is gone when it no longer exists or only waits to be reaped.
inline bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) == 'Z';
}

} // namespace faultfixture
