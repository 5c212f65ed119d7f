// The main window as built: titles, actions, menus, tool bars, tray, status
// bar, docks, the style sheet and the log wiring.
#include "comsettingswidget.h"
#include "connectionwatch.h"
#include "consoleprint.h"
#include "mainwindow.h"
#include "statusmonitorwidget.h"
#include "testenv.h"

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <memory>

namespace {

const QString kImages = QStringLiteral(":/mainWindow/images/UPS/");

bool sameImage(const QIcon& icon, const QString& resource)
{
    const QImage expected = QImage(resource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (icon.isNull() || expected.isNull())
        return false;
    return icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == expected;
}

QStringList texts(const QList<QAction*>& actions)
{
    QStringList result;
    for (const QAction* a : actions)
        result << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return result;
}

QString styleSheetDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Themes");
}

} // namespace

class tst_mainWindowFrame : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowTitleIconAndForm();
    void actions_data();
    void actions();
    void menus();
    void toolBars();
    void trayIcon();
    void trayMinimizeHides();
    void trayQuitEndsTheEventLoop();
    void statusBar();
    void informationDockIsFixedAtTheBottom();
    void commDockIsFixedAtTheLeft();
    void statusMonitorIsTheOnlyTab();
    void logLinesReachTheInformationDock();
    void styleSheet_data();
    void styleSheet();
    void pagesEndWithTheWindow_data();
    void pagesEndWithTheWindow();

private:
    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }

    std::unique_ptr<mainWindow> m_window;
};

void tst_mainWindowFrame::initTestCase()
{
    connectionwatch::install();
}

void tst_mainWindowFrame::init()
{
    QDir(styleSheetDir()).removeRecursively();
    m_window = std::make_unique<mainWindow>();
}

void tst_mainWindowFrame::cleanup()
{
    m_window.reset();
    QCOMPARE(connectionwatch::take(), 0);
    QDir(styleSheetDir()).removeRecursively();
}

void tst_mainWindowFrame::windowTitleIconAndForm()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("mainWindowClass"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Ulmavox"));
    QVERIFY(sameImage(m_window->windowIcon(), kImages + QStringLiteral("main_cnc.png")));
    QCOMPARE(m_window->size(), QSize(405, 226));
    QCOMPARE(m_window->menuBar()->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(m_window->statusBar()->objectName(), QStringLiteral("statusBar"));
    QVERIFY(m_window->statusBar()->font().bold());
    QCOMPARE(m_window->statusBar()->font().weight(), 75);
    // The form's central widget gave way to the tab widget.
    QVERIFY(qobject_cast<QTabWidget*>(m_window->centralWidget()));
    QTRY_VERIFY(!m_window->findChild<QWidget*>(QStringLiteral("centralWidget")));
}

void tst_mainWindowFrame::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("checkable");

    // Without a tool tip of its own an action shows its text.
    QTest::newRow("Connect") << "connectAction" << "Connect" << "connect.png" << "Connect" << false;
    QTest::newRow("Disconnect") << "disconnectAction" << "Disconnect" << "disconnect.png" << "Disconnect" << false;
    QTest::newRow("Firmware Update") << "firmwareUpdateAction" << "Firmware Update" << "" << "Firmware Update" << true;
    QTest::newRow("Config") << "configAction" << "Config" << "" << "Config" << true;
    QTest::newRow("About") << "aboutAction" << "About" << "about.png" << "About the tool" << false;
    QTest::newRow("Help") << "helpAction" << "Help" << "help.png" << "Help" << false;
    QTest::newRow("Minimize") << "minimizeAction" << "Minimize" << "" << "Minimize the dialog" << false;
    QTest::newRow("Restore") << "restoreAction" << "Restore" << "" << "Restore the dialog" << false;
    QTest::newRow("Quit") << "quitAction" << "Quit" << "" << "Quit the Application" << false;
}

void tst_mainWindowFrame::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, icon);
    QFETCH(QString, toolTip);
    QFETCH(bool, checkable);

    auto* action = m_window->findChild<QAction*>(name);
    QVERIFY(action);
    QCOMPARE(action->parent(), m_window.get());
    QCOMPARE(action->text(), text);
    QCOMPARE(action->toolTip(), toolTip);
    QCOMPARE(action->isCheckable(), checkable);
    QVERIFY(!action->isChecked());
    QVERIFY(action->isEnabled());
    if (icon.isEmpty())
        QVERIFY(action->icon().isNull());
    else
        QVERIFY(sameImage(action->icon(), kImages + icon));
}

