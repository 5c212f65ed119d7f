// qr7215-bench: figures of the utility against the limit of a Modbus RTU line,
// taken with the module simulator. Prints a table and one "figure" line per
// figure; exits 0 when every figure could be taken, whether or not it met its
// goal.
//
//   qr7215-bench [--quick] [--only FAMILY]
//
// FAMILY is the start of figure names: cadence, latency, library, gui,
// script, cpu, memory, startup.
#include "benchsections.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <modbus.h>

#include <cstdio>
#include <cstring>

namespace {

int usage()
{
    std::fputs("usage: qr7215-bench [--quick] [--only cadence|latency|library|gui|script|cpu|memory|startup]\n", stderr);
    return 2;
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QStringLiteral("unknown");
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).section(' ', 0, 2)
                                          : QStringLiteral("unknown");
}

QStringList header(const benchOptions& o, const QString& loadBefore)
{
    return {
        QStringLiteral("qr7215-bench, %1 pass, %2").arg(o.quick ? "quick" : "full",
                                                        QDateTime::currentDateTime().toString(Qt::ISODate)),
        QStringLiteral("machine: %1, nproc %2, %3").arg(cpuModel()).arg(QThread::idealThreadCount())
            .arg(QSysInfo::prettyProductName()),
        QStringLiteral("Qt %1, libmodbus %2.%3.%4, platform %5").arg(QLatin1String(qVersion()))
            .arg(libmodbus_version_major).arg(libmodbus_version_minor).arg(libmodbus_version_micro)
            .arg(QGuiApplication::platformName()),
        QStringLiteral("load average before %1, after %2").arg(loadBefore, loadAverage()),
        QStringLiteral("line: 8N1 (10 bits a character), 3.5-character silence per frame (1.75 ms above 19200 "
                       "baud), emulated by qr7215-sim --baud"),
    };
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--startup-child") == 0)
        return startupChild(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--window-child") == 0)
        return windowChild(argc, argv);

    benchOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            const QString only = options.only;
            options = benchOptions::quickPass();
            options.only = only;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            options.only = QString::fromLocal8Bit(argv[++i]);
        } else {
            return usage();
        }
    }

    // Headless unless told otherwise, and never in the user's own settings.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));

    QApplication app(argc, argv);
    const QString loadBefore = loadAverage();
    figureTable table;
    struct section {
        const char* family;
        void (*run)(const benchOptions&, figureTable&);
    };
    const section sections[] = {
        {"cadence", runCadence}, {"latency", runLatency}, {"library", runOverhead}, {"gui", runResponsiveness},
        {"script", runScript},   {"cpu", runCpu},         {"memory", runMemory},   {"startup", runStartup},
    };
    for (const section& s : sections) {
        if (!options.wants(QLatin1String(s.family)))
            continue;
        QElapsedTimer took;
        took.start();
        s.run(options, table);
        std::fprintf(stderr, "  (%s took %.1f s)\n", s.family, took.elapsed() / 1000.0);
    }
    if (table.figures().empty())
        return usage();

    QTextStream out(stdout);
    table.print(out, header(options, loadBefore));
    return table.allMeasured() ? 0 : 1;
}
