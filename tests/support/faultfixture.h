// Ground shared by the fault tests: the files the program reads beside its
// executable (connection settings, register table) and the checks on failure
// lines; the stall meter is in stallmeter.h.
#pragma once

#include "comsettings.h"
#include "comsettingsfile.h"
#include "logthrottle.h"
#include "stallmeter.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>


namespace faultfixture {

// The settings the fault tests run with: short time-outs keep a row fast.
struct lineSetup {
    QString port;
    quint32 timeoutMs = 200;
    quint32 retries = 1;
    quint32 pollMs = 50;
    bool autoConnect = false;
};

// Writes configs/config_com.xml into appDir as the connection page reads it.
inline bool writeComConfig(const QString& appDir, const lineSetup& line)
{
    QDir().mkpath(appDir + QStringLiteral("/configs"));
    comSettings record;
    record.comPort = line.port;
    record.slaveId = 1;
    record.baudRate = 115200;
    record.responseTimeout = line.timeoutMs;
    record.numOfRetries = line.retries;
    record.pollDelay = line.pollMs;
    record.autoConnect = line.autoConnect;
    return comSettingsFile::write(appDir + QStringLiteral("/configs/config_com.xml"), record);
}

// The example register table (rows 40000..40034 in order) into appDir/iconfigs.
inline bool installExampleTable(const QString& appDir)
{
    const QString target = appDir + QStringLiteral("/iconfigs/config_registers.xml");
    QDir().mkpath(appDir + QStringLiteral("/iconfigs"));
    QFile::remove(target);
    return QFile::copy(QStringLiteral(QR7215_SOURCE_DIR) + QStringLiteral("/resources/iconfigs/config_registers.xml"),
                       target);
}

// Once `fresh` was shown, `stale` must never be shown again.
inline bool staleAfterFresh(const QStringList& shown, const QString& stale, const QString& fresh)
{
    const int firstFresh = shown.indexOf(fresh);
    return firstFresh >= 0 && shown.indexOf(stale, firstFresh) >= 0;
}

// The failure lines among the log's lines: the adapter's "ERR:" lines, the
// poll thread's "Read error: " and the failed open with its explanation.
inline bool isFailureLine(const QString& line)
{
    return line.startsWith(QLatin1String("ERR:")) || line.startsWith(QLatin1String("Read error: "))
           || line.startsWith(QLatin1String("Open device error:")) || line.startsWith(QLatin1String("Port "));
}

// What the log says about one failure text: seen once as itself, at most once
// as "repeating", and the counts of its summaries.
struct textReport {
    int first = 0;
    int repeating = 0;
    QList<int> summaries;
};

inline textReport reportOf(const QStringList& lines, const QString& text)
{
    textReport r;
    const QRegularExpression summary(QStringLiteral("^") + QRegularExpression::escape(text)
                                     + QStringLiteral(" \\(repeated (\\d+) times? in \\d+ s\\)$"));
    for (const QString& line : lines) {
        if (line == text)
            ++r.first;
        else if (line == logThrottle::repeatingLine(text))
            ++r.repeating;
        else {
            const QRegularExpressionMatch m = summary.match(line);
            if (m.hasMatch())
                r.summaries << m.captured(1).toInt();
        }
    }
    return r;
}

// The failure lines that are neither one of texts nor what the throttle
// says about one of them.
inline QStringList unexpectedFailureLines(const QStringList& lines, const QStringList& texts)
{
    QStringList odd;
    for (const QString& line : lines) {
        if (!isFailureLine(line))
            continue;
        bool known = false;
        for (const QString& text : texts)
            known = known || line == text || line.startsWith(text + QStringLiteral(" ("));
        if (!known)
            odd << line;
    }
    return odd;
}

} // namespace faultfixture
