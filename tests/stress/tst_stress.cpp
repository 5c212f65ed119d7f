// The whole program under load in one process: the real main window, the
// device adapter and the real device library against the module simulator.
// For a bounded time it connects and disconnects, switches between the
// status and configuration pages, writes registers through the table model
// and fails and restores the module's power, so the poll thread, the script
// runner and the GUI thread all use the adapter at once. At the end the
// display must agree with the adapter and every write must have reached the
// module. QR7215_STRESS_SECONDS sets the length (10 s by default; the
// sanitizer script runs 60 s), QR7215_STRESS_SEED repeats a run.
#include "comadapter.h"
#include "comsettings.h"
#include "comsettingsfile.h"
#include "configwidget.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTableView>

#include <iterator>

#include <memory>

namespace {

constexpr int kDefaultSeconds = 10;
// Generous: a sanitizer build runs several times slower.
constexpr int kSettleMs = 30000;

struct writableRegister
{
    int reg;
    int low;
    int high;
};

// Registers whose value changes nothing about the link itself (slave
// address, baud rate and parity are left alone).
const writableRegister kWritable[] = {
    {40003, 0, 9},      // policy mode setting
    {40004, 0, 100},    // low battery level
    {40005, 0, 3600},   // shutdown delay
    {40006, 0, 3600},   // restart delay
    {40008, 100, 5000}, // charge current limit
    {40009, 0, 1},      // buzzer
    {40010, 0, 1},      // remote enable
};

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QString appPath(const QString& relative)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + relative;
}

int lineCount(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
}

} // namespace

class tst_stress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void windowUnderLoad();

private:
    enum action { Connect, Disconnect, ShowConfig, ShowStatus, Write, PowerFail, PowerRestore, ActionCount };

    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    QString labelText(const char* name) const { return child<QLabel>(name)->text(); }

    action pick();
    void perform(action what);
    bool connectNow();
    void showConfig();
    // True once the write asked for last has reached the module.
    bool writeLanded();
    // False when the last write is still on its way.
    bool requestWrite();

    SimulatorProcess m_sim;
    LogCapture m_log;
    QRandomGenerator m_random;
    std::unique_ptr<mainWindow> m_window;
    configWidget* m_configPage = nullptr;
    upsDataModel* m_model = nullptr;
    QString m_mark;

    bool m_writePending = false;
    writableRegister m_pendingRegister{};
    int m_pendingValue = 0;
    QMap<int, int> m_written;
    int m_counts[ActionCount] = {};
    int m_writesLanded = 0;
    int m_writesFailed = 0;
    // Log lines before this index came before the pending write was asked for.
    int m_logMark = 0;
};

void tst_stress::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));

    // The register table and the connection settings sit beside the executable.
    QVERIFY(QDir().mkpath(appPath(QStringLiteral("iconfigs"))));
    QFile::remove(appPath(QStringLiteral("iconfigs/config_registers.xml")));
    QVERIFY(QFile::copy(QStringLiteral(QR7215_SOURCE_DIR "/resources/iconfigs/config_registers.xml"),
                        appPath(QStringLiteral("iconfigs/config_registers.xml"))));
    QVERIFY(QDir().mkpath(appPath(QStringLiteral("configs"))));
    comSettings settings;
    settings.comPort = m_sim.linkPath();
    settings.pollDelay = 10;
    settings.responseTimeout = 300;
    settings.numOfRetries = 1;
    QVERIFY(comSettingsFile::write(appPath(QStringLiteral("configs/config_com.xml")), settings));

    // A power failure seen by the status page runs this script once.
    const QString dir = testsupport::tempRoot() + QStringLiteral("/stress script");
    QVERIFY(QDir().mkpath(dir));
    m_mark = dir + QStringLiteral("/mark");
    QFile script(dir + QStringLiteral("/on battery.sh"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho ran >> \"$(dirname \"$0\")/mark\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    settingsStore::setBatPath(script.fileName());
    settingsStore::setBatExecutePolicy(1);

    const int randomSeed = int(QRandomGenerator::global()->bounded(1 << 30));
    const quint32 seed = static_cast<quint32>(envInt("QR7215_STRESS_SEED", randomSeed));
    qInfo("stress seed %u (QR7215_STRESS_SEED repeats the run)", seed);
    m_random.seed(seed);
}

void tst_stress::cleanup()
{
    // What the program logged last tells why a run went wrong.
    if (QTest::currentTestFailed()) {
        for (const QString& line : m_log.lines.mid(qMax(0, m_log.lines.size() - 30)))
            qInfo("log: %s", qPrintable(line));
    }
}

void tst_stress::cleanupTestCase()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    m_sim.stop();
}

