// Helpers of the connection page tests.
#include "pagefixture.h"

#include "comadapter.h"
#include "fakesdk.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace pagefixture {

const char* const kLineSettings[10] = {
    "m_comboBoxComMode", "m_comboBoxComPort", "m_spinBoxDeviceId", "m_comboBoxBaudRate", "m_comboBoxDataLen",
    "m_comboBoxStopBits", "m_comboBoxParity", "m_spinBoxRespTimeout", "m_spinBoxRetryCount", "m_spinBoxPollCycle",
};
const char* const kOptions[3] = {"m_checkBoxAutoConnect", "m_checkBoxAutoBoot", "m_checkBoxAutoHide"};

QString configDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/configs");
}

QString configFile()
{
    return configDir() + QStringLiteral("/config_com.xml");
}

QString autostartEntry()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/QR-7215.desktop");
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeConfig(const QByteArray& settingsBody)
{
    QDir().mkpath(configDir());
    QFile f(configFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = "<?xml version=\"1.0\"?><Settings><Setting>" + settingsBody + "</Setting></Settings>";
    return f.write(text) == text.size();
}

QStringList fileFields()
{
    QDomDocument doc;
    if (!doc.setContent(readAll(configFile())))
        return {};
    QStringList out;
    const QDomElement setting = doc.documentElement().firstChildElement(QStringLiteral("Setting"));
    for (QDomElement e = setting.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        out << e.tagName() + QLatin1Char('=') + e.text();
    return out;
}

QString fileField(const QString& name)
{
    const QStringList fields = fileFields().filter(QRegularExpression(QLatin1Char('^') + name + QLatin1Char('=')));
    return fields.isEmpty() ? QStringLiteral("<missing>") : fields.first().section(QLatin1Char('='), 1);
}

void disconnectAdapter()
{
    if (g_comAdapter.isConnected()) {
        fakesdk::setCloseResult(0);
        g_comAdapter.slotCloseDevice();
    }
}

void reset()
{
    disconnectAdapter();
    fakesdk::reset();
    QDir(configDir()).removeRecursively();
    QFile::remove(autostartEntry());
}

bool lineSettingsEnabled(comSettingsWidget& page, bool enabled)
{
    for (const char* name : kLineSettings) {
        QWidget* w = control<QWidget>(page, name);
        if (!w || w->isEnabled() != enabled)
            return false;
    }
    return true;
}

PseudoTerminal::PseudoTerminal()
    : m_dir(testsupport::tempRoot() + QStringLiteral("/pty-XXXXXX"))
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return;
    const char* slave = ptsname(m_master);
    if (slave && m_dir.isValid() && QFile::link(QString::fromLocal8Bit(slave), m_dir.filePath(QStringLiteral("ttySIM"))))
        m_link = m_dir.filePath(QStringLiteral("ttySIM"));
}

PseudoTerminal::~PseudoTerminal()
{
    if (m_master >= 0)
        ::close(m_master);
}

} // namespace pagefixture
