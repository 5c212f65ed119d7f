#include "benchsimulator.h"

#include <QDeadlineTimer>

benchSimulator::benchSimulator()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
}

benchSimulator::~benchSimulator()
{
    stop();
}

QString benchSimulator::executable()
{
    // QR7215_BENCH_SIM runs the figures against another build of the simulator.
    const QString chosen = qEnvironmentVariable("QR7215_BENCH_SIM");
    return chosen.isEmpty() ? QStringLiteral(QR7215_SIM_PATH) : chosen;
}

QString benchSimulator::linkPath() const
{
    return m_dir.path() + QStringLiteral("/ttyBENCH");
}

bool benchSimulator::start(unsigned baud)
{
    if (!m_dir.isValid())
        return false;
    QStringList args{QStringLiteral("--link"), linkPath()};
    if (baud > 0)
        args << QStringLiteral("--baud") << QString::number(baud);
    m_pending.clear();
    m_process.start(executable(), args);
    if (!m_process.waitForStarted(5000))
        return false;
    return takeAnswer(5000).startsWith(QLatin1String("ready"));
}

void benchSimulator::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void benchSimulator::send(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
}

QString benchSimulator::takeAnswer(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        // An event loop may already have read the answer into the process buffer.
        m_pending += m_process.readAllStandardOutput();
        const int nl = m_pending.indexOf('\n');
        if (nl >= 0) {
            const QByteArray line = m_pending.left(nl).trimmed();
            m_pending.remove(0, nl + 1);
            return QString::fromUtf8(line);
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return QStringLiteral("error: no answer");
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QString benchSimulator::command(const QString& line, int timeoutMs)
{
    if (m_process.state() != QProcess::Running)
        return QStringLiteral("error: not running");
    send(line);
    return takeAnswer(timeoutMs);
}

long benchSimulator::requests()
{
    bool ok = false;
    const long n = command(QStringLiteral("requests")).toLong(&ok);
    return ok ? n : -1;
}
