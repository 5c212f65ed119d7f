// The program against a misbehaving module: the real main window, adapter and
// device library against qr7215-sim over its pseudo-terminal, with the Status
// Monitor or the Config tab current. What the operator must get: no crash or
// hang, a GUI thread never held up past one exchange, one clear line per
// failure text with its repeats counted, never an old value after a fresh
// one, and live values once the module is back and the link made again.
#include "comadapter.h"
#include "consoleprint.h"
#include "faultfixture.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>

using namespace faultfixture;

namespace {

// Values of the shown register before a fault, during it, and after the link was made again.
enum { kBefore = 1, kDuring = 2, kAfter = 3 };
const QString kLost = QStringLiteral("Communication with the module lost.");

QTestData& row(bool config, const char* name)
{
    return QTest::addRow("%s: %s", config ? "Config" : "Status Monitor", name) << config;
}

} // namespace

class tst_faultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void faultAndRecovery_data();
    void faultAndRecovery();
    void failedConnectThenWorks_data();
    void failedConnectThenWorks();
    void connectAndDisconnect_data();
    void connectAndDisconnect();

private:
    // Input voltage on the status page (11111 mV...), the shutdown delay in the table (1111 s...).
    int shownRegister() const { return m_config ? 40005 : 40016; }
    int shownValue(int step) const { return step * (m_config ? 1111 : 11111); }
    QString shownText(int step) const
    {
        return QString::number(shownValue(step)) + (m_config ? QString() : QStringLiteral("mV"));
    }
    QString displayText() const;
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    bool openWindow();
    bool press(const char* name, bool connectedAfter);
    bool connectLink() { return press("m_pushButtonConnect", true) && showTab(m_config); }
    bool disconnectLink() { return press("m_pushButtonDisconnect", false); }
    bool showTab(bool config);
    // The longest the event loop may wait for the reads the GUI thread makes
    // itself (each up to every attempt's time-out); generous for a loaded machine.
    qint64 stallBound(int reads) const { return 3000 + qint64(m_line.retries + 1) * m_line.timeoutMs * reads; }

    SimulatorProcess m_sim;
    lineSetup m_line;
    bool m_config = false;
    std::unique_ptr<mainWindow> m_window;
};

QString tst_faultMatrix::displayText() const
{
    if (!m_window)
        return QString();
    if (!m_config)
        return m_window->findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"))->text();
    for (int i = 0; i < tabs()->count(); ++i) {
        auto* view = tabs()->widget(i)->findChild<QTableView*>(QStringLiteral("m_tableView"));
        if (view && view->model())
            return view->model()->index(shownRegister() - 40000, 2).data().toString();
    }
    return QString();
}

bool tst_faultMatrix::openWindow()
{
    m_window.reset();
    m_window = std::make_unique<mainWindow>();
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

// Pressed from within the event loop, as an operator's click is, so that the
// stall meter sees how long a press holds the loop up.
bool tst_faultMatrix::press(const char* name, bool connectedAfter)
{
    // The page enables its buttons on its next refresh after a change.
    auto* button = m_window->findChild<QPushButton*>(QLatin1String(name));
    if (!QTest::qWaitFor([button] { return button->isEnabled(); }, 2000))
        return false;
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    return QTest::qWaitFor([connectedAfter] { return g_comAdapter.isConnected() == connectedAfter; }, 10000);
}

bool tst_faultMatrix::showTab(bool config)
{
    if (!config) {
        tabs()->setCurrentIndex(0);
        return true;
    }
    // The main window drops the Config tab while the link is down; its action brings it back.
    auto* action = m_window->findChild<QAction*>(QStringLiteral("configAction"));
    if (!action->isChecked())
        action->trigger();
    for (int i = 0; i < tabs()->count(); ++i) {
        if (tabs()->tabText(i) == QLatin1String("Config")) {
            tabs()->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void tst_faultMatrix::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_line.port = m_sim.linkPath();
    QVERIFY(installExampleTable(QCoreApplication::applicationDirPath()));
    // Bursts end after this gap here, so that a row ends quickly.
    g_consolePrint.throttle().setTimes(800, logThrottle::kDefaultSummaryEveryMs);
}

void tst_faultMatrix::init()
{
    m_config = false;
    if (!m_sim.isRunning())
        QVERIFY(m_sim.start());
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), m_line));
    g_consolePrint.throttle().reset();
}

