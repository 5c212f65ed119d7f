// Making and breaking the link while a page uses it: the real main window,
// adapter and device library against qr7215-sim. A disconnect is the
// operator's own act, not a failure of the module: however it falls against
// a read in progress, it must not put a failure line in the log. And a
// disconnect while the module is silent holds the GUI thread up at most for
// the read in flight.
#include "comadapter.h"
#include "consoleprint.h"
#include "faultfixture.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

using namespace faultfixture;

class tst_linkCycles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void disconnectIsNeverAFailure_data();
    void disconnectIsNeverAFailure();
    void disconnectAfterHangUpIsNeverAFailure();
    void disconnectWhileModuleIsSilent_data();
    void disconnectWhileModuleIsSilent();
    void tabSwitchWhileModuleIsSilent();

private:
    bool press(const char* name, bool connectedAfter);
    bool showConfig();

    SimulatorProcess m_sim;
    lineSetup m_line;
    std::unique_ptr<mainWindow> m_window;
};

bool tst_linkCycles::press(const char* name, bool connectedAfter)
{
    auto* button = m_window->findChild<QPushButton*>(QLatin1String(name));
    if (!button || !QTest::qWaitFor([button] { return button->isEnabled(); }, 2000))
        return false;
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    return QTest::qWaitFor([connectedAfter] { return g_comAdapter.isConnected() == connectedAfter; }, 10000);
}

bool tst_linkCycles::showConfig()
{
    auto* action = m_window->findChild<QAction*>(QStringLiteral("configAction"));
    if (!action->isChecked())
        action->trigger();
    auto* tabs = qobject_cast<QTabWidget*>(m_window->centralWidget());
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == QLatin1String("Config")) {
            tabs->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void tst_linkCycles::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_line.port = m_sim.linkPath();
    m_line.pollMs = 20;
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), m_line));
    QVERIFY(installExampleTable(QCoreApplication::applicationDirPath()));
}

void tst_linkCycles::init()
{
    if (!m_sim.isRunning())
        QVERIFY(m_sim.start());
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    g_consolePrint.throttle().reset();
    m_window = std::make_unique<mainWindow>();
    m_window->show();
}

void tst_linkCycles::cleanup()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_linkCycles::cleanupTestCase()
{
    m_sim.stop();
}

void tst_linkCycles::disconnectIsNeverAFailure_data()
{
    QTest::addColumn<bool>("config");
    QTest::newRow("Status Monitor polling") << false;
    QTest::newRow("Config refreshing") << true;
}

