#include "saverecords.h"

#include "autostart.h"
#include "comsettings.h"
#include "comsettingsfile.h"
#include "settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace saveRecords {
namespace {

const char kEntryName[] = "QR-7215";

QString padded(const QString& head, char fill, int padding, const QString& tail)
{
    return head + QString(padding, QLatin1Char(fill)) + tail;
}


QString scriptPath(char record, int padding)
{
    return record == 'a'
               ? padded(QStringLiteral("/opt/ups/"), 'a', padding, QStringLiteral("/shutdown.sh"))
               : padded(QStringLiteral("/srv/scripts b/"), 'b', padding, QStringLiteral("/power lost.sh"));
}

quint32 policy(char record)
{
    return record == 'a' ? 1u : 2u;
}

std::string executablePath(char record, int padding)
{
    const QString path = record == 'a'
                             ? padded(QStringLiteral("/opt/qr7215-"), 'a', padding, QStringLiteral("/qr7215-utility"))
                             : padded(QStringLiteral("/usr/local/UPS tools/"), 'b', padding,
                                      QStringLiteral("/qr7215 \"utility\" 100%"));
    return path.toStdString();
}

} // namespace

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void fillCom(comSettings& s, char record, int padding)
{
    if (record == 'a') {
        s.comMode = 0;
        s.slaveId = 1;
        s.comPort = padded(QStringLiteral("/dev/serial/by-id/usb-A-"), 'a', padding, QStringLiteral("-port0"));
        s.baudRate = 115200;
        s.dataLen = 8;
        s.stopBits = 1;
        s.parity = 0;
        s.responseTimeout = 1000;
        s.numOfRetries = 3;
        s.pollDelay = 20;
        s.autoBoot = false;
        s.autoConnect = true;
        s.autoHide = false;
    } else {
        s.comMode = 0;
        s.slaveId = 247;
        s.comPort = padded(QStringLiteral("/dev/ttyUSB-B-"), 'b', padding, QStringLiteral("-1"));
        s.baudRate = 9600;
        s.dataLen = 7;
        s.stopBits = 2;
        s.parity = 2;
        s.responseTimeout = 250;
        s.numOfRetries = 9;
        s.pollDelay = 500;
        s.autoBoot = true;
        s.autoConnect = false;
        s.autoHide = true;
    }
}

QString filePath(target t, const QString& configDir)
{
    switch (t) {
    case target::com: return configDir + QStringLiteral("/config_com.xml");
    case target::settings: return configDir + QStringLiteral("/Tarvolt/UPS/QR-7215.conf");
    default: return configDir + QStringLiteral("/autostart/QR-7215.desktop");
    }
}

bool save(target t, char record, const QString& configDir, int padding)
{
    switch (t) {
    case target::com: {
        comSettings s;
        fillCom(s, record, padding);
        return comSettingsFile::write(filePath(t, configDir), s);
    }
    case target::settings: {
        configHome home(configDir);
        settingsStore::setBatPath(scriptPath(record, padding));
        settingsStore::setBatExecutePolicy(policy(record));
        return true;
    }
    default: {
        configHome home(configDir);
        platform::registerAutoStart(kEntryName, executablePath(record, padding));
        return true;
    }
    }
}

QByteArray documentOf(target t, char record, int padding)
{
    QTemporaryDir scratch;
    save(t, record, scratch.path(), padding);
    return contents(filePath(t, scratch.path()));
}

QList<QByteArray> validDocuments(target t, int padding)
{
    if (t != target::settings)
        return {documentOf(t, 'a', padding), documentOf(t, 'b', padding)};

    // The walk a run of alternating saves takes, one key at a time.
    QTemporaryDir scratch;
    const QString dir = scratch.path();
    const QString path = filePath(t, dir);
    configHome home(dir);
    QList<QByteArray> documents;
    settingsStore::setBatPath(scriptPath('a', padding));
    settingsStore::setBatExecutePolicy(policy('a'));
    documents << contents(path);
    settingsStore::setBatPath(scriptPath('b', padding));
    documents << contents(path);
    settingsStore::setBatExecutePolicy(policy('b'));
    documents << contents(path);
    settingsStore::setBatPath(scriptPath('a', padding));
    documents << contents(path);
    return documents;
}

configHome::configHome(const QString& dir)
    : m_previous(qgetenv("XDG_CONFIG_HOME")), m_hadPrevious(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
}

configHome::~configHome()
{
    if (m_hadPrevious)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

} // namespace saveRecords
