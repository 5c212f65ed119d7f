#include "batthread.h"

#include "consoleprint.h"
#include "scriptprocess.h"
#include "settingsstore.h"

#include <QElapsedTimer>

constexpr int batThread::kDefaultLimitMs;
constexpr int batThread::kOutputLines;
constexpr int batThread::kOutputLineChars;

namespace {

// How often a waiting run looks at the shutdown flag.
const int kWaitSliceMs = 50;

void log(const QString& line)
{
    g_consolePrint.showMsg(line);
}

// The last lines of what the script wrote. Memory stays bounded however much
// it writes: older lines are dropped as new ones come, and a long line is cut.
class outputTail
{
public:
    void add(const QByteArray& bytes)
    {
        // Only the lines that end among the chunk's last kOutputLines line
        // breaks can be kept; whatever came before them is dropped unread.
        int from = 0;
        int pos = bytes.size() - 1;
        for (int breaks = 0; pos >= 0; --pos) {
            pos = bytes.lastIndexOf('\n', pos);
            if (pos < 0 || ++breaks > batThread::kOutputLines)
                break;
        }
        if (pos >= 0) {
            m_lines.clear();
            m_partial.clear();
            m_cut = false;
            from = pos + 1;
        }
        while (from < bytes.size()) {
            const int newline = bytes.indexOf('\n', from);
            const int end = newline < 0 ? bytes.size() : newline;
            const int room = batThread::kOutputLineChars - m_partial.size();
            if (end - from > room)
                m_cut = true;
            m_partial.append(bytes.constData() + from, qMin(end - from, qMax(room, 0)));
            if (newline < 0)
                break;
            endLine();
            from = newline + 1;
        }
    }

    QStringList lines()
    {
        if (!m_partial.isEmpty())
            endLine();
        return m_lines;
    }

private:
    void endLine()
    {
        QString line = QString::fromLocal8Bit(m_partial);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (m_cut)
            line += QStringLiteral(" [...]");
        m_lines.append(line);
        if (m_lines.size() > batThread::kOutputLines)
            m_lines.removeFirst();
        m_partial.clear();
        m_cut = false;
    }

    QStringList m_lines;
    QByteArray m_partial;
    bool m_cut = false;
};

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

bool batThread::startScript(const scriptContext& context)
{
    if (isRunning())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_context = context;
    }
    start(QThread::InheritPriority);
    return true;
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
    scriptContext context;
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_batPath = path;
        context = m_context;
        // A plain start() after this run tells the script nothing.
        m_context = scriptContext();
    }
    const QString outcome = runProcess(path, context);
    log(outcome);
    emit signalScriptEnded(outcome);
}

QString batThread::runProcess(const QString& path, const scriptContext& context)
{
    if (path.isEmpty())
        return QStringLiteral("Post-process script not run: no script configured.");

    platform::scriptProcess process;
    process.setProcessEnvironment(context.environment(QProcessEnvironment::systemEnvironment()));
    QString reason;
    if (!process.launch(path, &reason))
        return QStringLiteral("Post-process script could not start: ") + path + QStringLiteral(" (") + reason
               + QStringLiteral(")");
    log(QStringLiteral("Post-process script started: ") + path);

    // The output is read as it comes, so that it never piles up unread.
    outputTail tail;
    QString outcome;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(kWaitSliceMs);
        tail.add(process.readAll());
        if (m_shuttingDown.load()) {
            process.killAll();
            outcome = QStringLiteral("Post-process script killed at quit: ") + path;
            break;
        }
        if (process.state() != QProcess::NotRunning && clock.elapsed() >= m_limitMs) {
            process.killAll();
            outcome = QStringLiteral("Post-process script killed after ") + limitText() + QStringLiteral(": ") + path;
            break;
        }
    }
    tail.add(process.readAll());
    for (const QString& line : tail.lines())
        log(QStringLiteral("Script output: ") + line);

    if (!outcome.isEmpty())
        return outcome;
    if (process.exitStatus() == QProcess::NormalExit)
        return QStringLiteral("Post-process script finished with exit code ") + QString::number(process.exitCode())
               + QStringLiteral(": ") + path;
    return QStringLiteral("Post-process script ended abnormally: ") + path;
}