tst_stress::action tst_stress::pick()
{
    // Weights: mostly page switches and writes, a disconnect now and then.
    static const int weights[ActionCount] = {15, 6, 15, 15, 25, 6, 6};
    int total = 0;
    for (int w : weights)
        total += w;
    int r = m_random.bounded(total);
    for (int i = 0; i < ActionCount; ++i) {
        if (r < weights[i])
            return static_cast<action>(i);
        r -= weights[i];
    }
    return Write;
}

bool tst_stress::connectNow()
{
    if (g_comAdapter.isConnected())
        return true;
    // The action follows the adapter on the window's next refresh tick.
    if (!QTest::qWaitFor([this] { return child<QAction>("connectAction")->isEnabled(); }, kSettleMs))
        return false;
    child<QAction>("connectAction")->trigger();
    // The open runs on a worker.
    return QTest::qWaitFor([] { return g_comAdapter.isConnected(); }, kSettleMs);
}

void tst_stress::showConfig()
{
    auto* configAction = child<QAction>("configAction");
    if (!configAction->isChecked())
        configAction->trigger();
    const int index = tabs()->indexOf(m_configPage);
    if (index >= 0)
        tabs()->setCurrentIndex(index);
}

bool tst_stress::writeLanded()
{
    if (!m_writePending)
        return true;
    if (m_sim.get(m_pendingRegister.reg) == m_pendingValue) {
        m_writePending = false;
        m_written[m_pendingRegister.reg] = m_pendingValue;
        ++m_writesLanded;
        return true;
    }
    // A disconnect can close the link under a write already on its way, or
    // before it went out; the write then fails or is dropped and says so,
    // and is not sent again. Any other end of a write is a fault: the test
    // stalls and fails at the end.
    const QString failure = QStringLiteral(":When Setting register %1 to value %2")
                                .arg(m_pendingRegister.reg)
                                .arg(m_pendingValue);
    const QString dropped = QStringLiteral("Write of register %1 discarded").arg(m_pendingRegister.reg);
    for (int i = m_logMark; i < m_log.lines.size(); ++i) {
        const QString& line = m_log.lines.at(i);
        if ((line.startsWith(QLatin1String("ERR:")) && line.contains(failure)) || line.startsWith(dropped)) {
            m_writePending = false;
            ++m_writesFailed;
            return true;
        }
    }
    return false;
}

bool tst_stress::requestWrite()
{
    // The model keeps one pending write; a second would replace the first
    // before it went out, so the next waits until the last has landed.
    if (!writeLanded())
        return false;
    const writableRegister& target = kWritable[m_random.bounded(int(std::size(kWritable)))];
    int value = m_random.bounded(target.low, target.high + 1);
    if (value == m_sim.get(target.reg))
        value = value == target.low ? target.high : target.low;
    m_pendingRegister = target;
    m_pendingValue = value;
    m_writePending = true;
    m_logMark = m_log.lines.size();
    m_model->slotOnModifyRegister(target.reg, static_cast<qint16>(value), true);
    return true;
}

