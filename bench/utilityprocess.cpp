#include "utilityprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace {

QByteArray configFile(const QString& port, unsigned baud, int pollMs)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Setting>"
               "<ComMode>0</ComMode><SlaveId>1</SlaveId><ComPort>%1</ComPort><BaudRate>%2</BaudRate>"
               "<DataLen>8</DataLen><StopBits>1</StopBits><Parity>0</Parity>"
               "<ResponseTimeout>1000</ResponseTimeout><NumOfRetries>3</NumOfRetries>"
               "<PollDelay>%3</PollDelay><AutoBoot>0</AutoBoot><AutoConnect>1</AutoConnect>"
               "<AutoHide>0</AutoHide></Setting></Settings>\n")
        .arg(port).arg(baud).arg(pollMs)
        .toUtf8();
}

} // namespace

utilityProcess::~utilityProcess()
{
    stop();
}

bool utilityProcess::install(const QString& port, unsigned baud, int pollMs)
{
    const QString dir = m_dir.path();
    const QString program = dir + QStringLiteral("/qr7215-utility");
    const QString sdk = dir + '/' + QFileInfo(QStringLiteral(QR7215_SDK_PATH)).fileName();
    if (!QFile::copy(QStringLiteral(QR7215_UTILITY_PATH), program) || !QFile::copy(QStringLiteral(QR7215_SDK_PATH), sdk))
        return false;
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    QDir().mkpath(dir + QStringLiteral("/configs"));
    QDir().mkpath(dir + QStringLiteral("/xdg-config"));
    QDir().mkpath(dir + QStringLiteral("/xdg-runtime"));
    QFile::setPermissions(dir + QStringLiteral("/xdg-runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile config(dir + QStringLiteral("/configs/config_com.xml"));
    return config.open(QIODevice::WriteOnly) && config.write(configFile(port, baud, pollMs)) > 0;
}

bool utilityProcess::start(const QString& port, unsigned baud, int pollMs)
{
    if (!m_dir.isValid() || !install(port, baud, pollMs))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/xdg-config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path() + QStringLiteral("/xdg-runtime"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(m_dir.path() + QStringLiteral("/qr7215-utility"), QStringList());
    return m_process.waitForStarted(5000);
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
