// The post-process script runner with real scripts: one run at a time, the
// path read afresh at every run, awkward paths, scripts that cannot start,
// scripts that outstay their limit, what the script is told and what of its
// output reaches the log.
#include "batthread.h"
#include "logcapture.h"
#include "scripthelper.h"
#include "scriptprocess.h"
#include "settingsstore.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QUuid>

using namespace scripthelper;

class tst_batThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void pathIsUsedAsStored();
    void secondRequestDuringRunIsDropped();
    void runsAgainWithThePathStoredThen();
    void awkwardPaths_data();
    void awkwardPaths();
    void exitCodeIsLogged();
    void notStarted_data();
    void notStarted();
    void emptyPathStartsNothing();
    void hangingScriptIsKilledAtTheLimit();
    void childThatNeverEndsIsKilledToo();
    void shutDownEndsARunningScriptAtOnce();
    void shutDownRefusesLaterRuns();
    void scriptIsToldTheEvent_data();
    void scriptIsToldTheEvent();
    void outputReachesTheLog_data();
    void outputReachesTheLog();
    void childKeepingTheOutputOpenDoesNotHoldTheRun();
    void chattyScriptDoesNotPileUpInMemory();

private:
    QString m_dir;
};

void tst_batThread::init()
{
    m_dir = testsupport::tempRoot() + QStringLiteral("/scripts-")
            + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(m_dir);
    settingsStore::setBatPath(QString());
}

void tst_batThread::pathIsUsedAsStored()
{
    const QString path = QStringLiteral("/opt/ups scripts/shut down.sh");
#ifdef Q_OS_WIN
    QCOMPARE(platform::scriptProcess::nativePath(path), QStringLiteral("\\opt\\ups scripts\\shut down.sh"));
#else
    QCOMPARE(platform::scriptProcess::nativePath(path), path);
#endif
}

void tst_batThread::secondRequestDuringRunIsDropped()
{
    const QString mark = m_dir + "/mark";
    const QString release = m_dir + "/release";
    const QString script = writeScript(m_dir + "/wait.sh",
                                       "#!/bin/sh\n" + appendLine(mark)
                                           + "while [ ! -e '" + release.toUtf8() + "' ]; do sleep 0.05; done\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;

    runner.start();
    QTRY_COMPARE(lineCount(mark), 1);
    QVERIFY(runner.isRunning());

    // The operator's second power loss a second later finds the first run busy.
    QTest::qWait(1000);
    runner.start();
    QTest::qWait(1000);
    runner.start();

    QFile(release).open(QIODevice::WriteOnly);
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(lineCount(mark), 1);
    QTRY_COMPARE(log.count("Post-process script finished with exit code 0: " + script), 1);
    QCOMPARE(log.count("Post-process script started: " + script), 1);
}

void tst_batThread::runsAgainWithThePathStoredThen()
{
    const QString markA = m_dir + "/a.mark";
    const QString markB = m_dir + "/b.mark";
    const QString a = writeScript(m_dir + "/a.sh", "#!/bin/sh\n" + appendLine(markA));
    const QString b = writeScript(m_dir + "/b.sh", "#!/bin/sh\n" + appendLine(markB));
    LogCapture log;
    batThread runner;

    settingsStore::setBatPath(a);
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(lineCount(markA), 1);
    QCOMPARE(runner.batPath(), a);

    settingsStore::setBatPath(b);
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(lineCount(markA), 1);
    QCOMPARE(lineCount(markB), 1);
    QCOMPARE(runner.batPath(), b);

    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(lineCount(markB), 2);
}

void tst_batThread::awkwardPaths_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("executable");

    QTest::newRow("blanks in folder and name") << "my scripts/shut down.sh" << QByteArray("#!/bin/sh\n") << true;
    QTest::newRow("a quote and blanks") << "it's here/power off now.sh" << QByteArray("#!/bin/sh\n") << true;
    QTest::newRow("no execute bit: run by the shell") << "plain.sh" << QByteArray("#!/bin/sh\n") << false;
    QTest::newRow("no execute bit, no #! line") << "plain text" << QByteArray() << false;
    QTest::newRow("execute bit, no #! line") << "bare" << QByteArray() << true;
    QTest::newRow("no execute bit, blanks") << "a b/c d" << QByteArray() << false;
    QTest::newRow("dollar and semicolon in name") << "x$HOME;y.sh" << QByteArray("#!/bin/sh\n") << true;
}

void tst_batThread::awkwardPaths()
{
    QFETCH(QString, relative);
    QFETCH(QByteArray, head);
    QFETCH(bool, executable);

    const QString mark = m_dir + "/mark";
    const QString script = writeScript(m_dir + "/" + relative, head + appendLine(mark), executable);
    QVERIFY(!script.isEmpty());
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;

    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(lineCount(mark), 1);
    QTRY_COMPARE(log.lines, QStringList({"Post-process script started: " + script,
                                         "Post-process script finished with exit code 0: " + script}));
}

