// The post-process script runner with real scripts: what each kind of script
// comes to, the kill of the script with everything it started, and one run at
// a time with the path read afresh at every run; what the script is told and
// what of its output reaches the log.
#include "batthread.h"
#include "logcapture.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "testenv.h"

#include <QScopeGuard>
#include <QSignalSpy>

using namespace scripthelper;

class tst_batThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void runs_data();
    void runs();
    void oneRunAtATimeWithThePathReadAfresh();
    void scriptIsToldTheEvent();
    void outputReachesTheLog_data();
    void outputReachesTheLog();

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
// The most memory this process has held so far, in kB.
qint64 peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)
#define QR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QR_ASAN 1
#endif
#endif

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
    row("blanks, a quote, dollar and semicolon in folder and name", "it's my scripts/x$HOME;shut down.sh", marks, true,
        "", ok);
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

// The event and the block that triggered it, for that run only; a plain
// start adds nothing, whatever block it comes with.
void tst_batThread::scriptIsToldTheEvent()
{
    const QString out = m_dir + "/env";
    QByteArray dump = "printf '%s|' \"$#\"";
    for (const char* name : {"EVENT", "BATTERY_LEVEL", "RUNTIME_MIN", "INPUT_MV", "OUTPUT_MV", "PORT", "SLAVE"})
        dump += QByteArray(" \"${QR7215_") + name + "-unset}\"";
    settingsStore::setBatPath(writeScript(m_dir + "/env.sh", "#!/bin/sh\n" + dump + " > '" + out.toUtf8() + "'\n"));
    scriptContext context;
    context.event = scriptEvent::BatteryLow;
    context.registers[statusDecoder::kBatteryLevel] = 15;
    context.registers[statusDecoder::kRuntime] = 7;
    context.registers[statusDecoder::kVoltageInput] = 12000;
    context.registers[statusDecoder::kVoltageOutput] = 11900;
    context.port = QStringLiteral("ttyUSB0");
    context.slave = 3;
    LogCapture log;
    batThread runner;
    const QString unset = QStringLiteral("0|unset|unset|unset|unset|unset|unset|unset|");

    QVERIFY(runner.startScript(context));
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(readAll(out), QStringLiteral("0|BATTERY_LOW|15|7|12000|11900|ttyUSB0|3|"));
    QFile::remove(out);
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(readAll(out), unset);
    QFile::remove(out);
    context.event = scriptEvent::None;
    QVERIFY(runner.startScript(context));
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(readAll(out), unset);
}

void tst_batThread::outputReachesTheLog_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("expected");

    QStringList last20;
    for (int i = 21; i <= 40; ++i)
        last20 << QStringLiteral("Script output: %1 %2").arg(i % 2 ? "out" : "err").arg(i);
    QTest::newRow("40 lines on both channels: the last 20, in order")
        << QByteArray("i=1; while [ $i -le 40 ]; do if [ $((i % 2)) = 0 ]; then echo \"err $i\" >&2; "
                      "else echo \"out $i\"; fi; i=$((i + 1)); done\n")
        << last20;
    QByteArray oneWrite = "printf '";
    QStringList last20OfOneWrite;
    for (int i = 1; i <= 30; ++i) {
        oneWrite += "line " + QByteArray::number(i) + "\\n";
        if (i > 10)
            last20OfOneWrite << QStringLiteral("Script output: line %1").arg(i);
    }
    QTest::newRow("30 lines in one write: the last 20") << oneWrite + "'\n" << last20OfOneWrite;
    QTest::newRow("a last line without a newline")
        << QByteArray("printf 'one\\ntwo'\n") << QStringList{"Script output: one", "Script output: two"};
    QTest::newRow("an overlong line is cut")
        << QByteArray("head -c 1000 /dev/zero | tr '\\0' x; echo\n")
        << QStringList{"Script output: " + QString(batThread::kOutputLineChars, QLatin1Char('x')) + " [...]"};
    QStringList lastOfYes;
    while (lastOfYes.size() < 19)
        lastOfYes << QStringLiteral("Script output: y");
    // 100 MB went through; read as it came, a small part of it was ever held.
    QTest::newRow("100 MB of output: the last 20 lines, little memory")
        << QByteArray("yes | head -c 100000000\necho end\n") << (lastOfYes << QStringLiteral("Script output: end"));
    // The run ends with the script, not with a child that keeps its output open.
    QTest::newRow("a child left running with the output open")
        << QByteArray("setsid sleep 100000 &\necho $! > @CHILD@\necho bye\n") << QStringList{"Script output: bye"};
}

void tst_batThread::outputReachesTheLog()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);

    const QString child = m_dir + "/child";
    const QString script = writeScript(m_dir + "/talks.sh", "#!/bin/sh\n" + body.replace("@CHILD@", "'" + child.toUtf8() + "'"));
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;   // the real 30 s limit
    QSignalSpy ended(&runner, &batThread::signalScriptEnded);
    const auto killChild = qScopeGuard([&] {
        if (const qint64 pid = readAll(child).toLongLong())
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    });

    const qint64 before = peakMemoryKb();
    runner.start();
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 25000);
    const QString outcome = "Post-process script finished with exit code 0: " + script;
    QTRY_COMPARE(log.lines, QStringList{"Post-process script started: " + script} + expected + QStringList{outcome});
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(ended.first().first().toString(), outcome);
    QVERIFY(!QFile::exists(child) || processAlive(readAll(child).toLongLong()));
#ifndef QR_ASAN   // which keeps freed memory in quarantine, so the peak says nothing
    const qint64 grown = peakMemoryKb() - before;
    QVERIFY2(before < 0 || grown < 64 * 1024, qPrintable(QString::number(grown) + " kB"));
#endif
}

QR_TEST_GUILESS_MAIN(tst_batThread)
#include "tst_batthread.moc"
