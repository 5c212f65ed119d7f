// The post-process script runner with real scripts: what each kind of script
// comes to, the kill of the script with everything it started, and one run at
// a time with the path read afresh at every run.
#include "batthread.h"
#include "logcapture.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "testenv.h"

using namespace scripthelper;

class tst_batThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void runs_data();
    void runs();
    void oneRunAtATimeWithThePathReadAfresh();

private:
    QString m_dir;
    int m_runs = 0;
};

void tst_batThread::init()
{
    m_dir = testsupport::tempRoot() + QStringLiteral("/scripts-%1").arg(++m_runs);
    QDir().mkpath(m_dir);
}

namespace {
// Log lines with %1 left for the path.
const QString kStarted = QStringLiteral("Post-process script started: %1");
QString finished(int code)
{
    return QStringLiteral("Post-process script finished with exit code %1: ").arg(code) + QStringLiteral("%1");
}
QString notStarted(const char* reason)
{
    return QStringLiteral("Post-process script could not start: %1 (") + QLatin1String(reason) + QLatin1Char(')');
}
// Writes its pid, starts a child that never ends and writes its pid too.
const QByteArray kForks = "#!/bin/sh\n@MARK@echo $$ >> @PIDS@\nsleep 100000 &\necho $! >> @PIDS@\nwait\n";
} // namespace

void tst_batThread::runs_data()
{
    QTest::addColumn<QString>("file");        // below the test's folder; empty: none configured
    QTest::addColumn<QByteArray>("body");     // null: no file; "/": a folder
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("end");         // "limit": a limit of 1 s; "quit": shut down once it runs
    QTest::addColumn<QStringList>("log");     // of one run, %1 the path

    const auto row = [](const char* name, const char* file, const QByteArray& body, bool executable,
                        const char* end, const QStringList& log) {
        QTest::newRow(name) << file << body << executable << end << log;
    };
    const QByteArray marks = "#!/bin/sh\n@MARK@";
    const QStringList ok{kStarted, finished(0)};
    row("blanks in folder and name", "my scripts/shut down.sh", marks, true, "", ok);
    row("a quote and blanks", "it's here/power off now.sh", marks, true, "", ok);
    row("dollar and semicolon in name", "x$HOME;y.sh", marks, true, "", ok);
    row("no execute bit: run by the shell", "plain.sh", marks, false, "", ok);
    row("no execute bit, no #! line", "plain text", "@MARK@", false, "", ok);
    row("execute bit, no #! line", "bare", "@MARK@", true, "", ok);
    row("exit code 3 is logged", "fails.sh", marks + "exit 3\n", true, "", {kStarted, finished(3)});
    row("missing file", "gone.sh", QByteArray(), true, "", {notStarted("no such file")});
    row("a folder", "folder", "/", true, "", {notStarted("a directory")});
    row("binary without execute bit", "binary", QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10), false, "",
        {notStarted("not executable and not a shell script")});
    row("no script configured", "", QByteArray(), true, "", {"Post-process script not run: no script configured."});

    // Standard input is a pipe nobody writes: read waits for ever.
    row("waits for input: killed at the limit", "asks.sh", marks + "echo $$ >> @PIDS@\nread answer\n@MARK@", true,
        "limit", {kStarted, "Post-process script killed after 1 s: %1"});
    row("child that never ends: killed at the limit with the script", "forks.sh", kForks, true, "limit",
        {kStarted, "Post-process script killed after 1 s: %1"});
    // Far below the limit of 30 s: the quit does not wait the script out, and
    // no run follows it.
    row("child that never ends: killed at quit", "forks.sh", kForks, true, "quit",
        {kStarted, "Post-process script killed at quit: %1"});
}

void tst_batThread::runs()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, body);
    QFETCH(bool, executable);
    QFETCH(QString, end);
    QFETCH(QStringList, log);

    const QString path = file.isEmpty() ? QString() : m_dir + QLatin1Char('/') + file;
    const QString mark = m_dir + QStringLiteral("/mark");
    const QString pids = m_dir + QStringLiteral("/pids");
    if (body == "/") {
        QVERIFY(QDir().mkpath(path));
    } else if (!body.isNull()) {
        body.replace("@MARK@", appendLine(mark)).replace("@PIDS@", "'" + pids.toUtf8() + "'");
        QCOMPARE(writeScript(path, body, executable), path);
    }
    const int marks = log.first() == kStarted ? 1 : 0;
    for (QString& line : log)
        line = line.arg(path);
    settingsStore::setBatPath(path);
    LogCapture capture;
    const bool quit = end == QLatin1String("quit");
    batThread runner(nullptr, end == QLatin1String("limit") ? 1000 : batThread::kDefaultLimitMs);

    QStringList expected;
    for (int run = 1; run <= 2; ++run) {
        runner.start();
        if (quit) {
            QTRY_COMPARE(lineCount(pids), 2);
            runner.shutDown();
            QVERIFY(runner.isFinished());
        }
        QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 15000);
        // After a kill the next request runs it again; after the quit none.
        if (run == 1 || !quit)
            expected << log;
        QTRY_COMPARE(capture.lines, expected);
        QCOMPARE(lineCount(mark), marks * (quit ? 1 : run));
        for (const QString& pid : readAll(pids).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QTRY_VERIFY2(!processAlive(pid.toLongLong()), qPrintable("process " + pid + " outlived the kill"));
    }
}

void tst_batThread::oneRunAtATimeWithThePathReadAfresh()
{
    const QString markA = m_dir + "/a.mark";
    const QString markB = m_dir + "/b.mark";
    const QString release = m_dir + "/release";
    const QString a = writeScript(m_dir + "/a.sh", "#!/bin/sh\n" + appendLine(markA) + "while [ ! -e '"
                                                       + release.toUtf8() + "' ]; do sleep 0.05; done\n");
    const QString b = writeScript(m_dir + "/b.sh", "#!/bin/sh\n" + appendLine(markB));
    settingsStore::setBatPath(a);
    LogCapture log;
    batThread runner;
    runner.start();
    QTRY_COMPARE(lineCount(markA), 1);

    // Power lost again while the first run goes on: dropped, not queued, and
    // the script chosen meanwhile waits for the next request.
    settingsStore::setBatPath(b);
    runner.start();
    runner.start();
    QFile(release).open(QIODevice::WriteOnly);
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(runner.batPath(), a);
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(runner.batPath(), b);
    QTRY_COMPARE(log.lines, (QStringList{kStarted.arg(a), finished(0).arg(a), kStarted.arg(b),
                                         finished(0).arg(b)}));
    QCOMPARE(lineCount(markA), 1);
    QCOMPARE(lineCount(markB), 1);
}

QR_TEST_GUILESS_MAIN(tst_batThread)
#include "tst_batthread.moc"
