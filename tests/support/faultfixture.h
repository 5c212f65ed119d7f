// The files the real program reads beside its executable, for the tests that
// run it against qr7215-sim.
#pragma once

#include "comsettings.h"
#include "comsettingsfile.h"

#include <QDir>
#include <QFile>

namespace faultfixture {

// Short time-outs keep a row fast.
struct lineSetup {
    QString port;
    quint32 timeoutMs = 200;
    quint32 retries = 1;
    quint32 pollMs = 50;
    bool autoConnect = false;
};

// configs/config_com.xml in appDir, as the connection page reads it.
inline bool writeComConfig(const QString& appDir, const lineSetup& line)
{
    QDir().mkpath(appDir + QStringLiteral("/configs"));
    comSettings record;
    record.comPort = line.port;
    record.responseTimeout = line.timeoutMs;
    record.numOfRetries = line.retries;
    record.pollDelay = line.pollMs;
    record.autoConnect = line.autoConnect;
    return comSettingsFile::write(appDir + QStringLiteral("/configs/config_com.xml"), record);
}

// The example register table (rows 40000..40034) into appDir/iconfigs.
inline bool installExampleTable(const QString& appDir)
{
    const QString target = appDir + QStringLiteral("/iconfigs/config_registers.xml");
    QDir().mkpath(appDir + QStringLiteral("/iconfigs"));
    QFile::remove(target);
    return QFile::copy(QStringLiteral(QR7215_SOURCE_DIR "/resources/iconfigs/config_registers.xml"), target);
}

} // namespace faultfixture
