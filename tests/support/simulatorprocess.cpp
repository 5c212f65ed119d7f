#include "simulatorprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QUuid>

#ifndef QR7215_SIM_PATH
#error "QR7215_SIM_PATH must name the simulator executable"
#endif

namespace {

QByteArray takeLine(QByteArray& buffer)
{
    const int nl = buffer.indexOf('\n');
    if (nl < 0)
        return QByteArray();
    QByteArray line = buffer.left(nl);
    buffer.remove(0, nl + 1);
    return line.trimmed();
}

bool readLine(QProcess& p, QByteArray& pending, QByteArray& line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (pending.contains('\n')) {
            line = takeLine(pending);
            return true;
        }
        if (deadline.hasExpired() || p.state() == QProcess::NotRunning)
            return false;
        p.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        pending += p.readAllStandardOutput();
    }
}

} // namespace

SimulatorProcess::SimulatorProcess()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

QString SimulatorProcess::executable()
{
    const QString chosen = qEnvironmentVariable("QR7215_BENCH_SIM");
    return chosen.isEmpty() ? QStringLiteral(QR7215_SIM_PATH) : chosen;
}

bool SimulatorProcess::start(unsigned baud)
{
    return start(baud > 0 ? QStringList{QStringLiteral("--baud"), QString::number(baud)} : QStringList());
}

void SimulatorProcess::send(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
}

QString SimulatorProcess::takeAnswer(int timeoutMs)
{
    // An event loop may already have read the answer into the process buffer.
    m_pending += m_process.readAllStandardOutput();
    QByteArray answer;
    return readLine(m_process, m_pending, answer, timeoutMs) ? QString::fromUtf8(answer)
                                                             : QStringLiteral("error: no answer");
}

bool SimulatorProcess::start(const QStringList& extraArgs)
{
    if (m_dir.isEmpty()) {
        m_dir = QDir::tempPath() + QStringLiteral("/qr7215-sim-")
                + QUuid::createUuid().toString(QUuid::Id128).left(12);
        QDir().mkpath(m_dir);
    }
    m_link = m_dir + QStringLiteral("/ttySIM");
    m_pending.clear();
    m_process.start(executable(), QStringList{QStringLiteral("--link"), m_link} + extraArgs);
    if (!m_process.waitForStarted(5000))
        return false;
    QByteArray line;
    while (readLine(m_process, m_pending, line, 5000)) {
        if (line.startsWith("ready"))
            return true;
    }
    return false;
}

void SimulatorProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        kill();
}

void SimulatorProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SimulatorProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString SimulatorProcess::command(const QString& line, int timeoutMs)
{
    if (!isRunning())
        return QStringLiteral("error: not running");
    send(line);
    return takeAnswer(timeoutMs);
}

bool SimulatorProcess::set(int reg, int value)
{
    return command(QStringLiteral("set %1 %2").arg(reg).arg(value)) == QLatin1String("ok");
}

// -1 where the answer is no number.
static long numberOf(const QString& answer)
{
    bool ok = false;
    const long n = answer.toLong(&ok);
    return ok ? n : -1;
}

int SimulatorProcess::get(int reg)
{
    return int(numberOf(command(QStringLiteral("get %1").arg(reg))));
}

long SimulatorProcess::requests()
{
    return numberOf(command(QStringLiteral("requests")));
}

long SimulatorProcess::pending()
{
    return numberOf(command(QStringLiteral("pending")));
}