// Counts what was done: a disabled action or a write still waiting does nothing.
void tst_stress::perform(action what)
{
    bool done = true;
    switch (what) {
    case Connect:
    case Disconnect: {
        auto* trigger = child<QAction>(what == Connect ? "connectAction" : "disconnectAction");
        done = trigger->isEnabled();
        if (done)
            trigger->trigger();
        break;
    }
    case ShowConfig:
        showConfig();
        break;
    case ShowStatus:
        tabs()->setCurrentIndex(0);
        break;
    case Write:
        done = requestWrite();
        break;
    case PowerFail:
        QCOMPARE(m_sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
        break;
    case PowerRestore:
        QCOMPARE(m_sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
        break;
    case ActionCount:
        break;
    }
    if (done)
        ++m_counts[what];
}

void tst_stress::windowUnderLoad()
{
    m_window = std::make_unique<mainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* page = qobject_cast<configWidget*>(widget))
            m_configPage = page;
    }
    QVERIFY(m_configPage);
    auto* view = m_configPage->findChild<QTableView*>(QStringLiteral("m_tableView"));
    QVERIFY(view);
    m_model = qobject_cast<upsDataModel*>(view->model());
    QVERIFY(m_model);
    QVERIFY(m_model->rowCount() >= 11);

    QVERIFY(connectNow());

    const int seconds = envInt("QR7215_STRESS_SECONDS", kDefaultSeconds);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL) {
        perform(pick());
        if (QTest::currentTestFailed())
            return;
        // Lets the timers, the queued blocks and the poll thread run.
        QTest::qWait(m_random.bounded(0, 40));
    }

    // Settle: power back, connected, the configuration page sends what waits.
    QCOMPARE(m_sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
    QVERIFY(connectNow());
    showConfig();
    QTRY_VERIFY_WITH_TIMEOUT(writeLanded(), kSettleMs);
    // One write more through the whole road, with nothing to disturb it: it
    // must land, and the table must show it.
    QVERIFY(requestWrite());
    ++m_counts[Write];
    const int failedBefore = m_writesFailed;
    QTRY_VERIFY_WITH_TIMEOUT(writeLanded(), kSettleMs);
    QCOMPARE(m_writesFailed, failedBefore);
    int row = -1;
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->data(m_model->index(i, 0)).toInt() == m_pendingRegister.reg)
            row = i;
    }
    QVERIFY(row >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_model->data(m_model->index(row, 2)).toString(), QString::number(m_pendingValue),
                              kSettleMs);
    for (auto it = m_written.cbegin(); it != m_written.cend(); ++it)
        QCOMPARE(m_sim.get(it.key()), it.value());

    // The status page follows the module, and a power failure runs the script.
    tabs()->setCurrentIndex(0);
    QTRY_COMPARE_WITH_TIMEOUT(labelText("m_lblPowerSupplyValue"), QStringLiteral("DC"), kSettleMs);
    const int scriptRuns = lineCount(m_mark);
    QCOMPARE(m_sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(labelText("m_lblPowerSupplyValue"), QStringLiteral("UPS"), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(lineCount(m_mark) > scriptRuns, kSettleMs);
    QCOMPARE(m_sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(labelText("m_lblPowerSupplyValue"), QStringLiteral("DC"), kSettleMs);

    // The adapter's flag and what the window shows agree, connected...
    QVERIFY(g_comAdapter.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(labelText("connectStateLabel"), QStringLiteral("Connected"), kSettleMs);
    QTRY_VERIFY(!child<QAction>("connectAction")->isEnabled());
    QVERIFY(child<QAction>("disconnectAction")->isEnabled());

    // ...and disconnected.
    child<QAction>("disconnectAction")->trigger();
    QVERIFY(!g_comAdapter.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(labelText("connectStateLabel"), QStringLiteral("Disconnected"), kSettleMs);
    QTRY_VERIFY(child<QAction>("connectAction")->isEnabled());
    QVERIFY(!child<QAction>("disconnectAction")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(labelText("m_lblPowerSupplyValue"), QStringLiteral("NULL"), kSettleMs);
    QCOMPARE(tabs()->count(), 1);

    qInfo("%d s: connect %d, disconnect %d, config %d, status %d, write %d (%d landed, %d cut off by a "
          "disconnect), power fail %d, restore %d",
          seconds, m_counts[Connect], m_counts[Disconnect], m_counts[ShowConfig], m_counts[ShowStatus],
          m_counts[Write], m_writesLanded, m_writesFailed, m_counts[PowerFail], m_counts[PowerRestore]);
    QVERIFY(m_writesLanded >= 1);
}

QR_TEST_MAIN(tst_stress)
#include "tst_stress.moc"