void tst_mainWindowFrame::menus()
{
    const QList<QAction*> bar = m_window->menuBar()->actions();
    QCOMPARE(texts(bar), (QStringList{"|", "Control", "Option", "Help"}));
    QCOMPARE(texts(bar[1]->menu()->actions()), (QStringList{"Connect", "Disconnect"}));
    QCOMPARE(texts(bar[2]->menu()->actions()), (QStringList{"Config", "Firmware Update"}));
    QCOMPARE(texts(bar[3]->menu()->actions()), (QStringList{"Help", "About"}));
    QCOMPARE(bar[1]->menu(), child<QMenu>("controlMenu"));
    QCOMPARE(bar[2]->menu(), child<QMenu>("optionMenu"));
    QCOMPARE(bar[3]->menu(), child<QMenu>("helpMenu"));
}

void tst_mainWindowFrame::toolBars()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    QList<QToolBar*> bars = m_window->findChildren<QToolBar*>();
    QCOMPARE(bars.size(), 3);
    std::sort(bars.begin(), bars.end(), [](QToolBar* a, QToolBar* b) { return a->x() < b->x(); });
    QCOMPARE(bars[0], child<QToolBar>("connectToolBar"));
    QCOMPARE(bars[1], child<QToolBar>("disconnectToolBar"));
    QCOMPARE(bars[2], child<QToolBar>("helpToolBar"));

    const QStringList titles{"Connect", "Disconnect", "Help"};
    for (int i = 0; i < bars.size(); ++i) {
        QCOMPARE(bars[i]->windowTitle(), titles[i]);
        QCOMPARE(texts(bars[i]->actions()), QStringList{titles[i]});
        QCOMPARE(m_window->toolBarArea(bars[i]), Qt::TopToolBarArea);
        QCOMPARE(bars[i]->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(bars[i]->y(), bars[0]->y());
    }
}

void tst_mainWindowFrame::trayIcon()
{
    auto* tray = m_window->findChild<QSystemTrayIcon*>();
    QVERIFY(tray);
    QCOMPARE(tray->parent(), m_window.get());
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), QStringLiteral("Ulmavox"));
    QVERIFY(sameImage(tray->icon(), kImages + QStringLiteral("DC.png")));

    QMenu* menu = tray->contextMenu();
    QCOMPARE(menu, child<QMenu>("trayMenu"));
    QCOMPARE(menu->parent(), m_window.get());
    QCOMPARE(texts(menu->actions()), (QStringList{"Restore", "Minimize", "|", "Quit"}));
}

void tst_mainWindowFrame::trayMinimizeHides()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    child<QAction>("minimizeAction")->trigger();
    QVERIFY(!m_window->isVisible());
}

void tst_mainWindowFrame::trayQuitEndsTheEventLoop()
{
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    QAction* quit = child<QAction>("quitAction");
    QTimer::singleShot(0, quit, &QAction::trigger);
    // A broken wiring would otherwise leave the loop running.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(aboutToQuit.count(), 1);
}

void tst_mainWindowFrame::statusBar()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    struct Expected
    {
        const char* name;
        const char* text;
    };
    const Expected labels[] = {
        {"connectStateLabel", "Disconnect"}, {"hwVerLabel", "HW:0000"}, {"fwVerLabel", "FW:0000"},
        {"drvVerLabel", "DRV:0000"}, {"dateTimeLabel", "yyyy-MM-dd hh:mm:ss"}};
    int previousX = -1;
    for (const Expected& e : labels) {
        auto* label = child<QLabel>(e.name);
        QVERIFY2(label, e.name);
        QCOMPARE(label->parentWidget(), m_window->statusBar());
        QCOMPARE(label->text(), QLatin1String(e.text));
        QVERIFY(label->font().bold());
        QVERIFY2(label->x() > previousX, e.name);
        previousX = label->x();
    }
    for (const char* sized : {"connectStateLabel", "hwVerLabel", "fwVerLabel", "drvVerLabel"})
        QVERIFY2(!child<QLabel>(sized)->minimumSize().isEmpty(), sized);
    QCOMPARE(child<QLabel>("dateTimeLabel")->minimumSize(), QSize(0, 0));
    // Permanent labels stand at the right end.
    QVERIFY(child<QLabel>("dateTimeLabel")->geometry().right() > m_window->statusBar()->width() - 40);
}

