#include "utilityprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <unistd.h>

namespace {

QByteArray configFile(const utilityRecord& r)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Setting>"
               "<ComMode>0</ComMode><SlaveId>1</SlaveId><ComPort>%1</ComPort><BaudRate>%2</BaudRate>"
               "<DataLen>8</DataLen><StopBits>1</StopBits><Parity>0</Parity>"
               "<ResponseTimeout>%3</ResponseTimeout><NumOfRetries>%4</NumOfRetries>"
               "<PollDelay>%5</PollDelay><AutoBoot>0</AutoBoot><AutoConnect>%6</AutoConnect>"
               "<AutoHide>0</AutoHide></Setting></Settings>\n")
        .arg(r.port).arg(r.baud).arg(r.timeoutMs).arg(r.retries).arg(r.pollMs).arg(r.autoConnect ? 1 : 0)
        .toUtf8();
}

// A hard link where the folders share a file system (the benchmark's binary
// is large), else a copy. Never a symbolic link: the program finds its
// folder through the path it was started from, resolved.
bool place(const QString& from, const QString& to)
{
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
           || QFile::copy(from, to);
}

} // namespace

utilityProcess::~utilityProcess()
{
    stop();
}

bool utilityProcess::install(const QString& program, const utilityRecord& record)
{
    const QString dir = m_dir.path();
    const QString target = dir + '/' + QFileInfo(program).fileName();
    const QString sdk = dir + '/' + QFileInfo(QStringLiteral(QR7215_SDK_PATH)).fileName();
    if (!place(program, target) || !place(QStringLiteral(QR7215_SDK_PATH), sdk))
        return false;
    QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::ExeOwner);
    QDir().mkpath(dir + QStringLiteral("/configs"));
    QDir().mkpath(dir + QStringLiteral("/xdg-config"));
    QDir().mkpath(dir + QStringLiteral("/xdg-runtime"));
    QFile::setPermissions(dir + QStringLiteral("/xdg-runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile config(dir + QStringLiteral("/configs/config_com.xml"));
    return config.open(QIODevice::WriteOnly) && config.write(configFile(record)) > 0;
}

bool utilityProcess::run(const QString& program, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/xdg-config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path() + QStringLiteral("/xdg-runtime"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_pending.clear();
    m_process.start(m_dir.path() + '/' + QFileInfo(program).fileName(), args);
    return m_process.waitForStarted(5000);
}

bool utilityProcess::start(const QString& port, unsigned baud, int pollMs)
{
    utilityRecord record;
    record.port = port;
    record.baud = baud;
    record.pollMs = pollMs;
    const QString program = QStringLiteral(QR7215_UTILITY_PATH);
    return m_dir.isValid() && install(program, record) && run(program, {});
}

bool utilityProcess::startWindowChild(const utilityRecord& record, const QStringList& args)
{
    const QString program = QCoreApplication::applicationFilePath();
    return m_dir.isValid() && install(program, record)
           && run(program, QStringList{QStringLiteral("--window-child")} + args);
}

QString utilityProcess::takeLine(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        m_pending += m_process.readAllStandardOutput();
        const int nl = m_pending.indexOf('\n');
        if (nl >= 0) {
            const QByteArray line = m_pending.left(nl).trimmed();
            m_pending.remove(0, nl + 1);
            return QString::fromUtf8(line);
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return QString();
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
}

bool utilityProcess::waitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

void utilityProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
