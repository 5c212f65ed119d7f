// Quitting by SIGTERM, SIGINT or SIGHUP in each state the program can be in
// without an operator: idle, polling, module hung, line hung up, script
// running, connecting to a silent module, the Config tab refreshing. Each time
// it must end as the tray's Quit ends it: exit code 0, the device closed (the
// port neither exclusive nor locked), the script killed; only a hang is timed.
// The program is qr7215-utility itself; the Config tab needs a click, so for
// it this executable runs as "tst_quit --program": the program's own start
// plus a hook that opens the tab and says "refreshing" once the table is read.
#include "comadapter.h"
#include "configwidget.h"
#include "faultfixture.h"
#include "mainwindow.h"
#include "scripthelper.h"
#include "simulatorprocess.h"
#include "singleinstance.h"
#include "terminationsignals.h"
#include "testenv.h"

#include <QAction>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace faultfixture;

namespace {

int runConfigProgram(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!platform::acquireSingleInstance("QR-7215_UTILITY"))
        return 3;
    platform::quitOnTerminationSignals();
    g_comAdapter.closeFirstOnQuit(&app);
    auto window = std::make_unique<mainWindow>();
    window->show();
    QTimer hook;
    QObject::connect(&hook, &QTimer::timeout, [&] {
        auto* action = window->findChild<QAction*>(QStringLiteral("configAction"));
        if (!g_comAdapter.isConnected())
            return;
        if (!action->isChecked())
            action->trigger();
        auto* config = window->findChild<configWidget*>();
        if (!config)
            return;
        qobject_cast<QTabWidget*>(window->centralWidget())->setCurrentWidget(config);
        if (config->isRefreshing()) {
            hook.stop();
            std::printf("refreshing\n");
            std::fflush(stdout);
        }
    });
    hook.start(20);
    const int rc = app.exec();
    // Reached after everything connected to aboutToQuit has run.
    std::fprintf(stderr, "after quit: connected %d\n", g_comAdapter.isConnected() ? 1 : 0);
    return rc;
}

// What a program that ended without closing its link leaves behind.
QString portLeftBehind(const QString& port)
{
    const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot open the port");
    QString left;
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        left = QStringLiteral("the port is still exclusive");
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        left = QStringLiteral("the port is still locked");
    ::close(fd);
    return left;
}

} // namespace

class tst_quit : public QObject
{
    Q_OBJECT

private slots:
    void quitsCleanly_data();
    void quitsCleanly();
};

void tst_quit::quitsCleanly_data()
{
    QTest::addColumn<int>("signo");
    QTest::addColumn<bool>("config");
    QTest::addColumn<QString>("state");

    QTest::newRow("idle, not connected: SIGTERM") << int(SIGTERM) << false << QStringLiteral("idle");
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        QTest::addRow("polling: SIG%s", sigabbrev_np(signo)) << signo << false << QStringLiteral("polling");
    QTest::newRow("module hung (1000 ms, 3 retries): SIGTERM") << int(SIGTERM) << false << QStringLiteral("hung");
    QTest::newRow("line hung up: SIGTERM") << int(SIGTERM) << false << QStringLiteral("hangup");
    QTest::newRow("script running: SIGTERM") << int(SIGTERM) << false << QStringLiteral("script");
    // The open waits for an identification that never comes: up to 101 x 10 s.
    QTest::newRow("connecting to a silent module (10000 ms, 100 retries): SIGTERM")
        << int(SIGTERM) << false << QStringLiteral("silent");
    QTest::newRow("Config refreshing: SIGTERM") << int(SIGTERM) << true << QStringLiteral("polling");
    QTest::newRow("Config refreshing, module hung (1000 ms, 3 retries): SIGTERM")
        << int(SIGTERM) << true << QStringLiteral("hung");
}

