#include "faultmatrix.h"

#include "comadapter.h"
#include "consoleprint.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "testenv.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include <algorithm>

using namespace faultfixture;

namespace {

// Distinct values of the shown register: before the fault, set during it,
// and after the link was made again.
const int kBefore = 1;
const int kDuring = 2;
const int kAfter = 3;

// Bursts end after this gap in these tests, so that a row ends quickly.
const qint64 kQuietGapMs = 800;

QString rowLine(const QStringList& parts)
{
    return parts.join(QLatin1Char('|'));
}

} // namespace

faultMatrix::faultMatrix(page shown)
    : m_page(shown)
{
}

faultMatrix::~faultMatrix() = default;

QString faultMatrix::pageName() const
{
    return m_page == page::statusMonitor ? QStringLiteral("Status Monitor") : QStringLiteral("Config");
}

int faultMatrix::shownRegister() const
{
    // Input voltage on the status page; the shutdown delay row of the table.
    return m_page == page::statusMonitor ? 40016 : 40005;
}

int faultMatrix::shownValue(int step) const
{
    // 11111 mV, 22222 mV...; 1111 s, 2222 s... in the table.
    return m_page == page::statusMonitor ? step * 11111 : step * 1111;
}

QString faultMatrix::shownText(int step) const
{
    const QString n = QString::number(shownValue(step));
    return m_page == page::statusMonitor ? n + QStringLiteral("mV") : n;
}

QString faultMatrix::displayText() const
{
    if (!m_window)
        return QString();
    if (m_page == page::statusMonitor) {
        auto* label = m_window->findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"));
        return label ? label->text() : QString();
    }
    for (int i = 0; i < tabs()->count(); ++i) {
        if (tabs()->tabText(i) != QLatin1String("Config"))
            continue;
        auto* view = tabs()->widget(i)->findChild<QTableView*>(QStringLiteral("m_tableView"));
        if (view && view->model())
            return view->model()->index(shownRegister() - 40000, 2).data().toString();
    }
    return QString();
}

QStringList faultMatrix::failureTexts(int code) const
{
    // The watch polls whichever page is current.
    QStringList texts{QStringLiteral("ERR:%1:When reading register start from 40016").arg(code),
                      QStringLiteral("Read error: %1").arg(code)};
    if (m_page == page::config)
        texts << QStringLiteral("ERR:%1:When reading register start from 40000").arg(code);
    return texts;
}

QTabWidget* faultMatrix::tabs() const
{
    return qobject_cast<QTabWidget*>(m_window->centralWidget());
}

// Buttons are pressed from within the event loop, as an operator's click is,
// so that the stall meter sees how long a press holds the loop up.
bool faultMatrix::press(const char* name, bool connectedAfter)
{
    // The page enables its buttons on its next refresh after a change.
    auto* button = m_window->findChild<QPushButton*>(QLatin1String(name));
    if (!button || !QTest::qWaitFor([button] { return button->isEnabled(); }, 2000))
        return false;
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    return QTest::qWaitFor([connectedAfter] { return g_comAdapter.isConnected() == connectedAfter; }, 10000);
}

bool faultMatrix::connectLink()
{
    return press("m_pushButtonConnect", true) && showPage();
}

bool faultMatrix::disconnectLink()
{
    return press("m_pushButtonDisconnect", false);
}

bool faultMatrix::showPage()
{
    if (m_page == page::statusMonitor) {
        tabs()->setCurrentIndex(0);
        return true;
    }
    auto* action = m_window->findChild<QAction*>(QStringLiteral("configAction"));
    // The main window drops the tab while the link is down; it comes back by its action.
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

void faultMatrix::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_line.port = m_sim.linkPath();
    const QString appDir = QCoreApplication::applicationDirPath();
    QVERIFY(writeComConfig(appDir, m_line));
    QVERIFY(installExampleTable(appDir));
    g_consolePrint.throttle().setTimes(kQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

void faultMatrix::init()
{
    if (!m_sim.isRunning())
        QVERIFY(m_sim.start());
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(shownRegister(), shownValue(kBefore)));
    m_window = std::make_unique<mainWindow>();
    m_window->show();
    QVERIFY(connectLink());
    QTRY_COMPARE(displayText(), shownText(kBefore));
}

void faultMatrix::cleanup()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    g_consolePrint.throttle().reset();
}