void tst_faultMatrix::cleanup()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_faultMatrix::cleanupTestCase()
{
    m_sim.stop();
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

void tst_faultMatrix::faultAndRecovery_data()
{
    QTest::addColumn<bool>("config");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    // 1: the link counts as lost, says so and is reopened by itself; 0: it
    // never counts as lost; -1: either, depending on how the failures fall.
    QTest::addColumn<int>("lost");
    QTest::addColumn<bool>("everyReadFails");

    for (bool config : {false, true}) {
        row(config, "module stops answering") << QStringLiteral("fault timeout") << -8 << 1 << true;
        // After a time-out the library waits for a quiet line before the next
        // request, so late answers are dropped and some reads fail; a retry
        // takes the late answer to its own, identical request.
        row(config, "answers later than the time-out") << QStringLiteral("fault delay 1000") << -8 << -1 << false;
        row(config, "answers late within the time-out") << QStringLiteral("fault delay 120") << 0 << 0 << false;
        row(config, "answers with bad CRCs") << QStringLiteral("fault crc") << -9 << 1 << true;
        // An exception is an answer: the module is there, the link is not lost.
        row(config, "answers with exception 4") << QStringLiteral("fault exception 4") << -104 << 0 << true;
        // The line hangs up like an unplugged USB adapter, and the module
        // comes back on the same path: the link is reopened by itself.
        row(config, "simulator quits and comes back") << QStringLiteral("kill") << -11 << 1 << true;
    }
}

void tst_faultMatrix::faultAndRecovery()
{
    QFETCH(bool, config);
    QFETCH(QString, fault);
    QFETCH(int, code);
    QFETCH(int, lost);
    QFETCH(bool, everyReadFails);
    m_config = config;
    const bool kill = fault == QLatin1String("kill");
    const bool delay = fault.startsWith(QLatin1String("fault delay"));
    QVERIFY(m_sim.set(shownRegister(), shownValue(kBefore)));
    QVERIFY(openWindow());
    QVERIFY(connectLink());
    QTRY_COMPARE(displayText(), shownText(kBefore));

    // The watch polls whichever tab is current; its own lines come first, as a
    // lost link may be closed before the table's refresh meets the fault.
    QStringList texts;
    if (code) {
        texts << QStringLiteral("ERR:%1:When reading register start from 40016").arg(code)
              << QStringLiteral("Read error: %1").arg(code);
    }
    const QStringList required = texts;
    if (code && config)
        texts << QStringLiteral("ERR:%1:When reading register start from 40000").arg(code);
    // Two kinds of request share the line on the Config tab: an answer that
    // comes after its request timed out meets the other one and is refused
    // as the wrong answer, never taken for it.
    if (code && config && delay)
        texts << QStringLiteral("ERR:%1:When reading register start from 40016").arg(QR7215_E_BAD_ANSWER)
              << QStringLiteral("Read error: %1").arg(QR7215_E_BAD_ANSWER)
              << QStringLiteral("ERR:%1:When reading register start from 40000").arg(QR7215_E_BAD_ANSWER);

    LogCapture log;
    stallMeter meter([this] { return displayText(); });
    const int requestsBefore = m_sim.requests();
    if (kill)
        m_sim.kill();
    else
        QCOMPARE(m_sim.command(fault), QStringLiteral("ok"));

    for (const QString& text : required)
        QTRY_VERIFY_WITH_TIMEOUT(log.count(text) >= 1, 10000);
    if (lost == 1) {
        QTRY_COMPARE_WITH_TIMEOUT(log.count(kLost), 1, 10000);
        // Shown as lost, never as the live values of before.
        QTRY_COMPARE(m_window->findChild<QLabel*>(QStringLiteral("connectStateLabel"))->text(),
                     QStringLiteral("Link lost"));
        if (!config)
            QTRY_COMPARE(displayText(), QStringLiteral("0mV"));
    } else if (code) {
        // Enough failed reads that the throttle has something to count.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.requests() >= requestsBefore + 3 * int(m_line.retries + 1) + 6, 15000);
    }

    if (kill) {
        QVERIFY(m_sim.start());
        QVERIFY(m_sim.set(shownRegister(), shownValue(kDuring)));
    } else {
        // Set while the fault lasts; answers computed before may still be on their way.
        QVERIFY(m_sim.set(shownRegister(), shownValue(kDuring)));
        if (!code)
            QTRY_COMPARE(displayText(), shownText(kDuring));
        if (code && delay) {
            // Held-back answers leave in the order of their requests, so nothing
            // shown goes back in time while the delay lasts. Ended at once, an
            // old answer could land in the wait of a fresh request (the device
            // library's late-answer row); here they drain first.
            QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
            QTRY_COMPARE_WITH_TIMEOUT(m_sim.command(QStringLiteral("pending")), QStringLiteral("0"), 5000);
        }
        QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    }

    // Back by itself with live values: a lost link is reopened after the
    // back-off's first second, its Config tab opened again by the operator.
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 20000);
    if (config)
        QTRY_VERIFY(showTab(true));
    QTRY_COMPARE_WITH_TIMEOUT(displayText(), shownText(kDuring), 10000);
    // Late answers of the fault leave within its delay: watch that long.
    QTest::qWait(1200);
    QCOMPARE(displayText(), shownText(kDuring));
    const bool wasLost = log.count(kLost) == 1;
    if (lost != -1)
        QCOMPARE(wasLost, lost == 1);
    QCOMPARE(log.count(QStringLiteral("Communication with the module restored.")), wasLost ? 1 : 0);
    if (wasLost) {
        // The watch goes on over the reopened link, reporting changes only,
        // also on the Config tab, where the status page's display is off.
        QCOMPARE(m_sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
        QTRY_COMPARE(log.count(QStringLiteral("DC is broken.")), 1);
        QCOMPARE(m_sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
        QTRY_COMPARE(log.count(QStringLiteral("DC is connected.")), 1);
    }
    const qint64 faultStall = meter.longestMs();

    // Made again once the module is back: live values.
    meter.restartWindow();
    QVERIFY(disconnectLink());
    QVERIFY(connectLink());
    QVERIFY(m_sim.set(shownRegister(), shownValue(kAfter)));
    QTRY_COMPARE(displayText(), shownText(kAfter));
    const qint64 reconnectStall = meter.longestMs();
    // Every burst over and summarised.
    QTRY_COMPARE_WITH_TIMEOUT(g_consolePrint.throttle().tracked(), 0, 5000);
    QCoreApplication::processEvents();

    const QStringList shown = meter.shown();
    QVERIFY2(!staleAfterFresh(shown, shownText(kBefore), shownText(kDuring)), qPrintable(shown.join(QLatin1Char(','))));
    QVERIFY2(!staleAfterFresh(shown, shownText(kDuring), shownText(kAfter)), qPrintable(shown.join(QLatin1Char(','))));

    // One clear line per failure text, its repeats counted, nothing else
    // (reopening a lost link may first meet the module still away).
    QStringList odd = unexpectedFailureLines(log.lines, texts);
    if (wasLost) {
        odd.erase(std::remove_if(odd.begin(), odd.end(), [](const QString& line) {
            return line.startsWith(QLatin1String("Open device error:")) || line.startsWith(QLatin1String("Port "));
        }), odd.end());
    }
    QCOMPARE(odd, QStringList());
    const int requests = m_sim.requests() - requestsBefore;
    for (const QString& text : texts) {
        const textReport r = reportOf(log.lines, text);
        if (wasLost || config) {
            // The failures end with the link, and on the Config tab the two
            // kinds of request wait for each other: bursts may end and start again.
            QVERIFY(r.repeating <= r.first);
        } else if (everyReadFails) {
            // One burst: the text, its "repeating" line and one summary.
            QCOMPARE(r.first, 1);
            QCOMPARE(r.repeating, 1);
            QCOMPARE(r.summaries.size(), 1);
        } else {
            // Late answers fail only the reads the library cannot tell from a
            // fresh one, spaced by its wait for a quiet line: lines of their own.
            QVERIFY(r.first >= 1);
        }
        // Every failed read put at least one request on the line.
        if (!kill && !r.summaries.isEmpty())
            QVERIFY2(2 + r.summaries.first() <= requests, qPrintable(QString::number(requests)));
    }
    QVERIFY2(faultStall < stallBound(2), qPrintable(QString::number(faultStall)));
    QVERIFY2(reconnectStall < stallBound(2), qPrintable(QString::number(reconnectStall)));
}

void tst_faultMatrix::failedConnectThenWorks_data()
{
    QTest::addColumn<bool>("missing");
    QTest::addColumn<int>("code");
    QTest::newRow("the port does not exist") << true << int(QR7215_E_PORT_NOT_FOUND);
    QTest::newRow("the module is silent at connect") << false << int(QR7215_E_TIMEOUT);
}

// Connect pressed three times while the link cannot be made: the failure and
// its explanation once, then once as repeating, then counted; the open runs
// off the GUI thread. Then the cause goes away and the same button brings live values.
void tst_faultMatrix::failedConnectThenWorks()
{
    QFETCH(bool, missing);
    QFETCH(int, code);
    lineSetup line = m_line;
    if (missing)
        line.port += QStringLiteral(".gone");
    else
        QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), line));
    QVERIFY(openWindow());

    LogCapture log;
    stallMeter meter;
    auto* connect = m_window->findChild<QPushButton*>(QStringLiteral("m_pushButtonConnect"));
    for (int press = 0; press < 3; ++press) {
        QVERIFY(QTest::qWaitFor([connect] { return connect->isEnabled(); }, 2000));
        const int before = log.lines.size();
        QMetaObject::invokeMethod(connect, "click", Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return log.lines.size() > before; }, 10000));
        QVERIFY(!g_comAdapter.isConnected());
    }
    const qint64 stall = meter.longestMs();
    QTRY_COMPARE_WITH_TIMEOUT(g_consolePrint.throttle().tracked(), 0, 5000);

    const QString first = QStringLiteral("Open device error:") + QString::number(code);
    const QString why = log.lines.value(1);
    QVERIFY2(why.startsWith(QLatin1String("Port ")) && why.contains(line.port), qPrintable(why));
    QCOMPARE(log.lines.mid(0, 4),
             (QStringList{first, why, logThrottle::repeatingLine(first), logThrottle::repeatingLine(why)}));
    QCOMPARE(reportOf(log.lines, first).summaries, QList<int>{1});
    QCOMPARE(reportOf(log.lines, why).summaries, QList<int>{1});
    QCOMPARE(log.lines.size(), 6);
    QCOMPARE(log.hwVersions, (QStringList{QStringLiteral("0000"), QStringLiteral("0000"), QStringLiteral("0000")}));
    QVERIFY2(stall < stallBound(3), qPrintable(QString::number(stall)));

    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    if (missing) {
        // The port comes from the settings the window read at its start.
        QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), m_line));
        QVERIFY(openWindow());
    }
    QVERIFY(m_sim.set(shownRegister(), shownValue(kAfter)));
    log.clear();
    QVERIFY(connectLink());
    QTRY_COMPARE(displayText(), shownText(kAfter));
    QVERIFY(log.lines.value(0).startsWith(QLatin1String("Open device success")));
}

