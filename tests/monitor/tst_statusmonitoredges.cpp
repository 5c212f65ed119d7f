// The status page's DC_OK and SW edges with a real script: blocks handed to
// the page directly and blocks read by the real poll thread from the fake
// device library; the power-event settings taken from the store and acted on
// on another tab; and the page destroyed while it polls and runs a script.
#include "comadapter.h"
#include "comsettings.h"
#include "deliverycounter.h"
#include "batthread.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "monitorthread.h"
#include "pageprobe.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

using namespace scripthelper;

namespace {
using probe = statusMonitorWidgetProbe;
const auto& lit = probe::lit;
void feed(statusMonitorWidget& page, const statusDecoder::block& b, bool shown = true)
{
    probe::feed(page, b, shown);
}
const auto& poller = probe::poller;
const auto& runner = probe::runner;
} // namespace

class tst_statusMonitorEdges : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void edgesThroughThePollThread();
    void delayAndRestoreOnAnotherTab();
    void destroyedWhilePollingAndRunningAScript();
    // Last: it runs the application's event loop to its end.
    void quitEndsPollingAndTheScript();

private:
    void openLink();
    QString m_dir;
};

void tst_statusMonitorEdges::init()
{
    fakesdk::reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    settingsStore::setBatPath(QString());
    settingsStore::setBatExecutePolicy(0);
    settingsStore::setBatDelay(0);
    settingsStore::setBatOnRestore(false);
    m_dir = testsupport::tempRoot() + QStringLiteral("/edges-")
            + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(m_dir);
}

void tst_statusMonitorEdges::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_statusMonitorEdges::openLink()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_statusMonitorEdges::edgesThroughThePollThread()
{
    const QString mark = m_dir + "/mark";
    settingsStore::setBatPath(writeScript(m_dir + "/dc lost.sh", "#!/bin/sh\n" + appendLine(mark)));
    settingsStore::setBatExecutePolicy(1);
    openLink();
    LogCapture log;
    statusMonitorWidget page;
    QSignalSpy dcOk(&page, SIGNAL(signalDC_OK(bool)));

    comSettings settings;
    settings.pollDelay = 5;
    page.slotOnConnect(settings);
    QVERIFY(poller(page)->isRunning());
    QCOMPARE(poller(page)->pollCycle(), 5u);

    // Each value is held until the page has decoded at least two blocks of it.
    // Counted by an object of this function: a delivery still queued when
    // the function returns goes with it instead of reaching a dead frame.
    deliveryCounter decoded(poller(page), &monitorThread::signalFinished);
    for (int v : {1, 1, 0, 0, 1}) {
        fakesdk::setRegister(40028, quint16(v));
        QTRY_COMPARE(lit(page, "m_ledDC_OK"), v != 0);
        const int target = decoded.count() + 2;
        QTRY_VERIFY(decoded.count() >= target);
        QCOMPARE(lit(page, "m_ledDC_OK"), v != 0);
    }
    page.slotOnSetEnabled(false);

    QTRY_COMPARE(lineCount(mark), 1);
    QCOMPARE(log.count("DC is connected."), 2);
    QCOMPARE(log.count("DC is broken."), 1);
    QCOMPARE(dcOk.count(), 3);
    QCOMPARE(dcOk.at(0).at(0).toBool(), true);
    QCOMPARE(dcOk.at(1).at(0).toBool(), false);
    QCOMPARE(dcOk.at(2).at(0).toBool(), true);
    QTRY_COMPARE(log.countStartingWith("Post-process script finished with exit code 0"), 1);
}

