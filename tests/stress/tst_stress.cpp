// The soak: the real main window, adapter and device library against the
// module simulator while, at random, the link is made and broken, the pages
// switched, registers written through the table model and the module's power
// failed and restored, so that the poll thread, the script runner and the GUI
// thread use the adapter at once (the sanitizer builds watch them). Afterwards
// every write has reached the module or said why not, the display agrees with
// the adapter, and a power failure still runs the script.
// QR7215_STRESS_SECONDS sets the length (10 s; tools/sanitize.sh runs 60 s),
// QR7215_STRESS_SEED repeats a run.
#include "comadapter.h"
#include "configwidget.h"
#include "faultfixture.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMap>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTableView>

#include <iterator>

namespace {

// Generous: a sanitizer build runs several times slower.
constexpr int kSettleMs = 30000;

// Registers whose value changes nothing about the link: {register, lowest, highest}.
const int kWritable[][3] = {{40003, 0, 9}, {40004, 0, 100}, {40005, 0, 3600}, {40006, 0, 3600},
                            {40008, 100, 5000}, {40009, 0, 1}, {40010, 0, 1}};

} // namespace

class tst_stress : public QObject
{
    Q_OBJECT

private slots:
    void windowUnderLoad();
    void cleanup();

private:
    QString label(const char* name) const { return m_window->findChild<QLabel*>(QLatin1String(name))->text(); }
    QAction* action(const char* name) const { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    bool connectNow();
    void showConfig();
    bool writeEnded();
    bool requestWrite();

    SimulatorProcess m_sim;
    LogCapture m_log;
    QRandomGenerator m_random;
    std::unique_ptr<mainWindow> m_window;
    configWidget* m_config = nullptr;
    upsDataModel* m_model = nullptr;
    // The write asked for last (register 0: none on its way), and where the log stood then.
    int m_reg = 0;
    int m_value = 0;
    int m_logMark = 0;
    QMap<int, int> m_landed;
};

bool tst_stress::connectNow()
{
    // The action follows the adapter on the window's next refresh; the open runs on a worker.
    if (!g_comAdapter.isConnected()) {
        if (!QTest::qWaitFor([this] { return action("connectAction")->isEnabled(); }, kSettleMs))
            return false;
        action("connectAction")->trigger();
    }
    return QTest::qWaitFor([] { return g_comAdapter.isConnected(); }, kSettleMs);
}

void tst_stress::showConfig()
{
    if (!action("configAction")->isChecked())
        action("configAction")->trigger();
    if (tabs()->indexOf(m_config) >= 0)
        tabs()->setCurrentWidget(m_config);
}

// True once the last write reached the module, or a disconnect cut it off and
// the log says so (it is not sent again). Any other end stalls the test.
bool tst_stress::writeEnded()
{
    if (!m_reg)
        return true;
    const QString failed = QStringLiteral(":When Setting register %1 to value %2").arg(m_reg).arg(m_value);
    const QString dropped = QStringLiteral("Write of register %1 discarded").arg(m_reg);
    bool said = false;
    for (const QString& line : m_log.lines.mid(m_logMark))
        said = said || (line.startsWith(QLatin1String("ERR:")) && line.contains(failed)) || line.startsWith(dropped);
    if (m_sim.get(m_reg) == m_value)
        m_landed[m_reg] = m_value;
    else if (!said)
        return false;
    m_reg = 0;
    return true;
}

// The model keeps one pending write, so the next waits until the last ended.
bool tst_stress::requestWrite()
{
    if (!writeEnded())
        return false;
    const int* target = kWritable[m_random.bounded(int(std::size(kWritable)))];
    m_reg = target[0];
    m_value = m_random.bounded(target[1], target[2] + 1);
    if (m_value == m_sim.get(m_reg))
        m_value = m_value == target[1] ? target[2] : target[1];
    m_logMark = m_log.lines.size();
    m_model->slotOnModifyRegister(m_reg, static_cast<qint16>(m_value), true);
    return true;
}

void tst_stress::windowUnderLoad()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    faultfixture::lineSetup line;
    line.port = m_sim.linkPath();
    line.timeoutMs = 300;
    line.pollMs = 10;
    QVERIFY(faultfixture::writeComConfig(QCoreApplication::applicationDirPath(), line));
    QVERIFY(faultfixture::installExampleTable(QCoreApplication::applicationDirPath()));
    const QString dir = testsupport::tempRoot() + QStringLiteral("/stress script/");
    const QString mark = dir + QStringLiteral("mark");
    settingsStore::setBatPath(scripthelper::writeScript(dir + QStringLiteral("on battery.sh"),
                                                        "#!/bin/sh\n" + scripthelper::appendLine(mark)));
    settingsStore::setBatExecutePolicy(1);
    bool seeded = false;
    const int given = qEnvironmentVariableIntValue("QR7215_STRESS_SEED", &seeded);
    const quint32 seed = seeded ? quint32(given) : QRandomGenerator::global()->bounded(1u << 30);
    qInfo("stress seed %u (QR7215_STRESS_SEED repeats the run)", seed);
    m_random.seed(seed);