void faultMatrix::cleanupTestCase()
{
    m_sim.stop();
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

void faultMatrix::faultAndRecovery_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    // 1: the link counts as lost, says so and is reopened by itself; 0: it
    // never counts as lost; -1: either, depending on how the failures fall.
    QTest::addColumn<int>("lost");
    QTest::addColumn<bool>("everyReadFails");

    QTest::newRow("module stops answering") << QStringLiteral("fault timeout") << -8 << 1 << true;
    // After a time-out the library waits for a quiet line before the next
    // request, so late answers are dropped and some reads fail; a retry takes
    // the late answer to its own, identical request.
    QTest::newRow("answers later than the time-out") << QStringLiteral("fault delay 1000") << -8 << -1 << false;
    QTest::newRow("answers late within the time-out") << QStringLiteral("fault delay 120") << 0 << 0 << false;
    QTest::newRow("answers with bad CRCs") << QStringLiteral("fault crc") << -9 << 1 << true;
    // An exception is an answer: the module is there, the link is not lost.
    QTest::newRow("answers with exception 4") << QStringLiteral("fault exception 4") << -104 << 0 << true;
    // The line hangs up like an unplugged USB adapter, and the module comes
    // back on the same path: the link is reopened by itself.
    QTest::newRow("simulator quits and comes back") << QStringLiteral("kill") << -11 << 1 << true;
}