void tst_batThread::exitCodeIsLogged()
{
    const QString script = writeScript(m_dir + "/fails.sh", "#!/bin/sh\nexit 3\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;
    runner.start();
    QTRY_COMPARE(log.count("Post-process script finished with exit code 3: " + script), 1);
}

void tst_batThread::notStarted_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << "missing" << "no such file";
    QTest::newRow("a directory") << "directory" << "a directory";
    QTest::newRow("binary without execute bit") << "binary" << "not executable and not a shell script";
    QTest::newRow("neither readable nor executable") << "unreadable" << "not readable";
}

void tst_batThread::notStarted()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    QString path = m_dir + "/target " + kind;
    if (kind == "directory") {
        QDir().mkpath(path);
    } else if (kind == "binary") {
        writeScript(path, QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10), false);
    } else if (kind == "unreadable") {
        writeScript(path, "echo hi\n", false);
        QFile::setPermissions(path, QFile::WriteOwner);
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("running as a user who can read any file");
    }
    settingsStore::setBatPath(path);
    LogCapture log;
    batThread runner;
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QTRY_COMPARE(log.lines, QStringList{"Post-process script could not start: " + path + " (" + reason + ")"});
}

void tst_batThread::emptyPathStartsNothing()
{
    settingsStore::setBatPath(QString());
    LogCapture log;
    batThread runner;
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QTRY_COMPARE(log.lines, QStringList{"Post-process script not run: no script configured."});
    QVERIFY(runner.batPath().isEmpty());
}

void tst_batThread::hangingScriptIsKilledAtTheLimit()
{
    const QString mark = m_dir + "/mark";
    const QString pidFile = m_dir + "/pid";
    // Waits for input that never comes: standard input is a pipe nobody writes.
    const QString script = writeScript(m_dir + "/asks.sh",
                                       "#!/bin/sh\n" + appendLine(mark) + "echo $$ > '" + pidFile.toUtf8()
                                           + "'\nread answer\necho late >> '" + mark.toUtf8() + "'\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner(nullptr, 1000);

    runner.start();
    QTRY_COMPARE(lineCount(mark), 1);
    QTRY_VERIFY(!readAll(pidFile).isEmpty());
    const qint64 pid = readAll(pidFile).toLongLong();
    QVERIFY(processAlive(pid));

    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 15000);
    QTRY_COMPARE(log.count("Post-process script killed after 1 s: " + script), 1);
    QCOMPARE(log.countStartingWith("Post-process script finished"), 0);
    QTRY_VERIFY(!processAlive(pid));
    QCOMPARE(lineCount(mark), 1);

    // The next request runs it again.
    runner.start();
    QTRY_COMPARE(lineCount(mark), 2);
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 15000);
    QTRY_COMPARE(log.count("Post-process script killed after 1 s: " + script), 2);
}

void tst_batThread::childThatNeverEndsIsKilledToo()
{
    const QString mark = m_dir + "/mark";
    const QString childPid = m_dir + "/child";
    const QString script = writeScript(m_dir + "/forks.sh",
                                       "#!/bin/sh\n" + appendLine(mark) + "sleep 100000 &\necho $! > '"
                                           + childPid.toUtf8() + "'\nwait\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner(nullptr, 1000);

    runner.start();
    QTRY_VERIFY(!readAll(childPid).isEmpty());
    const qint64 pid = readAll(childPid).toLongLong();
    QVERIFY(processAlive(pid));

    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 15000);
    QTRY_COMPARE(log.count("Post-process script killed after 1 s: " + script), 1);
    QTRY_VERIFY(!processAlive(pid));

    runner.start();
    QTRY_COMPARE(lineCount(mark), 2);
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 15000);
    const qint64 second = readAll(childPid).toLongLong();
    QTRY_VERIFY(!processAlive(second));
}

void tst_batThread::shutDownEndsARunningScriptAtOnce()
{
    const QString childPid = m_dir + "/child";
    const QString script = writeScript(m_dir + "/long.sh",
                                       "#!/bin/sh\nsleep 100000 &\necho $! > '" + childPid.toUtf8() + "'\nwait\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;   // the real 30 s limit
    runner.start();
    QTRY_VERIFY(!readAll(childPid).isEmpty());
    const qint64 pid = readAll(childPid).toLongLong();

    QElapsedTimer clock;
    clock.start();
    runner.shutDown();
    // Far below the limit: the quit does not wait the script out.
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(runner.isFinished());
    QTRY_VERIFY(!processAlive(pid));
    QTRY_COMPARE(log.count("Post-process script killed at quit: " + script), 1);
}

void tst_batThread::shutDownRefusesLaterRuns()
{
    const QString mark = m_dir + "/mark";
    settingsStore::setBatPath(writeScript(m_dir + "/quick.sh", "#!/bin/sh\n" + appendLine(mark)));
    LogCapture log;
    batThread runner;
    runner.shutDown();
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCoreApplication::processEvents();
    QCOMPARE(lineCount(mark), 0);
    QVERIFY(log.lines.isEmpty());
}

void tst_batThread::scriptIsToldTheEvent_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("expected");   // $#|event|level|runtime|in|out|port|slave

    QTest::newRow("battery low, from the block that triggered it")
        << int(scriptEvent::BatteryLow) << "0|BATTERY_LOW|15|7|12000|11900|ttyUSB0|3|";
    QTest::newRow("test run") << int(scriptEvent::Test) << "0|TEST|15|7|12000|11900|ttyUSB0|3|";
    QTest::newRow("plain start: nothing added") << int(scriptEvent::None) << "0|unset|unset|unset|unset|unset|unset|unset|";
}