void tst_quit::quitsCleanly()
{
    QFETCH(int, signo);
    QFETCH(bool, config);
    QFETCH(QString, state);

    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(SimulatorProcess::executable()));
    // The program and its device library in a folder of their own, with a
    // private settings store and single-instance lock.
    QTemporaryDir root;
    const QString appDir = root.filePath(QStringLiteral("app"));
    const QString configHome = root.filePath(QStringLiteral("config"));
    const QString runtimeDir = root.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(appDir) && QDir().mkpath(configHome + QStringLiteral("/Tarvolt/UPS")));
    QVERIFY(QDir().mkpath(runtimeDir));
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString source = config ? QCoreApplication::applicationFilePath() : QStringLiteral(QR7215_UTILITY_PATH);
    const QString program = appDir + QLatin1Char('/') + QFileInfo(source).fileName();
    QVERIFY(QFile::copy(source, program));
    const QDir sdkDir(QStringLiteral(QR7215_SDK_DIR));
    for (const QString& name : sdkDir.entryList({QStringLiteral("libqr7215sdk.so*")}, QDir::Files | QDir::System))
        QVERIFY(QFile::copy(sdkDir.filePath(name), appDir + QLatin1Char('/') + name));

    lineSetup line;
    line.port = sim.linkPath();
    line.timeoutMs = state == QLatin1String("silent") ? 10000 : 1000;
    line.retries = state == QLatin1String("silent") ? 100 : 3;
    line.pollMs = 100;
    line.autoConnect = state != QLatin1String("idle");
    QVERIFY(writeComConfig(appDir, line));
    if (config)
        QVERIFY(installExampleTable(appDir));

    const QString mark = root.filePath(QStringLiteral("script.pid"));
    if (state == QLatin1String("script")) {
        const QString script = scripthelper::writeScript(root.filePath(QStringLiteral("on battery.sh")),
            "#!/bin/sh\necho $$ > '" + QFile::encodeName(mark) + "'\nexec sleep 60\n");
        QVERIFY(testsupport::putFile(configHome + QStringLiteral("/Tarvolt/UPS/QR-7215.conf"),
                                     "[General]\nbatPath=" + script.toUtf8() + "\nbatExecutePolicy=1\n"));
    }
    if (state == QLatin1String("silent"))
        QCOMPARE(sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    process.setProcessEnvironment(env);
    process.start(program, config ? QStringList{QStringLiteral("--program")} : QStringList());
    QVERIFY(process.waitForStarted(5000));
    if (config) {
        QVERIFY(QTest::qWaitFor([&] { return process.canReadLine(); }, 10000));
        QCOMPARE(process.readLine().trimmed(), QByteArray("refreshing"));
        // The table's block is being read.
        const int asked = sim.requests();
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() > asked + 1, 5000);
    } else if (state == QLatin1String("idle")) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtimeDir + QStringLiteral("/QR-7215_UTILITY.lock")), 10000);
    } else {
        // The identification is on the line; or identified and polling.
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() >= (state == QLatin1String("silent") ? 1 : 3), 10000);
    }

    qint64 scriptPid = 0;
    if (state == QLatin1String("hung")) {
        QCOMPARE(sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
        // A read is in flight: the module was asked and will never answer.
        const int asked = sim.requests();
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() > asked, 5000);
    } else if (state == QLatin1String("hangup")) {
        sim.kill();
    } else if (state == QLatin1String("script")) {
        QCOMPARE(sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(mark).size() > 0, 10000);
        scriptPid = scripthelper::readAll(mark).toLongLong();
        QVERIFY(scripthelper::processAlive(scriptPid));
    }

    ::kill(static_cast<pid_t>(process.processId()), signo);
    const bool ended = process.waitForFinished(15000);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(ended, qPrintable(QStringLiteral("still running 15 s after the signal\n") + errors));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, qPrintable(errors));
    for (const char* trouble : {"QThread: Destroyed while thread", "Timers cannot be stopped from another thread",
                                "QSocketNotifier: Invalid socket", "QMutex: destroying locked mutex"})
        QVERIFY2(!errors.contains(QLatin1String(trouble)), qPrintable(errors));
    if (config)
        QVERIFY2(errors.contains(QLatin1String("after quit: connected 0")), qPrintable(errors));
    if (sim.isRunning()) {
        QCOMPARE(sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
        QCOMPARE(portLeftBehind(sim.linkPath()), QString());
    }
    if (scriptPid > 0)
        QTRY_VERIFY2(!scripthelper::processAlive(scriptPid), "the post-process script outlived the program");
}

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--program") == 0)
        return runConfigProgram(argc, argv);
    testsupport::prepareEnvironment();
    QApplication app(argc, argv);
    tst_quit tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_quit.moc"