void tst_faultMatrix::connectAndDisconnect_data()
{
    QTest::addColumn<bool>("config");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("cycles");
    for (bool config : {false, true}) {
        row(config, "module answering") << QStringLiteral("answering") << 25;
        row(config, "module silent, other tab shown") << QStringLiteral("silent") << 3;
    }
    row(false, "line hung up") << QStringLiteral("hangup") << 8;
}

// A disconnect is the operator's own act, not a failure of the module:
// however it falls against a read in progress it puts no failure line in the
// log, and it holds the GUI thread up at most for the read in flight, also
// when the module went silent and the other tab was shown under that read.
void tst_faultMatrix::connectAndDisconnect()
{
    QFETCH(bool, config);
    QFETCH(QString, state);
    QFETCH(int, cycles);
    m_config = config;
    lineSetup line = m_line;
    line.pollMs = 20;
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), line));
    QVERIFY(openWindow());

    LogCapture log;
    stallMeter meter;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (!m_sim.isRunning())
            QVERIFY(m_sim.start());
        QVERIFY(connectLink());
        // Some reads first, so that the disconnect falls among them.
        const int asked = m_sim.requests();
        QTRY_VERIFY(m_sim.requests() >= asked + 3 + cycle % 3);
        meter.restartWindow();
        if (state == QLatin1String("silent")) {
            QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
            // A read is in flight: the module was asked and says nothing.
            const int silentFrom = m_sim.requests();
            QTRY_VERIFY(m_sim.requests() > silentFrom);
            meter.restartWindow();
            QVERIFY(showTab(!config));
        } else if (state == QLatin1String("hangup")) {
            // A hung-up line fails every read at once, and closing it takes a
            // moment: the poll thread is often between its isConnected() and
            // its read when the disconnect closes the link.
            m_sim.kill();
            QTRY_VERIFY(g_comAdapter.linkLost() || !g_comAdapter.isConnected());
            QTest::qWait(cycle * 7 % 50);
        } else {
            QTest::qWait(cycle % 7);
        }
        QVERIFY(disconnectLink());
        QVERIFY2(meter.longestMs() < stallBound(1), qPrintable(QString::number(meter.longestMs())));
        if (m_sim.isRunning())
            QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    }

    // Made again: live values.
    if (!m_sim.isRunning())
        QVERIFY(m_sim.start());
    QVERIFY(connectLink());
    QVERIFY(m_sim.set(shownRegister(), shownValue(kAfter)));
    QTRY_COMPARE(displayText(), shownText(kAfter));

    const QString readNotOpen = QStringLiteral("Read error: %1").arg(QR7215_E_NOT_OPEN);
    QStringList wrong;
    for (const QString& line : log.lines) {
        const bool notOpen = line.contains(QStringLiteral(":%1:").arg(QR7215_E_NOT_OPEN)) || line == readNotOpen
                             || line.startsWith(readNotOpen + QLatin1Char(' '));
        if (notOpen || (state == QLatin1String("answering") && isFailureLine(line)))
            wrong << line;
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    if (state == QLatin1String("answering"))
        QCOMPARE(log.countStartingWith(QStringLiteral("Close port ")), cycles);
}

QR_TEST_MAIN(tst_faultMatrix)
#include "tst_faultmatrix.moc"
