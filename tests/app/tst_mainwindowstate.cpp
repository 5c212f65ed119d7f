// The main window driven through its refresh ticks: connection state, the
// Config and Firmware Update tabs, which page is active, Auto Hide, version
// labels, and quitting while the pages work.
#include "configwidget.h"
#include "consoleprint.h"
#include "firmwareupdatewidget.h"
#include "mainwindowfixture.h"

#include <QCheckBox>
#include <QStackedWidget>
#include <QToolBar>

class tst_mainWindowState : public mainWindowFixture
{
    Q_OBJECT

private slots:
    void firstTickShowsDisconnected();
    void connectedAndDisconnectedStates();
    void connectAndDisconnectActionsReachTheConnectionPage();
    void configOpenedWhileDisconnectedGoesAgain();
    void pageTab_data();
    void pageTab();
    void removalDeactivatesBeforeTheTabGoes();
    void tabChangeActivatesOnlyTheCurrentPage();
    void removingAnEarlierTabReactivatesTheCurrentPage();
    void autoHideHidesOnce();
    void autoHideNeedsATray();
    void versionLabels_data();
    void versionLabels();
    void quitWhilePollingWithConfigOpenEndsCleanly();
};

void tst_mainWindowState::firstTickShowsDisconnected()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(stateLabel()->text(), QStringLiteral("Disconnect"));
    QCOMPARE(child<QLabel>("dateTimeLabel")->text(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));

    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
    QCOMPARE(stateLabel()->styleSheet(), QStringLiteral("background-color: "));
    // The status bar's bold font survives the label's style sheet, which
    // every tick sets again.
    QVERIFY(waitTicks(3));
    QVERIFY(stateLabel()->font().bold());
    const QDateTime shown = QDateTime::fromString(child<QLabel>("dateTimeLabel")->text(),
                                                  QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(shown.isValid());
    QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) <= 2);
}

void tst_mainWindowState::connectedAndDisconnectedStates()
{
    auto* connectBar = child<QToolBar>("connectToolBar");
    auto* disconnectBar = child<QToolBar>("disconnectToolBar");
    auto* connectAction = child<QAction>("connectAction");
    auto* disconnectAction = child<QAction>("disconnectAction");

    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
    QVERIFY(connectBar->isEnabled() && connectAction->isEnabled());
    QVERIFY(!disconnectBar->isEnabled() && !disconnectAction->isEnabled());
    // Config and Firmware Update stay available while disconnected.
    QVERIFY(child<QAction>("configAction")->isEnabled());
    QVERIFY(child<QAction>("firmwareUpdateAction")->isEnabled());

    QVERIFY(connectDevice());
    QCOMPARE(stateLabel()->styleSheet(), QStringLiteral("background-color:green"));
    QVERIFY(!connectBar->isEnabled() && !connectAction->isEnabled());
    QVERIFY(disconnectBar->isEnabled() && disconnectAction->isEnabled());

    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
    QCOMPARE(stateLabel()->styleSheet(), QStringLiteral("background-color: "));
    QVERIFY(connectBar->isEnabled() && connectAction->isEnabled());
    QVERIFY(!disconnectBar->isEnabled() && !disconnectAction->isEnabled());
}

void tst_mainWindowState::connectAndDisconnectActionsReachTheConnectionPage()
{
    QVERIFY(connectDevice());
    QCOMPARE(fakesdk::countCalls("open"), 1);
    child<QAction>("disconnectAction")->trigger();
    QCOMPARE(fakesdk::countCalls("close"), 1);
    QVERIFY(!g_comAdapter.isConnected());
}

void tst_mainWindowState::configOpenedWhileDisconnectedGoesAgain()
{
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
    auto* config = child<QAction>("configAction");
    config->trigger();
    QVERIFY(config->isChecked());
    QCOMPARE(tabs()->count(), 2);
    QCOMPARE(tabs()->tabText(1), QStringLiteral("Config"));
    QCOMPARE(tabs()->currentIndex(), 0);

    QTRY_COMPARE(tabs()->count(), 1);
    QVERIFY(!config->isChecked());
    QCOMPARE(tabs()->tabText(0), QStringLiteral("Status Monitor"));
}

