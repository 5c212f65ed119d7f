// The real program, qr7215-utility, ended by SIGTERM, SIGINT or SIGHUP in
// each state it can be in without an operator: idle, polling, with the module
// hung, with the line hung up, with the post-process script running. Each
// time it must end as the tray's Quit ends it: exit code 0, the device closed
// (the port neither exclusive nor locked), the script killed. The time each
// quit takes is reported; only a hang is asserted against.
#include "programrun.h"
#include "simulatorprocess.h"
#include "testenv.h"

using namespace faultfixture;

class tst_quitProgram : public QObject
{
    Q_OBJECT

private slots:
    void quitsCleanly_data();
    void quitsCleanly();
};

void tst_quitProgram::quitsCleanly_data()
{
    QTest::addColumn<int>("signo");
    QTest::addColumn<bool>("connect");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QString>("state");

    QTest::newRow("idle, not connected: SIGTERM") << int(SIGTERM) << false << 1000 << 3 << QString();
    QTest::newRow("polling: SIGTERM") << int(SIGTERM) << true << 1000 << 3 << QString();
    QTest::newRow("polling: SIGINT") << int(SIGINT) << true << 1000 << 3 << QString();
    QTest::newRow("polling: SIGHUP") << int(SIGHUP) << true << 1000 << 3 << QString();
    QTest::newRow("module hung (1000 ms, 3 retries): SIGTERM")
        << int(SIGTERM) << true << 1000 << 3 << QStringLiteral("hung");
    QTest::newRow("line hung up: SIGTERM") << int(SIGTERM) << true << 1000 << 3 << QStringLiteral("hangup");
    QTest::newRow("script running: SIGTERM") << int(SIGTERM) << true << 1000 << 3 << QStringLiteral("script");
    // The open waits for an identification that never comes: up to 101 x 10 s.
    QTest::newRow("connecting to a silent module (10000 ms, 100 retries): SIGTERM")
        << int(SIGTERM) << true << 10000 << 100 << QStringLiteral("silent");
}

void tst_quitProgram::quitsCleanly()
{
    QFETCH(int, signo);
    QFETCH(bool, connect);
    QFETCH(int, timeoutMs);
    QFETCH(int, retries);
    QFETCH(QString, state);

    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(SimulatorProcess::executable()));
    programRun run;
    QVERIFY(run.valid());
    QVERIFY(run.install(QStringLiteral(QR7215_UTILITY_PATH), QStringLiteral(QR7215_SDK_DIR)));
    lineSetup line;
    line.port = sim.linkPath();
    line.timeoutMs = quint32(timeoutMs);
    line.retries = quint32(retries);
    line.pollMs = 100;
    line.autoConnect = connect;
    QVERIFY(writeComConfig(run.appDir(), line));

    const QString mark = run.path(QStringLiteral("script.pid"));
    if (state == QLatin1String("script")) {
        const QString script = run.path(QStringLiteral("on battery.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho $$ > '" + QFile::encodeName(mark) + "'\nexec sleep 60\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        QVERIFY(run.writeScriptSettings(script, 1));
    }

    if (state == QLatin1String("silent"))
        QCOMPARE(sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    QVERIFY(run.start());
    if (state == QLatin1String("silent")) {
        // The identification request is on the line.
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() >= 1, 10000);
    } else if (connect) {
        // Identified and polling.
        QTRY_VERIFY_WITH_TIMEOUT(sim.requests() >= 3, 10000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.runtimeDir() + QStringLiteral("/QR-7215_UTILITY.lock")), 10000);
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
        QTRY_VERIFY_WITH_TIMEOUT(QFile(mark).size() > 0, 10000);
        QFile pidFile(mark);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        scriptPid = pidFile.readAll().trimmed().toLongLong();
        QVERIFY(scriptPid > 0);
        QVERIFY(!processGone(scriptPid));
    }

    const qint64 took = run.signalAndWait(signo, 10000);
    const QString errors = run.errors();
    qInfo().noquote() << QStringLiteral("QUIT|%1|%2 ms").arg(QString::fromLatin1(QTest::currentDataTag())).arg(took);
    QVERIFY2(took >= 0, qPrintable(QStringLiteral("still running 10 s after the signal\n") + errors));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process().exitCode() == 0, qPrintable(errors));
    for (const char* trouble : {"QThread: Destroyed while thread", "Timers cannot be stopped from another thread",
                                "QSocketNotifier: Invalid socket", "QMutex: destroying locked mutex"}) {
        QVERIFY2(!errors.contains(QLatin1String(trouble)), qPrintable(errors));
    }

    if (sim.isRunning()) {
        QCOMPARE(sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
        QCOMPARE(portLeftBehind(sim.linkPath()), QString());
    }
    if (scriptPid > 0)
        QTRY_VERIFY2(processGone(scriptPid), "the post-process script outlived the program");
}

QR_TEST_MAIN(tst_quitProgram)
#include "tst_quitprogram.moc"
