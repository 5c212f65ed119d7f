#include "testenv.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace testsupport {
namespace {

QTemporaryDir* g_root = nullptr;

} // namespace

void prepareEnvironment()
{
    g_root = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/qr7215-test-XXXXXX"));
    const QString config = g_root->path() + QStringLiteral("/config");
    const QString runtime = g_root->path() + QStringLiteral("/runtime");
    const QString state = g_root->path() + QStringLiteral("/state");
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    QDir().mkpath(state);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("XDG_STATE_HOME", state.toUtf8());
    std::atexit([] {
        delete g_root;
        g_root = nullptr;
    });
}

QString tempRoot()
{
    return g_root ? g_root->path() : QString();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace testsupport