void tst_mainWindowState::pageTab_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("title");
    QTest::newRow("Config") << "configAction" << "Config";
    QTest::newRow("Firmware Update") << "firmwareUpdateAction" << "Firmware Update";
}

void tst_mainWindowState::pageTab()
{
    QFETCH(QString, actionName);
    QFETCH(QString, title);
    auto* action = m_window->findChild<QAction*>(actionName);
    QVERIFY(connectDevice());

    action->trigger();
    QCOMPARE(tabs()->count(), 2);
    QCOMPARE(tabs()->tabText(1), title);
    QCOMPARE(tabs()->currentIndex(), 0);
    QWidget* page = tabs()->widget(1);
    QVERIFY(waitTicks(3));
    QCOMPARE(tabs()->count(), 2);

    // Unchecking removes the tab; the page lives on, with what it held.
    action->trigger();
    QVERIFY(!action->isChecked());
    QCOMPARE(tabs()->count(), 1);
    action->trigger();
    QCOMPARE(tabs()->widget(1), page);

    // Disconnecting takes the tab away on the next tick.
    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(tabs()->count(), 1);
    QVERIFY(!action->isChecked());
}

void tst_mainWindowState::removalDeactivatesBeforeTheTabGoes()
{
    QVERIFY(connectDevice());
    child<QAction>("configAction")->trigger();
    auto* config = qobject_cast<configWidget*>(tabs()->widget(1));
    QVERIFY(config);
    // Active although not current, so only the removal itself can stop it.
    config->slotOnSetEnabled(true);
    QVERIFY(config->isRefreshing());

    bool refreshingWhenRemoved = true;
    auto* stack = tabs()->findChild<QStackedWidget*>();
    QVERIFY(stack);
    connect(stack, &QStackedWidget::widgetRemoved, this, [&] { refreshingWhenRemoved = config->isRefreshing(); });
    QSignalSpy currentChanged(tabs(), &QTabWidget::currentChanged);

    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(tabs()->count(), 1);
    QVERIFY(!refreshingWhenRemoved);
    QVERIFY(!config->isRefreshing());
    QVERIFY(!child<QAction>("configAction")->isChecked());
    QCOMPARE(currentChanged.count(), 0);
}

void tst_mainWindowState::tabChangeActivatesOnlyTheCurrentPage()
{
    QVERIFY(connectDevice());
    // The connect request switched the status page on.
    QTRY_VERIFY(statusReads() > 0);
    child<QAction>("configAction")->trigger();
    auto* config = qobject_cast<configWidget*>(tabs()->widget(1));
    QVERIFY(config && !config->isRefreshing());

    // The watch goes on under the Config tab; only the table's refresh
    // follows its tab.
    tabs()->setCurrentIndex(1);
    QVERIFY(config->isRefreshing());
    const int statusBefore = statusReads();
    const int tableBefore = tableReads();
    QTRY_VERIFY(tableReads() >= tableBefore + 3);
    QTRY_VERIFY(statusReads() >= statusBefore + 3);

    tabs()->setCurrentIndex(0);
    QVERIFY(!config->isRefreshing());
    const int tableAfter = tableReads();
    QTRY_VERIFY(statusReads() >= statusBefore + 5);
    QCOMPARE(tableReads(), tableAfter);
}