    m_window = std::make_unique<mainWindow>();
    m_window->show();
    // Not the window's child while its tab is closed.
    for (QWidget* widget : QApplication::allWidgets())
        m_config = m_config ? m_config : qobject_cast<configWidget*>(widget);
    QVERIFY(m_config);
    m_model = qobject_cast<upsDataModel*>(m_config->findChild<QTableView*>(QStringLiteral("m_tableView"))->model());
    QVERIFY(m_model && m_model->rowCount() >= 11);
    QVERIFY(connectNow());

    // Mostly page switches and writes, a disconnect now and then.
    const int seconds = qEnvironmentVariableIsSet("QR7215_STRESS_SECONDS")
                            ? qEnvironmentVariableIntValue("QR7215_STRESS_SECONDS") : 10;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL) {
        const int r = m_random.bounded(88);
        if (r < 15)
            action("connectAction")->trigger();
        else if (r < 21)
            action("disconnectAction")->trigger();
        else if (r < 36)
            showConfig();
        else if (r < 51)
            tabs()->setCurrentIndex(0);
        else if (r < 76)
            requestWrite();
        else
            QCOMPARE(m_sim.command(r < 82 ? QStringLiteral("power fail") : QStringLiteral("power restore")),
                     QStringLiteral("ok"));
        // Lets the timers, the queued blocks and the poll thread run.
        QTest::qWait(m_random.bounded(0, 40));
    }

    // Settled: power back, connected, the configuration page sends what waits;
    // one more write with nothing to disturb it lands and the table shows it.
    QCOMPARE(m_sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
    QVERIFY(connectNow());
    showConfig();
    QTRY_VERIFY_WITH_TIMEOUT(writeEnded(), kSettleMs);
    QVERIFY(requestWrite());
    const int reg = m_reg;
    const int value = m_value;
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.get(reg), value, kSettleMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_model->data(m_model->index(reg - 40000, 2)).toString(), QString::number(value),
                              kSettleMs);
    QVERIFY(writeEnded());
    for (auto it = m_landed.cbegin(); it != m_landed.cend(); ++it)
        QCOMPARE(m_sim.get(it.key()), it.value());

    // The status page follows the module, and a power failure runs the script.
    tabs()->setCurrentIndex(0);
    QTRY_COMPARE_WITH_TIMEOUT(label("m_lblPowerSupplyValue"), QStringLiteral("DC"), kSettleMs);
    const int scriptRuns = scripthelper::lineCount(mark);
    QCOMPARE(m_sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(label("m_lblPowerSupplyValue"), QStringLiteral("UPS"), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(scripthelper::lineCount(mark) > scriptRuns, kSettleMs);

    // What the window shows agrees with the adapter, connected and disconnected.
    QTRY_COMPARE_WITH_TIMEOUT(label("connectStateLabel"), QStringLiteral("Connected"), kSettleMs);
    action("disconnectAction")->trigger();
    QVERIFY(!g_comAdapter.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(label("connectStateLabel"), QStringLiteral("Disconnected"), kSettleMs);
    QTRY_COMPARE_WITH_TIMEOUT(label("m_lblPowerSupplyValue"), QStringLiteral("NULL"), kSettleMs);
    QCOMPARE(tabs()->count(), 1);
}

void tst_stress::cleanup()
{
    // What the program logged last tells why a run went wrong.
    if (QTest::currentTestFailed()) {
        for (const QString& line : m_log.lines.mid(qMax(0, m_log.lines.size() - 30)))
            qInfo("log: %s", qPrintable(line));
    }
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    m_sim.stop();
}

QR_TEST_MAIN(tst_stress)
#include "tst_stress.moc"
