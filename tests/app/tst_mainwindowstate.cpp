// The main window driven through its refresh ticks: connection state, the
// Config and Firmware Update tabs, which page is active, Auto Hide with and
// without a tray, version labels, quitting while the pages work, and the tray:
// its icon and activation, close and minimise, Help.
#include "configwidget.h"
#include "consoleprint.h"
#include "firmwareupdatewidget.h"
#include "mainwindowfixture.h"

#include <QCheckBox>
#include <QStackedWidget>
#include <QToolBar>
#include "statusmonitorwidget.h"
#include <QDesktopServices>
#include <QPointer>
#include <QMessageBox>

// Catches what QDesktopServices would open.
class urlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class tst_mainWindowState : public mainWindowFixture
{
    Q_OBJECT

private slots:
    void connectedAndDisconnectedStates();
    void connectAndDisconnectActionsReachTheConnectionPage();
    void configOpenedWhileDisconnectedGoesAgain();
    void pageTab_data();
    void pageTab();
    void removalDeactivatesBeforeTheTabGoes();
    void tabChangeActivatesOnlyTheCurrentPage();
    void removingAnEarlierTabReactivatesTheCurrentPage();
    void autoHide_data();
    void autoHide();
    void versionLabels_data();
    void versionLabels();
    void quitWhilePollingWithConfigOpenEndsCleanly();
    void trayIconFollowsDcInput();
    void trayActivation_data();
    void trayActivation();
    void restoreShowsTheWindow();
    void closeHidesToTheTray_data();
    void closeHidesToTheTray();
    void minimiseHidesToTheTray_data();
    void minimiseHidesToTheTray();
    void helpOpensTheHelpFileBesideTheProgram();
    void pagesEndWithTheWindow_data();
    void pagesEndWithTheWindow();
};

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

void tst_mainWindowState::autoHide_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a tray: hides once, after the first connect") << true;
    QTest::newRow("without a tray: never hides") << false;
}

void tst_mainWindowState::autoHide()
{
    QFETCH(bool, tray);
    m_window->tray = tray;
    child<QCheckBox>("m_checkBoxAutoHide")->setChecked(true);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    QVERIFY(connectDevice());
    if (!tray) {
        QVERIFY(waitTicks(3));
        QVERIFY(m_window->isVisible());
        return;
    }
    QTRY_VERIFY(!m_window->isVisible());
    child<QAction>("restoreAction")->trigger();
    QVERIFY(m_window->isVisible());
    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("Disconnected"));
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

void tst_mainWindowState::trayIconFollowsDcInput()
{
    auto* tray = m_window->findChild<QSystemTrayIcon*>();
    auto* status = qobject_cast<statusMonitorWidget*>(tabs()->widget(0));
    QVERIFY(tray && status);
    QVERIFY(sameImage(tray->icon(), imagePath("DC.png")));

    emit status->signalDC_OK(false);
    QVERIFY(sameImage(tray->icon(), imagePath("UPS.png")));
    emit status->signalDC_OK(true);
    QVERIFY(sameImage(tray->icon(), imagePath("DC.png")));
}

void tst_mainWindowState::trayActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
}

void tst_mainWindowState::trayActivation()
{
    QFETCH(int, reason);
    QFETCH(bool, shows);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->close();
    QVERIFY(!m_window->isVisible());

    emit m_window->findChild<QSystemTrayIcon*>()->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(m_window->isVisible(), shows);
    if (shows)
        QVERIFY(!m_window->isMinimized());
}

void tst_mainWindowState::restoreShowsTheWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    child<QAction>("minimizeAction")->trigger();
    QVERIFY(!m_window->isVisible());
    child<QAction>("restoreAction")->trigger();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

void tst_mainWindowState::closeHidesToTheTray_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("ending");   // the session manager ends the session
    QTest::newRow("with a tray: hides, keeps running") << true << false;
    QTest::newRow("without a tray: quits") << false << false;
    // A refused close would cancel the log-out or shut-down.
    QTest::newRow("log-out with a tray: closes and quits") << true << true;
}

void tst_mainWindowState::closeHidesToTheTray()
{
    QFETCH(bool, tray);
    QFETCH(bool, ending);
    m_window->tray = tray;
    m_window->ending = ending;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);

    bool accepted = false;
    QTimer::singleShot(0, m_window.get(), [&] {
        accepted = m_window->close();
        // When the window stays in the tray nothing ends the loop: the test
        // does, once the close is handled.
        if (tray && !ending)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); });
    });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    const int rc = QCoreApplication::exec();

    const bool staysInTray = tray && !ending;
    QVERIFY(!m_window->isVisible());
    QCOMPARE(accepted, !staysInTray);
    QCOMPARE(rc, staysInTray ? 7 : 0);
    QCOMPARE(lastWindowClosed.count(), staysInTray ? 0 : 1);
    QVERIFY(m_window->findChild<QSystemTrayIcon*>()->isVisible());
}

void tst_mainWindowState::minimiseHidesToTheTray_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a tray: off the task bar") << true;
    QTest::newRow("without a tray: minimised as usual") << false;
}

void tst_mainWindowState::minimiseHidesToTheTray()
{
    QFETCH(bool, tray);
    m_window->tray = tray;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    m_window->setWindowState(m_window->windowState() | Qt::WindowMinimized);
    QCOMPARE(m_window->isVisible(), !tray);
    QVERIFY(m_window->isMinimized());

    // Either way the tray's Restore brings it back in its normal state.
    child<QAction>("restoreAction")->trigger();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

void tst_mainWindowState::helpOpensTheHelpFileBesideTheProgram()
{
    urlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    child<QAction>("helpAction")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first(),
             QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + QStringLiteral("/help/help.chm")));
    QCOMPARE(catcher.urls.first().toLocalFile(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/help/help.chm"));
}

// A page made without a parent gets one only when its tab is first shown:
// the window must end both pages whatever became of their tabs (a leak that
// LeakSanitizer found).
void tst_mainWindowState::pagesEndWithTheWindow_data()
{
    QTest::addColumn<bool>("showTabs");
    QTest::addColumn<bool>("waitForRemoval");

    QTest::newRow("tabs never shown") << false << false;
    QTest::newRow("tabs shown") << true << false;
    // Without a connection the next refresh tick takes the tabs away again.
    QTest::newRow("tabs shown and removed") << true << true;
}

void tst_mainWindowState::pagesEndWithTheWindow()
{
    QFETCH(bool, showTabs);
    QFETCH(bool, waitForRemoval);

    QPointer<QWidget> configPage;
    QPointer<QWidget> firmwarePage;
    int pages = 0;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->inherits("configWidget")) {
            configPage = widget;
            ++pages;
        } else if (widget->inherits("firmwareUpdateWidget")) {
            firmwarePage = widget;
            ++pages;
        }
    }
    // One of each: no earlier window left its pages behind.
    QCOMPARE(pages, 2);
    QVERIFY(configPage && firmwarePage);

    if (showTabs) {
        child<QAction>("configAction")->trigger();
        child<QAction>("firmwareUpdateAction")->trigger();
        QCOMPARE(tabs()->count(), 3);
    }
    if (waitForRemoval)
        QTRY_COMPARE(tabs()->count(), 1);

    m_window.reset();
    QVERIFY(configPage.isNull());
    QVERIFY(firmwarePage.isNull());
}

QR_TEST_MAIN(tst_mainWindowState)
#include "tst_mainwindowstate.moc"
