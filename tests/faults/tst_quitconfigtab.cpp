// Quitting by signal while the "Config" tab refreshes the register table, with
// the module answering and with the module hung. The Config tab needs an
// operator's click, so the program here is this executable run as
// "tst_quitconfigtab --program": the program's own start (single instance,
// termination signals, main window, event loop) plus a hook that opens the
// Config tab once the link is made and says "refreshing" on its output.
#include "comadapter.h"
#include "configwidget.h"
#include "mainwindow.h"
#include "programrun.h"
#include "simulatorprocess.h"
#include "singleinstance.h"
#include "terminationsignals.h"
#include "testenv.h"

#include <QAction>
#include <QTabWidget>

#include <cstdio>
#include <cstring>

using namespace faultfixture;

namespace {

int runProgram(int argc, char** argv)
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
        if (!g_comAdapter.isConnected())
            return;
        auto* action = window->findChild<QAction*>(QStringLiteral("configAction"));
        if (!action->isChecked())
            action->trigger();
        auto* tabs = qobject_cast<QTabWidget*>(window->centralWidget());
        auto* config = window->findChild<configWidget*>();
        if (!config)
            return;
        tabs->setCurrentWidget(config);
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

} // namespace

class tst_quitConfigTab : public QObject
{
    Q_OBJECT

private slots:
    void quitsCleanly_data();
    void quitsCleanly();
};

void tst_quitConfigTab::quitsCleanly_data()
{
    QTest::addColumn<bool>("hung");
    QTest::newRow("Config refreshing: SIGTERM") << false;
    QTest::newRow("Config refreshing, module hung (1000 ms, 3 retries): SIGTERM") << true;
}

void tst_quitConfigTab::quitsCleanly()
{
    QFETCH(bool, hung);

    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(SimulatorProcess::executable()));
    programRun run;
    QVERIFY(run.valid());
    QVERIFY(run.install(QCoreApplication::applicationFilePath()));
    lineSetup line;
    line.port = sim.linkPath();
    line.timeoutMs = 1000;
    line.retries = 3;
    line.pollMs = 100;
    line.autoConnect = true;
    QVERIFY(writeComConfig(run.appDir(), line));
    QVERIFY(installExampleTable(run.appDir()));

    QVERIFY(run.start({QStringLiteral("--program")}));
    QVERIFY(QTest::qWaitFor([&] { return run.process().canReadLine(); }, 10000));
    QCOMPARE(run.process().readLine().trimmed(), QByteArray("refreshing"));
    // The table's block (35 registers) is being read.
    const int asked = sim.requests();
    QTRY_VERIFY_WITH_TIMEOUT(sim.requests() > asked + 1, 5000);
    if (hung) {
        QCOMPARE(sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
        const int before = sim.requests();
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() > before, 5000);
    }

    const qint64 took = run.signalAndWait(SIGTERM, 15000);
    const QString errors = run.errors();
    qInfo().noquote() << QStringLiteral("QUIT|%1|%2 ms").arg(QString::fromLatin1(QTest::currentDataTag())).arg(took);
    QVERIFY2(took >= 0, qPrintable(QStringLiteral("still running 15 s after the signal\n") + errors));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process().exitCode() == 0, qPrintable(errors));
    QVERIFY2(errors.contains(QLatin1String("after quit: connected 0")), qPrintable(errors));
    QCOMPARE(sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(portLeftBehind(sim.linkPath()), QString());
}

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--program") == 0)
        return runProgram(argc, argv);
    testsupport::prepareEnvironment();
    QApplication app(argc, argv);
    tst_quitConfigTab tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_quitconfigtab.moc"