void tst_mainWindowState::removingAnEarlierTabReactivatesTheCurrentPage()
{
    QVERIFY(connectDevice());
    child<QAction>("configAction")->trigger();
    child<QAction>("firmwareUpdateAction")->trigger();
    QWidget* firmware = tabs()->widget(2);
    QVERIFY(qobject_cast<firmwareUpdateWidget*>(firmware));
    tabs()->setCurrentIndex(2);

    QSignalSpy currentChanged(tabs(), &QTabWidget::currentChanged);
    child<QAction>("configAction")->trigger(); // unchecks: removes tab 1
    QCOMPARE(tabs()->count(), 2);
    QCOMPARE(tabs()->currentWidget(), firmware);
    QCOMPARE(currentChanged.count(), 1);
    QCOMPARE(currentChanged.first().first().toInt(), 1);
    // The firmware page is the active one; the table's refresh has stopped.
    QVERIFY(!qobject_cast<configWidget*>(m_window->findChild<configWidget*>())->isRefreshing());
}

void tst_mainWindowState::autoHideHidesOnce()
{
    m_window->tray = true;
    child<QCheckBox>("m_checkBoxAutoHide")->setChecked(true);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    QVERIFY(connectDevice());
    QTRY_VERIFY(!m_window->isVisible());

    child<QAction>("restoreAction")->trigger();
    QVERIFY(m_window->isVisible());
    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
    QVERIFY(connectDevice());
    QVERIFY(waitTicks(3));
    QVERIFY(m_window->isVisible());
}

void tst_mainWindowState::autoHideNeedsATray()
{
    m_window->tray = false;
    child<QCheckBox>("m_checkBoxAutoHide")->setChecked(true);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    QVERIFY(connectDevice());
    QVERIFY(waitTicks(3));
    QVERIFY(m_window->isVisible());
}

void tst_mainWindowState::versionLabels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("hardware") << "hwVerLabel" << "HW:";
    QTest::newRow("firmware") << "fwVerLabel" << "FW:";
    QTest::newRow("driver") << "drvVerLabel" << "DRV:";
}

void tst_mainWindowState::versionLabels()
{
    QFETCH(QString, label);
    QFETCH(QString, prefix);
    auto* shown = m_window->findChild<QLabel*>(label);
    QVERIFY(shown);

    if (prefix == QLatin1String("HW:"))
        g_consolePrint.showHwVer(QStringLiteral("321"));
    else if (prefix == QLatin1String("FW:"))
        g_consolePrint.showFwVer(QStringLiteral("321"));
    else
        g_consolePrint.showDrvVer(QStringLiteral("321"));
    QCOMPARE(shown->text(), prefix + QStringLiteral("321"));

    // The device's own versions after a connect, "0000" after the close.
    QVERIFY(connectDevice());
    const deviceInfo info = fakesdk::snapshot().info;
    const int version = prefix == QLatin1String("HW:") ? info.hardwareVersion
                        : prefix == QLatin1String("FW:") ? info.firmwareVersion
                                                         : info.driverVersion;
    QCOMPARE(shown->text(), prefix + QString::number(version));
    g_comAdapter.slotCloseDevice();
    QCOMPARE(shown->text(), prefix + QStringLiteral("0000"));
}

void tst_mainWindowState::quitWhilePollingWithConfigOpenEndsCleanly()
{
    QVERIFY(connectDevice());
    QTRY_VERIFY(statusReads() > 0);
    child<QAction>("configAction")->trigger();
    auto* config = qobject_cast<configWidget*>(tabs()->widget(1));
    tabs()->setCurrentIndex(1);
    QVERIFY(config->isRefreshing());
    tabs()->setCurrentIndex(0); // the poll thread runs again

    QTimer::singleShot(0, child<QAction>("quitAction"), &QAction::trigger);
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);

    QVERIFY(!config->isRefreshing());
    QVERIFY(!g_comAdapter.isConnected());
    QCOMPARE(fakesdk::countCalls("close"), 1);
    QVERIFY(!child<QTimer>("updateTimer")->isActive());
    // The poll thread was joined: no read follows the close.
    const std::vector<fakesdk::Call> calls = fakesdk::calls();
    QCOMPARE(calls.back().function, std::string("close"));
}

QR_TEST_MAIN(tst_mainWindowState)
#include "tst_mainwindowstate.moc"
