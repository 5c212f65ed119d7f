#include "batthread.h"

#include "consoleprint.h"
#include "scriptprocess.h"
#include "settingsstore.h"

#include <QElapsedTimer>

constexpr int batThread::kDefaultLimitMs;

namespace {

// How often a waiting run looks at the shutdown flag.
const int kWaitSliceMs = 50;

void log(const QString& line)
{
    g_consolePrint.showMsg(line);
}

} // namespace

batThread::batThread(QObject* parent, int limitMs)
    : QThread(parent)
    , m_limitMs(limitMs)
{
}

batThread::~batThread()
{
    shutDown();
}

void batThread::shutDown()
{
    m_shuttingDown.store(true);
    wait();
    m_runsEnded.load(std::memory_order_acquire);
}

QString batThread::batPath() const
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_batPath;
}

QString batThread::limitText() const
{
    if (m_limitMs % 1000 == 0)
        return QString::number(m_limitMs / 1000) + QStringLiteral(" s");
    return QString::number(m_limitMs) + QStringLiteral(" ms");
}

void batThread::run()
{
    if (!m_shuttingDown.load())
        runScript();
    m_runsEnded.fetch_add(1, std::memory_order_release);
}

void batThread::runScript()
{
    // Read afresh at every run: a script chosen a moment ago is the one that runs.
    const QString path = platform::scriptProcess::nativePath(settingsStore::batPath());
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_batPath = path;
    }
    if (path.isEmpty()) {
        log(QStringLiteral("Post-process script not run: no script configured."));
        return;
    }

    platform::scriptProcess process;
    QString reason;
    if (!process.launch(path, &reason)) {
        log(QStringLiteral("Post-process script could not start: ") + path
            + QStringLiteral(" (") + reason + QStringLiteral(")"));
        return;
    }
    log(QStringLiteral("Post-process script started: ") + path);

    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(kWaitSliceMs) && process.state() != QProcess::NotRunning) {
        if (m_shuttingDown.load()) {
            process.killAll();
            log(QStringLiteral("Post-process script killed at quit: ") + path);
            return;
        }
        if (clock.elapsed() >= m_limitMs) {
            process.killAll();
            log(QStringLiteral("Post-process script killed after ") + limitText()
                + QStringLiteral(": ") + path);
            return;
        }
    }

    if (process.exitStatus() == QProcess::NormalExit)
        log(QStringLiteral("Post-process script finished with exit code ")
            + QString::number(process.exitCode()) + QStringLiteral(": ") + path);
    else
        log(QStringLiteral("Post-process script ended abnormally: ") + path);
}
