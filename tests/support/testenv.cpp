#include "testenv.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace testsupport {
namespace {

QTemporaryDir* g_root = nullptr;
std::atomic<int> g_connectionWarnings{0};
QtMessageHandler g_previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtWarningMsg
        && (msg.contains(QLatin1String("QObject::connect: No such signal"))
            || msg.contains(QLatin1String("QObject::connect: No such slot"))
            || msg.contains(QLatin1String("QObject::connect: Cannot connect"))
            || msg.contains(QLatin1String("QObject::connect: Parentheses expected"))
            || msg.contains(QLatin1String("QObject::connect: Incompatible sender/receiver")))) {
        ++g_connectionWarnings;
        std::fprintf(stderr, "FAIL: broken connection: %s\n", qPrintable(msg));
    }
    if (g_previous)
        g_previous(type, context, msg);
}

} // namespace

void prepareEnvironment()
{
    g_root = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/qr7215-test-XXXXXX"));
    const QString config = g_root->path() + QStringLiteral("/config");
    const QString runtime = g_root->path() + QStringLiteral("/runtime");
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    g_previous = qInstallMessageHandler(handler);
    std::atexit([] {
        delete g_root;
        g_root = nullptr;
    });
}

QString tempRoot()
{
    return g_root ? g_root->path() : QString();
}

int connectionWarnings()
{
    return g_connectionWarnings.load();
}

} // namespace testsupport