void tst_batThread::scriptIsToldTheEvent()
{
    QFETCH(int, event);
    QFETCH(QString, expected);

    const QString out = m_dir + "/env";
    QByteArray dump = "printf '%s|' \"$#\"";
    for (const char* name : {"EVENT", "BATTERY_LEVEL", "RUNTIME_MIN", "INPUT_MV", "OUTPUT_MV", "PORT", "SLAVE"})
        dump += QByteArray(" \"${QR7215_") + name + "-unset}\"";
    settingsStore::setBatPath(writeScript(m_dir + "/env.sh", "#!/bin/sh\n" + dump + " > '" + out.toUtf8() + "'\n"));
    scriptContext context;
    context.event = static_cast<scriptEvent>(event);
    context.registers[statusDecoder::kBatteryLevel] = 15;
    context.registers[statusDecoder::kRuntime] = 7;
    context.registers[statusDecoder::kVoltageInput] = 12000;
    context.registers[statusDecoder::kVoltageOutput] = 11900;
    context.port = QStringLiteral("ttyUSB0");
    context.slave = 3;
    LogCapture log;
    batThread runner;

    QVERIFY(runner.startScript(context));
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(readAll(out), expected);
    // The context was for that run only.
    runner.start();
    QTRY_VERIFY(runner.isFinished());
    QCOMPARE(readAll(out), QStringLiteral("0|unset|unset|unset|unset|unset|unset|unset|"));
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
    QTest::newRow("no output: no lines") << QByteArray("true\n") << QStringList();
    QTest::newRow("a last line without a newline")
        << QByteArray("printf 'one\\ntwo'\n") << QStringList{"Script output: one", "Script output: two"};
    QTest::newRow("an overlong line is cut")
        << QByteArray("head -c 1000 /dev/zero | tr '\\0' x; echo\n")
        << QStringList{"Script output: " + QString(batThread::kOutputLineChars, QLatin1Char('x')) + " [...]"};
    QTest::newRow("megabytes of output: still the last 20 lines")
        << QByteArray("yes | head -n 3000000; echo end\n")
        << (QStringList() << QVector<QString>(19, QStringLiteral("Script output: y")).toList() << "Script output: end");
}

void tst_batThread::outputReachesTheLog()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);

    const QString script = writeScript(m_dir + "/talks.sh", "#!/bin/sh\n" + body);
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;
    QSignalSpy ended(&runner, &batThread::signalScriptEnded);

    runner.start();
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 20000);
    const QString outcome = "Post-process script finished with exit code 0: " + script;
    QTRY_COMPARE(log.lines, QStringList{"Post-process script started: " + script} + expected + QStringList{outcome});
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(ended.first().first().toString(), outcome);
}

void tst_batThread::childKeepingTheOutputOpenDoesNotHoldTheRun()
{
    const QString childPid = m_dir + "/child";
    const QString script = writeScript(m_dir + "/leaves.sh", "#!/bin/sh\nsetsid sleep 100000 &\necho $! > '"
                                                                 + childPid.toUtf8() + "'\necho bye\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;   // the real 30 s limit

    runner.start();
    QTRY_COMPARE(log.count("Post-process script finished with exit code 0: " + script), 1);
    QCOMPARE(log.count("Script output: bye"), 1);
    const qint64 pid = readAll(childPid).toLongLong();
    QVERIFY(processAlive(pid));
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

namespace {

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

void tst_batThread::chattyScriptDoesNotPileUpInMemory()
{
    const qint64 before = peakMemoryKb();
    if (before < 0)
        QSKIP("no /proc/self/status");
    const QString script = writeScript(m_dir + "/chatty.sh", "#!/bin/sh\nyes | head -c 100000000\necho end\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;

    runner.start();
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 25000);
    QTRY_COMPARE(log.count("Script output: end"), 1);
    // 100 MB went through; read as it came, a small part of it was ever held.
    const qint64 grown = peakMemoryKb() - before;
    QVERIFY2(grown < 64 * 1024, qPrintable(QString::number(grown) + " kB"));
}

QR_TEST_GUILESS_MAIN(tst_batThread)
#include "tst_batthread.moc"
