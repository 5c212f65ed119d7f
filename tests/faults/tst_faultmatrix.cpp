// The program against a misbehaving module: the real main window, adapter and
// device library against qr7215-sim, with the Status Monitor or the Config tab
// current. Each row makes the module (or the operator) misbehave one way, then
// mends it and checks what the operator got: no hang, a GUI thread never held
// up past the reads it makes itself, one clear line per failure text with its
// repeats counted, never an old value after a fresh one, and live values once
// the module is back and the link made again.
#include "comadapter.h"
#include "consoleprint.h"
#include "faultfixture.h"
#include "logcapture.h"
#include "logthrottle.h"
#include "mainwindow.h"
#include "sdk/qr7215registers.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <functional>

using namespace faultfixture;

namespace {

// Values of the shown register before a fault, during it, and after the link was made again.
enum { kBefore = 1, kDuring = 2, kAfter = 3 };
const QString kLost = QStringLiteral("Communication with the module lost.");

// Ticks every millisecond in the GUI thread: the longest gap between two
// ticks is how long the operator could not be served, and the display text
// sampled on each tick is every value the operator could have seen, in order.
class stallMeter : public QObject
{
public:
    explicit stallMeter(std::function<QString()> display = {})
        : m_display(std::move(display))
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
            const QString text = m_display ? m_display() : QString();
            if (m_shown.isEmpty() || m_shown.constLast() != text)
                m_shown << text;
        });
        m_clock.start();
        m_timer.start();
    }
    // A new measurement window; the samples are kept.
    void restartWindow()
    {
        m_longest = 0;
        m_last = m_clock.elapsed();
    }
    qint64 longestMs() const { return m_longest; }
    const QStringList& shown() const { return m_shown; }

private:
    std::function<QString()> m_display;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    QStringList m_shown;
};

// Once `fresh` was shown, `stale` must never be shown again.
inline bool staleAfterFresh(const QStringList& shown, const QString& stale, const QString& fresh)
{
    const int firstFresh = shown.indexOf(fresh);
    return firstFresh >= 0 && shown.indexOf(stale, firstFresh) >= 0;
}

// The adapter's "ERR:" lines, the poll thread's "Read error: " and the
// failed open with its explanation.
inline bool isFailureLine(const QString& line)
{
    return line.startsWith(QLatin1String("ERR:")) || line.startsWith(QLatin1String("Read error: "))
           || line.startsWith(QLatin1String("Open device error:")) || line.startsWith(QLatin1String("Port "));
}

// The counts of one failure text's summaries.
QList<int> summariesOf(const QStringList& lines, const QString& text)
{
    const QRegularExpression summary(QStringLiteral("^") + QRegularExpression::escape(text)
                                     + QStringLiteral(" \\(repeated (\\d+) times? in \\d+ s\\)$"));
    QList<int> counts;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = summary.match(line);
        if (m.hasMatch())
            counts << m.captured(1).toInt();
    }
    return counts;
}

// The failure lines that are neither one of texts nor the throttle's word on one.
inline QStringList unexpectedFailureLines(const QStringList& lines, const QStringList& texts)
{
    QStringList odd;
    for (const QString& line : lines) {
        bool known = !isFailureLine(line);
        for (const QString& text : texts)
            known = known || line == text || line.startsWith(text + QStringLiteral(" ("));
        if (!known)
            odd << line;
    }
    return odd;
}

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
    void faultAndRecovery_data();
    void faultAndRecovery();

private:
    // Input voltage on the status page (11111 mV...), the shutdown delay in the table (1111 s...).
    int shownRegister() const { return m_config ? 40005 : 40016; }
    int shownValue(int step) const { return step * (m_config ? 1111 : 11111); }
    QString shownText(int step) const
    {
        return QString::number(shownValue(step)) + QLatin1String(m_config ? "" : "mV");
    }
    QString displayText() const;
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    bool press(const char* name, bool connectedAfter);
    bool connectLink() { return press("m_pushButtonConnect", true) && showTab(); }
    bool disconnectLink() { return press("m_pushButtonDisconnect", false); }
    bool showTab();

    SimulatorProcess m_sim;
    lineSetup m_line;
    bool m_config = false;
    std::unique_ptr<mainWindow> m_window;
};

QString tst_faultMatrix::displayText() const
{
    if (!m_config)
        return m_window->findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"))->text();
    for (int i = 0; i < tabs()->count(); ++i) {
        if (auto* view = tabs()->widget(i)->findChild<QTableView*>(QStringLiteral("m_tableView")))
            return view->model()->index(shownRegister() - 40000, 2).data().toString();
    }
    return QString();
}

// Pressed from within the event loop, as an operator's click is, so that the
// stall meter sees how long a press holds the loop up. The page enables its
// buttons on its next refresh after a change.
bool tst_faultMatrix::press(const char* name, bool connectedAfter)
{
    auto* button = m_window->findChild<QPushButton*>(QLatin1String(name));
    if (!QTest::qWaitFor([button] { return button->isEnabled(); }, 2000))
        return false;
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    return QTest::qWaitFor([connectedAfter] { return g_comAdapter.isConnected() == connectedAfter; }, 10000);
}