void tst_mainWindowFrame::informationDockIsFixedAtTheBottom()
{
    const auto docks = m_window->findChildren<QDockWidget*>();
    auto it = std::find_if(docks.begin(), docks.end(),
                           [](QDockWidget* d) { return d->windowTitle() == QLatin1String("Information"); });
    QVERIFY(it != docks.end());
    QDockWidget* dock = *it;
    QCOMPARE(dock->features(), QDockWidget::NoDockWidgetFeatures);
    QCOMPARE(dock->allowedAreas(), Qt::BottomDockWidgetArea);
    QCOMPARE(m_window->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
    QVERIFY(dock->widget());
    QCOMPARE(dock->widget()->metaObject()->className(), "inforWidget");
}

namespace {

QDockWidget* dockTitled(const QMainWindow* window, const QString& title)
{
    for (QDockWidget* dock : window->findChildren<QDockWidget*>())
        if (dock->windowTitle() == title)
            return dock;
    return nullptr;
}

} // namespace

void tst_mainWindowFrame::commDockIsFixedAtTheLeft()
{
    QDockWidget* dock = dockTitled(m_window.get(), QStringLiteral("Comm"));
    QVERIFY(dock);
    QCOMPARE(dock->features(), QDockWidget::NoDockWidgetFeatures);
    QCOMPARE(dock->allowedAreas(), Qt::LeftDockWidgetArea);
    QCOMPARE(m_window->dockWidgetArea(dock), Qt::LeftDockWidgetArea);
    QVERIFY(qobject_cast<comSettingsWidget*>(dock->widget()));
}

void tst_mainWindowFrame::statusMonitorIsTheOnlyTab()
{
    auto* tabs = qobject_cast<QTabWidget*>(m_window->centralWidget());
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Status Monitor"));
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(qobject_cast<statusMonitorWidget*>(tabs->widget(0)));
}

void tst_mainWindowFrame::logLinesReachTheInformationDock()
{
    auto* view = m_window->findChild<QPlainTextEdit*>(QStringLiteral("m_statusOutput"));
    QVERIFY(view);
    const QString before = view->toPlainText();
    g_consolePrint.showMsg(QStringLiteral("frame test line"));
    QVERIFY(view->toPlainText().endsWith(QStringLiteral(">>frame test line")));
    QVERIFY(view->toPlainText().size() > before.size());
}

void tst_mainWindowFrame::styleSheet_data()
{
    QTest::addColumn<bool>("writeFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    const QString sheet = QStringLiteral("QLabel { color: #123456; } /* Grüße */");
    QTest::newRow("no Themes folder") << false << QByteArray() << QString();
    QTest::newRow("sheet beside the program") << true << sheet.toUtf8() << sheet;
    QTest::newRow("empty sheet") << true << QByteArray() << QString();
}

void tst_mainWindowFrame::styleSheet()
{
    QFETCH(bool, writeFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    m_window.reset();
    if (writeFile) {
        QVERIFY(QDir().mkpath(styleSheetDir()));
        QFile file(styleSheetDir() + QStringLiteral("/MainPage.qss"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QCOMPARE(mainWindow::styleSheetPath(), styleSheetDir() + QStringLiteral("/MainPage.qss"));
    m_window = std::make_unique<mainWindow>();
    QCOMPARE(m_window->styleSheet(), expected);
}

void tst_mainWindowFrame::pagesEndWithTheWindow_data()
{
    QTest::addColumn<bool>("showTabs");
    QTest::addColumn<bool>("waitForRemoval");

    QTest::newRow("tabs never shown") << false << false;
    QTest::newRow("tabs shown") << true << false;
    // Without a connection the next refresh tick takes the tabs away again.
    QTest::newRow("tabs shown and removed") << true << true;
}

// The configuration and firmware pages are made without a parent and only
// get one when their tab is first shown; either way they end with the window.
void tst_mainWindowFrame::pagesEndWithTheWindow()
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

    auto* tabs = qobject_cast<QTabWidget*>(m_window->centralWidget());
    if (showTabs) {
        child<QAction>("configAction")->trigger();
        child<QAction>("firmwareUpdateAction")->trigger();
        QCOMPARE(tabs->count(), 3);
    }
    if (waitForRemoval)
        QTRY_COMPARE(tabs->count(), 1);

    m_window.reset();
    QVERIFY(configPage.isNull());
    QVERIFY(firmwarePage.isNull());
}

QR_TEST_MAIN(tst_mainWindowFrame)
#include "tst_mainwindowframe.moc"