void tst_linkCycles::disconnectIsNeverAFailure()
{
    QFETCH(bool, config);
    LogCapture log;
    int requests = m_sim.requests();
    for (int cycle = 0; cycle < 25; ++cycle) {
        QVERIFY(press("m_pushButtonConnect", true));
        if (config)
            QVERIFY(showConfig());
        // Some reads first, so that the disconnect falls among them.
        QTRY_VERIFY(m_sim.requests() >= requests + 3 + cycle % 3);
        QTest::qWait(cycle % 7);
        QVERIFY(press("m_pushButtonDisconnect", false));
        requests = m_sim.requests();
    }
    QTest::qWait(100);
    QStringList failures;
    for (const QString& line : log.lines) {
        if (isFailureLine(line))
            failures << line;
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    QCOMPARE(log.countStartingWith(QStringLiteral("Close port ")), 25);
}

void tst_linkCycles::disconnectAfterHangUpIsNeverAFailure()
{
    // A hung-up line fails every read at once, and closing it takes a moment:
    // the poll thread is often between its isConnected() and its read when
    // the operator's disconnect closes the link.
    LogCapture log;
    const QString lost = QStringLiteral("Read error: %1").arg(QR7215_E_LINK_LOST);
    for (int cycle = 0; cycle < 8; ++cycle) {
        if (!m_sim.isRunning())
            QVERIFY(m_sim.start());
        QVERIFY(press("m_pushButtonConnect", true));
        QTRY_VERIFY(m_sim.requests() >= 3);
        m_sim.kill();
        const int failuresBefore = log.lines.size();
        QTRY_VERIFY(log.lines.size() > failuresBefore || log.count(lost) > 0);
        QTest::qWait(cycle * 7 % 50);
        QVERIFY(press("m_pushButtonDisconnect", false));
    }
    QTest::qWait(100);
    const QStringList notOpen = log.lines.filter(QStringLiteral(":%1:").arg(QR7215_E_NOT_OPEN))
                                + log.lines.filter(QStringLiteral("Read error: %1").arg(QR7215_E_NOT_OPEN));
    QVERIFY2(notOpen.isEmpty(), qPrintable(notOpen.join(QLatin1Char('\n'))));
}

void tst_linkCycles::disconnectWhileModuleIsSilent_data()
{
    QTest::addColumn<bool>("config");
    QTest::newRow("Status Monitor polling") << false;
    QTest::newRow("Config refreshing") << true;
}

void tst_linkCycles::disconnectWhileModuleIsSilent()
{
    QFETCH(bool, config);
    QVERIFY(press("m_pushButtonConnect", true));
    if (config)
        QVERIFY(showConfig());
    QTRY_VERIFY(m_sim.requests() > 3);

    stallMeter meter;
    meter.start();
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    // A read is in flight (the module was asked and says nothing).
    const int asked = m_sim.requests();
    QTRY_VERIFY(m_sim.requests() > asked);
    meter.restartWindow();
    QVERIFY(press("m_pushButtonDisconnect", false));
    const qint64 stall = meter.longestMs();
    meter.stop();
    qInfo().noquote() << QStringLiteral("ROW|disconnect while silent|%1|stall %2 ms")
                             .arg(QString::fromLatin1(QTest::currentDataTag()))
                             .arg(stall);
    // At most the read in flight: every attempt's time-out, plus slack.
    QVERIFY2(stall < 3000 + qint64(m_line.retries + 1) * m_line.timeoutMs, qPrintable(QString::number(stall)));

    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(40016, 12345));
    QVERIFY(press("m_pushButtonConnect", true));
    // Reconnected before the window's refresh dropped the Config tab, the
    // Config tab may still be the current one.
    qobject_cast<QTabWidget*>(m_window->centralWidget())->setCurrentIndex(0);
    QTRY_COMPARE(m_window->findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"))->text(),
                 QStringLiteral("12345mV"));
}

void tst_linkCycles::tabSwitchWhileModuleIsSilent()
{
    // Leaving the Status Monitor tab while the poll thread is inside a read
    // that will only end with its last time-out: the tab change never waits
    // for it (the watch goes on), and the Config tab's own read waits its turn
    // on the line off the GUI thread.
    QVERIFY(press("m_pushButtonConnect", true));
    QTRY_VERIFY(m_sim.requests() > 3);
    LogCapture log;
    stallMeter meter;
    meter.start();
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    const int asked = m_sim.requests();
    QTRY_VERIFY(m_sim.requests() > asked);
    meter.restartWindow();
    auto* action = m_window->findChild<QAction*>(QStringLiteral("configAction"));
    QMetaObject::invokeMethod(action, "trigger", Qt::QueuedConnection);
    QTRY_COMPARE(qobject_cast<QTabWidget*>(m_window->centralWidget())->count(), 2);
    QMetaObject::invokeMethod(qobject_cast<QTabWidget*>(m_window->centralWidget()), "setCurrentIndex",
                              Qt::QueuedConnection, Q_ARG(int, 1));
    QTRY_COMPARE(qobject_cast<QTabWidget*>(m_window->centralWidget())->currentIndex(), 1);
    // The Config tab now reads the silent module itself.
    QTRY_VERIFY(log.count(QStringLiteral("ERR:-8:When reading register start from 40000")) == 1);
    const qint64 stall = meter.longestMs();
    meter.stop();
    qInfo().noquote() << QStringLiteral("ROW|tab switch while silent|stall %1 ms").arg(stall);
    // The poll thread's read in flight, or one read of the Config tab.
    QVERIFY2(stall < 3000 + qint64(m_line.retries + 1) * m_line.timeoutMs, qPrintable(QString::number(stall)));
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
}

QR_TEST_MAIN(tst_linkCycles)
#include "tst_linkcycles.moc"