void tst_statusMonitorEdges::delayAndRestoreOnAnotherTab()
{
    const QString events = m_dir + "/events";
    settingsStore::setBatPath(
        writeScript(m_dir + "/events.sh", "#!/bin/sh\necho \"$QR7215_EVENT $QR7215_BATTERY_LEVEL\" >> '"
                                              + events.toUtf8() + "'\n"));
    settingsStore::setBatExecutePolicy(1);
    LogCapture log;
    statusMonitorWidget page;
    QSignalSpy notes(&page, SIGNAL(signalNotify(const QString&, const QString&, bool, const QString&)));
    // Changed after the page was built: the page takes them from the store.
    settingsStore::setBatDelay(1);
    settingsStore::setBatOnRestore(true);
    page.slotOnPowerEventSettingsChanged();

    const bool shown = false;
    feed(page, makeBlock({{40028, 1}, {40026, 100}}), shown);
    feed(page, makeBlock({{40028, 0}, {40026, 97}}), shown);
    QCOMPARE(page.pendingScriptSeconds(), 1);
    QCOMPARE(log.count("Post-process script pending: it runs in 1 s unless DC returns."), 1);
    QVERIFY(!runner(page)->isRunning());
    // The delay runs out with no block at all.
    QTRY_COMPARE(readAll(events), QStringLiteral("DC_LOST 97"));
    QCOMPARE(page.pendingScriptSeconds(), -1);
    QTRY_VERIFY(runner(page)->isFinished());

    feed(page, makeBlock({{40028, 1}, {40026, 98}}), shown);
    QTRY_COMPARE(readAll(events), QStringLiteral("DC_LOST 97\nDC_RESTORED 98"));
    QTRY_VERIFY(runner(page)->isFinished());

    // A loss that DC outlasts: nothing runs.
    feed(page, makeBlock({{40028, 0}}), shown);
    QVERIFY(page.pendingScriptSeconds() > 0);
    feed(page, makeBlock({{40028, 1}}), shown);
    QCOMPARE(log.count("Post-process script cancelled: DC returned after 0 s."), 1);
    QCOMPARE(page.pendingScriptSeconds(), -1);

    // Both script outcomes included, which arrive from the runner's thread.
    QTRY_COMPARE(notes.count(), 9);
    QStringList summaries;
    for (const QList<QVariant>& n : qAsConst(notes))
        summaries << n.at(0).toString() + (n.at(2).toBool() ? " (critical)" : "");
    QCOMPARE(summaries.count("Post-process script"), 2);
    QCOMPARE(summaries.count("DC input lost (critical)"), 2);
    QCOMPARE(summaries.count("DC input restored"), 2);
    QCOMPARE(summaries.count("Post-process script pending"), 2);
    QCOMPARE(summaries.count("Post-process script cancelled"), 1);
}

void tst_statusMonitorEdges::destroyedWhilePollingAndRunningAScript()
{
    const QString childPid = m_dir + "/child";
    settingsStore::setBatPath(writeScript(m_dir + "/slow.sh",
                                          "#!/bin/sh\nsleep 100000 &\necho $! > '" + childPid.toUtf8() + "'\nwait\n"));
    settingsStore::setBatExecutePolicy(1);
    openLink();
    LogCapture log;
    auto* page = new statusMonitorWidget;
    page->slotOnSetEnabled(true);
    feed(*page, makeBlock({{40028, 1}}));
    feed(*page, makeBlock({{40028, 0}}));
    QTRY_VERIFY(!readAll(childPid).isEmpty());
    const qint64 pid = readAll(childPid).toLongLong();
    QVERIFY(processAlive(pid));

    QElapsedTimer clock;
    clock.start();
    delete page;
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!processAlive(pid));
    const int reads = fakesdk::countCalls("read");
    QTest::qWait(50);
    QCOMPARE(fakesdk::countCalls("read"), reads);
}

void tst_statusMonitorEdges::quitEndsPollingAndTheScript()
{
    const QString childPid = m_dir + "/child";
    const QString script = writeScript(m_dir + "/slow.sh",
                                       "#!/bin/sh\nsleep 100000 &\necho $! > '" + childPid.toUtf8() + "'\nwait\n");
    settingsStore::setBatPath(script);
    settingsStore::setBatExecutePolicy(2);
    openLink();
    LogCapture log;
    statusMonitorWidget page;
    page.slotOnSetEnabled(true);
    feed(page, makeBlock({{40031, 1}}));
    QTRY_VERIFY(!readAll(childPid).isEmpty());
    const qint64 pid = readAll(childPid).toLongLong();

    // The page stays alive, as it does in the program until after the loop.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QElapsedTimer clock;
    clock.start();
    qApp->exec();
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!poller(page)->isRunning());
    QVERIFY(!runner(page)->isRunning());
    QTRY_VERIFY(!processAlive(pid));
    QTRY_COMPARE(log.count("Post-process script killed at quit: " + script), 1);
}

QR_TEST_MAIN(tst_statusMonitorEdges)
#include "tst_statusmonitoredges.moc"
