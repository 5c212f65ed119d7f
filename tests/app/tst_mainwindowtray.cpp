// The main window's tray and visibility: the tray icon and its activation,
// close and minimise with and without a system tray, About and Help.
#include "mainwindowfixture.h"
#include "statusmonitorwidget.h"

#include <QDesktopServices>
#include <QMessageBox>

class urlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class tst_mainWindowTray : public mainWindowFixture
{
    Q_OBJECT

private slots:
    void trayIconFollowsDcInput();
    void trayActivation_data();
    void trayActivation();
    void restoreShowsTheWindow();
    void closeHidesToTheTray_data();
    void closeHidesToTheTray();
    void minimiseHidesToTheTray_data();
    void minimiseHidesToTheTray();
    void helpOpensTheHelpFileBesideTheProgram();
};

void tst_mainWindowTray::trayIconFollowsDcInput()
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

void tst_mainWindowTray::trayActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
}

void tst_mainWindowTray::trayActivation()
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

void tst_mainWindowTray::restoreShowsTheWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    child<QAction>("minimizeAction")->trigger();
    QVERIFY(!m_window->isVisible());
    child<QAction>("restoreAction")->trigger();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

void tst_mainWindowTray::closeHidesToTheTray_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("ending");   // the session manager ends the session
    QTest::newRow("with a tray: hides, keeps running") << true << false;
    QTest::newRow("without a tray: quits") << false << false;
    // A refused close would cancel the log-out or shut-down.
    QTest::newRow("log-out with a tray: closes and quits") << true << true;
}

void tst_mainWindowTray::closeHidesToTheTray()
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

void tst_mainWindowTray::minimiseHidesToTheTray_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a tray: off the task bar") << true;
    QTest::newRow("without a tray: minimised as usual") << false;
}

void tst_mainWindowTray::minimiseHidesToTheTray()
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

void tst_mainWindowTray::helpOpensTheHelpFileBesideTheProgram()
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

QR_TEST_MAIN(tst_mainWindowTray)
#include "tst_mainwindowtray.moc"