void faultMatrix::faultAndRecovery()
{
    QFETCH(QString, fault);
    QFETCH(int, code);
    QFETCH(int, lost);
    QFETCH(bool, everyReadFails);
    const bool kill = fault == QLatin1String("kill");
    QStringList texts = code ? failureTexts(code) : QStringList();
    // The watch's own lines come first; a lost link may be closed before the
    // table's refresh meets the fault.
    const QStringList required = texts.mid(0, 2);
    // Two kinds of request share the line on the Config tab: an answer that
    // comes after its request timed out meets the other one, and is refused
    // as the wrong answer (never taken for it).
    if (m_page == page::config && fault.startsWith(QLatin1String("fault delay")))
        texts << failureTexts(QR7215_E_BAD_ANSWER);

    g_consolePrint.throttle().reset();
    LogCapture log;
    stallMeter meter([this] { return displayText(); });
    meter.start();
    const int requestsBefore = m_sim.requests();

    if (kill) {
        m_sim.kill();
    } else {
        QCOMPARE(m_sim.command(fault), QStringLiteral("ok"));
    }

    if (code) {
        for (const QString& text : required)
            QTRY_VERIFY_WITH_TIMEOUT(log.count(text) >= 1, 10000);
        // Enough failed operations that the throttle has something to count;
        // a lost link makes none once it is closed.
        if (lost == 1) {
            QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("Communication with the module lost.")), 1, 10000);
            // Shown as lost, never as live values of before.
            auto* state = m_window->findChild<QLabel*>(QStringLiteral("connectStateLabel"));
            QTRY_COMPARE(state->text(), QStringLiteral("Link lost"));
            if (m_page == page::statusMonitor)
                QTRY_COMPARE(displayText(), QStringLiteral("0mV"));
        } else {
            const int wanted = requestsBefore + 3 * int(m_line.retries + 1) + 6;
            QTRY_VERIFY_WITH_TIMEOUT(m_sim.requests() >= wanted, 15000);
        }
    }

    if (!kill) {
        // A value set while the fault lasts; answers computed before it may
        // still be on their way when the fault ends.
        QVERIFY(m_sim.set(shownRegister(), shownValue(kDuring)));
        if (!code)
            QTRY_COMPARE(displayText(), shownText(kDuring));
        if (code && fault.startsWith(QLatin1String("fault delay"))) {
            // Answers held back leave in the order of their requests, so while
            // the delay lasts nothing shown goes back in time. Ended at once,
            // an old answer could land inside the wait of a fresh request and
            // be taken for its answer: that fault of the device library has a
            // test of its own (tst_lateanswer). Here the late answers drain first.
            QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
            QTRY_COMPARE_WITH_TIMEOUT(m_sim.command(QStringLiteral("pending")), QStringLiteral("0"), 5000);
        }
        QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    } else {
        QVERIFY(m_sim.start());
        QVERIFY(m_sim.set(shownRegister(), shownValue(kDuring)));
    }

    // Back by itself, with live values: a lost link is reopened (after the
    // back-off's first second) and its Config tab opened again by the operator.
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 20000);
    if (m_page == page::config)
        QTRY_VERIFY(showPage());
    QTRY_COMPARE_WITH_TIMEOUT(displayText(), shownText(kDuring), 10000);
    // Late answers of the fault leave within its delay: watch that long.
    QTest::qWait(1200);
    QCOMPARE(displayText(), shownText(kDuring));
    const bool wasLost = log.count(QStringLiteral("Communication with the module lost.")) == 1;
    if (lost != -1)
        QCOMPARE(wasLost, lost == 1);
    QCOMPARE(log.count(QStringLiteral("Communication with the module restored.")), wasLost ? 1 : 0);
    if (wasLost) {
        // The watch goes on over the reopened link, reporting only changes,
        // also while the Config tab is current and the status page's display
        // is switched off.
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
    meter.stop();

    QStringList failureLines;
    for (const QString& line : log.lines) {
        if (isFailureLine(line))
            failureLines << line;
    }
    qInfo().noquote() << rowLine({QStringLiteral("ROW"), pageName(), QString::fromLatin1(QTest::currentDataTag()),
                                  QStringLiteral("fault stall %1 ms").arg(faultStall),
                                  QStringLiteral("reconnect stall %1 ms").arg(reconnectStall),
                                  QStringLiteral("requests %1").arg(kill ? -1
                                      : m_sim.requests() - requestsBefore),
                                  QStringLiteral("shown ") + meter.shown().join(QLatin1Char(','))})
                     + QStringLiteral("\n    ") + failureLines.join(QStringLiteral("\n    "));

    // No value of before the fault once the value set during it was shown.
    QVERIFY2(!staleAfterFresh(meter.shown(), shownText(kBefore), shownText(kDuring)),
             qPrintable(meter.shown().join(QLatin1Char(','))));
    QVERIFY2(!staleAfterFresh(meter.shown(), shownText(kDuring), shownText(kAfter)),
             qPrintable(meter.shown().join(QLatin1Char(','))));

    // One clear line per failure text, its repeats counted, nothing else
    // (reopening a lost link may first meet the module still away).
    QStringList odd = unexpectedFailureLines(log.lines, texts);
    if (wasLost) {
        odd.erase(std::remove_if(odd.begin(), odd.end(), [](const QString& line) {
            return line.startsWith(QLatin1String("Open device error:")) || line.startsWith(QLatin1String("Port "));
        }), odd.end());
    }
    QCOMPARE(odd, QStringList());
    for (const QString& text : texts) {
        const textReport r = reportOf(log.lines, text);
        if (wasLost || m_page == page::config) {
            // The failures end with the link, and on the Config tab the two
            // kinds of request wait for each other: bursts may end and start
            // again. Each line is the text itself or what the throttle says
            // of it (checked above).
            QVERIFY(r.repeating <= r.first);
        } else if (everyReadFails) {
            // One burst: the first line, the "repeating" line and, once it
            // ended, one summary with enough repeats to count.
            QCOMPARE(r.first, 1);
            QCOMPARE(r.repeating, 1);
            QCOMPARE(r.summaries.size(), 1);
        } else {
            // A module that answers late fails only the reads whose answers
            // the library cannot tell from a fresh one, spaced by its wait for
            // a quiet line; each such failure is a line of its own.
            QVERIFY(r.first >= 1);
        }
        if (!kill && !r.summaries.isEmpty()) {
            // Every failed read put at least one request on the line.
            const int requests = m_sim.requests() - requestsBefore;
            QVERIFY2(2 + r.summaries.first() <= requests, qPrintable(QString::number(requests)));
        }
    }
    if (!code)
        QCOMPARE(failureLines, QStringList());

    // The event loop waited at most for the reads the GUI thread makes itself
    // (each up to every attempt's time-out); generous for a loaded machine.
    const qint64 bound = 3000 + qint64(m_line.retries + 1) * m_line.timeoutMs * 2;
    QVERIFY2(faultStall < bound, qPrintable(QString::number(faultStall)));
    QVERIFY2(reconnectStall < bound, qPrintable(QString::number(reconnectStall)));
}