bool tst_faultMatrix::showTab()
{
    tabs()->setCurrentIndex(0);
    if (!m_config)
        return true;
    // The main window drops the Config tab while the link is down; its action brings it back.
    auto* action = m_window->findChild<QAction*>(QStringLiteral("configAction"));
    if (!action->isChecked())
        action->trigger();
    for (int i = 0; i < tabs()->count(); ++i) {
        if (tabs()->tabText(i) == QLatin1String("Config"))
            tabs()->setCurrentIndex(i);
    }
    return tabs()->currentIndex() > 0;
}

void tst_faultMatrix::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_line.port = m_sim.linkPath();
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), m_line));
    QVERIFY(installExampleTable(QCoreApplication::applicationDirPath()));
    // Bursts end after this gap here, so that a row ends quickly.
    g_consolePrint.throttle().setTimes(800, logThrottle::kDefaultSummaryEveryMs);
}

void tst_faultMatrix::init()
{
    if (!m_sim.isRunning())
        QVERIFY(m_sim.start());
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    g_consolePrint.throttle().reset();
    m_window = std::make_unique<mainWindow>();
    m_window->show();
}

void tst_faultMatrix::cleanup()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
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
        // comes back on the same path.
        row(config, "simulator quits and comes back") << QStringLiteral("kill") << -11 << 1 << true;
        // However a disconnect falls against a read in progress, it is the
        // operator's own act: no failure line.
        row(config, "operator disconnects and connects 25 times") << QStringLiteral("cycles") << 0 << 0 << false;
    }
    // Connect pressed three times; the open runs off the GUI thread.
    row(false, "module silent at connect") << QStringLiteral("fault timeout at connect") << -8 << 0 << true;
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
    const bool atConnect = fault.endsWith(QLatin1String(" at connect"));
    QVERIFY(m_sim.set(shownRegister(), shownValue(kBefore)));
    if (!atConnect) {
        QVERIFY(connectLink());
        QTRY_COMPARE(displayText(), shownText(kBefore));
    }

    // The watch polls whichever tab is current; its own two lines come first,
    // as a lost link may be closed before the table's refresh meets the fault.
    const auto readTexts = [config](int c) {
        QStringList t{QStringLiteral("ERR:%1:When reading register start from %2").arg(c).arg(QR7215_STATUS_BLOCK_START),
                      QStringLiteral("Read error: %1").arg(c)};
        if (config)
            t << QStringLiteral("ERR:%1:When reading register start from 40000").arg(c);
        return t;
    };
    QStringList texts = atConnect ? QStringList{QStringLiteral("Open device error:%1").arg(code)}
                        : code    ? readTexts(code)
                                  : QStringList();
    const QStringList required = texts.mid(0, 2);
    // Two kinds of request share the line on the Config tab: an answer that
    // comes after its request timed out meets the other one and is refused
    // as the wrong answer, never taken for it.
    if (code && config && delay)
        texts << readTexts(QR7215_E_BAD_ANSWER);

    LogCapture log;
    stallMeter meter([this] { return displayText(); });
    const int requestsBefore = m_sim.requests();
    if (kill) {
        m_sim.kill();
    } else if (fault == QLatin1String("cycles")) {
        for (int cycle = 0; cycle < 25; ++cycle) {
            // Some reads first, so that the disconnect falls among them.
            const int asked = m_sim.requests();
            QTRY_VERIFY(m_sim.requests() >= asked + 3 + cycle % 3);
            QTest::qWait(cycle % 7);
            QVERIFY(disconnectLink());
            QVERIFY(connectLink());
        }
    } else {
        QCOMPARE(m_sim.command(fault.section(QStringLiteral(" at "), 0, 0)), QStringLiteral("ok"));
    }
    auto* connect = m_window->findChild<QPushButton*>(QStringLiteral("m_pushButtonConnect"));
    for (int press = 0; atConnect && press < 3; ++press) {
        QVERIFY(QTest::qWaitFor([connect] { return connect->isEnabled(); }, 2000));
        const int before = log.lines.size();
        QMetaObject::invokeMethod(connect, "click", Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return log.lines.size() > before; }, 10000));
        QVERIFY(!g_comAdapter.isConnected());
    }
    if (atConnect) {
        // Explained on a line of its own that names the port.
        texts << log.lines.value(1);
        QVERIFY2(texts.last().startsWith(QLatin1String("Port ")) && texts.last().contains(m_line.port),
                 qPrintable(texts.last()));
    }

    // A hang-up closes the link at the first request that meets it: on the
    // Config tab that may be the table's read rather than the watch's.
    const bool anyReader = kill && config;
    if (anyReader) {
        const QString failed = QStringLiteral("ERR:%1:When reading register start from").arg(code);
        QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(failed) >= 1, 10000);
    }
    // A late answer on the Config tab may be met by the table's read, so
    // that the watch's own read fails on the stray answer instead of timing
    // out: either failure is the watch's line.
    const QStringList stray = code && config && delay ? readTexts(QR7215_E_BAD_ANSWER).mid(0, 2) : QStringList();
    for (int i = 0; !anyReader && i < required.size(); ++i)
        QTRY_VERIFY_WITH_TIMEOUT(log.count(required.at(i)) + (stray.isEmpty() ? 0 : log.count(stray.at(i))) >= 1, 10000);
    if (lost == 1) {
        QTRY_COMPARE_WITH_TIMEOUT(log.count(kLost), 1, 10000);
        // Shown as lost, never as the live values of before.
        QTRY_COMPARE(m_window->findChild<QLabel*>(QStringLiteral("connectStateLabel"))->text(),
                     QStringLiteral("Link lost"));
        if (!config)
            QTRY_COMPARE(displayText(), QStringLiteral("0mV"));
    } else if (code && !atConnect) {
        // Enough failed reads that the throttle has something to count.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.requests() >= requestsBefore + 3 * int(m_line.retries + 1) + 6, 15000);
    }

    // Set while the fault lasts; answers computed before may still be on their way.
    if (kill)
        QVERIFY(m_sim.start());
    QVERIFY(m_sim.set(shownRegister(), shownValue(kDuring)));
    if (!code)
        QTRY_COMPARE(displayText(), shownText(kDuring));
    if (code && delay) {
        // Held-back answers leave in the order of their requests, so nothing
        // shown goes back in time while the delay lasts. Ended at once, an old
        // answer could land in the wait of a fresh request (the device
        // library's late-answer row); here they drain first.
        QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.command(QStringLiteral("pending")), QStringLiteral("0"), 5000);
    }
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));

    // Back with live values: a lost link is reopened by itself after the
    // back-off's first second, its Config tab opened again by the operator.
    if (atConnect)
        QVERIFY(connectLink());
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 20000);
    QTRY_VERIFY(showTab());
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

    meter.restartWindow();
    QVERIFY(disconnectLink());
    QVERIFY(connectLink());
    QVERIFY(m_sim.set(shownRegister(), shownValue(kAfter)));
    QTRY_COMPARE(displayText(), shownText(kAfter));
    const qint64 reconnectStall = meter.longestMs();
    // Every burst over and summarised.
    QTRY_COMPARE_WITH_TIMEOUT(g_consolePrint.throttle().tracked(), 0, 5000);
    QCoreApplication::processEvents();

    const QString shown = meter.shown().join(QLatin1Char(','));
    QVERIFY2(!staleAfterFresh(meter.shown(), shownText(kBefore), shownText(kDuring)), qPrintable(shown));
    QVERIFY2(!staleAfterFresh(meter.shown(), shownText(kDuring), shownText(kAfter)), qPrintable(shown));

    // One clear line per failure text, its repeats counted, nothing else
    // (reopening a lost link may first meet the module still away).
    QStringList odd = unexpectedFailureLines(log.lines, texts);
    if (wasLost)
        odd = odd.filter(QRegularExpression(QStringLiteral("^(?!Open device error:|Port )")));
    QCOMPARE(odd, QStringList());
    const int requests = m_sim.requests() - requestsBefore;
    for (const QString& text : texts) {
        const int first = log.count(text);
        const int repeating = log.count(logThrottle::repeatingLine(text));
        const QList<int> summaries = summariesOf(log.lines, text);
        if (wasLost || config) {
            // The failures end with the link, and on the Config tab the two
            // kinds of request wait for each other: bursts may end and start again.
            QVERIFY(repeating <= first);
        } else if (everyReadFails) {
            // One burst: the text, its "repeating" line and one summary.
            QCOMPARE(first, 1);
            QCOMPARE(repeating, 1);
            QCOMPARE(summaries.size(), 1);
        } else {
            // Late answers fail only the reads the library cannot tell from a
            // fresh one, spaced by its wait for a quiet line: lines of their own.
            QVERIFY(first >= 1);
        }
        // Every failed read put at least one request on the line.
        if (!kill && !summaries.isEmpty())
            QVERIFY2(2 + summaries.first() <= requests, qPrintable(QString::number(requests)));
    }
    if (fault == QLatin1String("cycles"))
        QCOMPARE(log.countStartingWith(QStringLiteral("Close port ")), 26);
    // The reads the GUI thread makes itself (each up to every attempt's
    // time-out), generous for a loaded machine.
    const qint64 bound = 3000 + qint64(m_line.retries + 1) * m_line.timeoutMs * 2;
    QVERIFY2(faultStall < bound, qPrintable(QString::number(faultStall)));
    QVERIFY2(reconnectStall < bound, qPrintable(QString::number(reconnectStall)));
}

QR_TEST_MAIN(tst_faultMatrix)
#include "tst_faultmatrix.moc"
