// The script runner's real 30 s limit: a script that never ends is killed
// after it, not before, and the runner is free again.
#include "batthread.h"
#include "logcapture.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "testenv.h"

#include <QElapsedTimer>

using namespace scripthelper;

class tst_batThreadSlow : public QObject
{
    Q_OBJECT
private slots:
    void killedAfterThirtySeconds();
};

void tst_batThreadSlow::killedAfterThirtySeconds()
{
    const QString dir = testsupport::tempRoot() + "/slow";
    const QString mark = dir + "/mark";
    const QString script = writeScript(dir + "/asks.sh", "#!/bin/sh\n" + appendLine(mark) + "read answer\n");
    settingsStore::setBatPath(script);
    LogCapture log;
    batThread runner;
    QCOMPARE(runner.limitMs(), 30000);

    QElapsedTimer clock;
    clock.start();
    runner.start();
    QTRY_COMPARE(lineCount(mark), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runner.isFinished(), 60000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 29900, qPrintable(QString::number(elapsed)));
    QTRY_COMPARE(log.count("Post-process script killed after 30 s: " + script), 1);

    runner.start();
    QTRY_COMPARE(lineCount(mark), 2);
    runner.shutDown();
}

QR_TEST_GUILESS_MAIN(tst_batThreadSlow)
#include "tst_batthread_slow.moc"
