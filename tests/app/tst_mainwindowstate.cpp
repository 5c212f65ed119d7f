// The main window where it adds logic, driven through its refresh ticks
// against the fake device library: the watch on every tab and the page tabs a
// disconnect takes away, hiding to the tray (present or not) and coming back,
// and the tray icon on a power loss.
#include "configwidget.h"
#include "fakelink.h"
#include "mainwindow.h"
#include "pageprobe.h"
#include "sdk/qr7215registers.h"
#include "statusmonitorwidget.h"
#include "testenv.h"
#include "trendswidget.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QStackedWidget>

#include <memory>

class testWindow : public mainWindow
{
public:
    bool tray = true;
    bool ending = false;

protected:
    bool trayAvailable() const override { return tray; }
    bool sessionEnding() const override { return ending; }
};

class tst_mainWindowState : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void watchGoesOnUnderEveryTab_data();
    void watchGoesOnUnderEveryTab();
    void hideAndComeBack_data();
    void hideAndComeBack();
    void trayIconFollowsDcInput();

private:
    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    QString state() const { return child<QLabel>("connectStateLabel")->text(); }
    // Status blocks and the register table's block, by their sizes.
    static int reads(uint32_t count)
    {
        const auto calls = fakesdk::calls();
        return int(std::count_if(calls.begin(), calls.end(),
                                 [count](const fakesdk::Call& c) { return c.function == "read" && c.count == count; }));
    }
    bool waitTicks(int n)
    {
        QSignalSpy ticks(child<QTimer>("updateTimer"), &QTimer::timeout);
        return QTest::qWaitFor([&] { return ticks.count() >= n; }, 5000);
    }
    bool connectDevice()
    {
        child<QAction>("connectAction")->trigger();
        return QTest::qWaitFor([this] { return g_comAdapter.isConnected() && state() == "Connected"; }, 5000);
    }

    std::unique_ptr<testWindow> m_window;
};

void tst_mainWindowState::init()
{
    fakesdk::reset();
    // Every test starts from the default connection settings.
    QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/configs")).removeRecursively();
    m_window = std::make_unique<testWindow>();
}

void tst_mainWindowState::cleanup()
{
    m_window.reset();
    fakeLink::closeAny();
}

void tst_mainWindowState::watchGoesOnUnderEveryTab_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("tableRefreshes");
    QTest::newRow("Config") << "configAction" << true;
    QTest::newRow("Firmware Update") << "firmwareUpdateAction" << false;
    QTest::newRow("Trends") << "trendsAction" << false;
}

void tst_mainWindowState::watchGoesOnUnderEveryTab()
{
    QFETCH(QString, action);
    QFETCH(bool, tableRefreshes);
    QVERIFY(connectDevice());
    QTRY_VERIFY(reads(QR7215_STATUS_BLOCK_COUNT) > 0);
    // The Trends tab beside the row's, so the samples can be watched under each.
    child<QAction>("trendsAction")->trigger();
    if (action != QLatin1String("trendsAction"))
        m_window->findChild<QAction*>(action)->trigger();
    tabs()->setCurrentIndex(tabs()->count() - 1);
    auto* trends = m_window->findChild<trendsWidget*>();
    QVERIFY(trends);
    // Only the table's refresh and the chart's redraw follow their tabs.
    const int status = reads(QR7215_STATUS_BLOCK_COUNT);
    const int table = reads(QR7215_TABLE_BLOCK_COUNT);
    const int sampled = trends->buffer().size();
    QTRY_VERIFY(reads(QR7215_STATUS_BLOCK_COUNT) >= status + 3);
    QTRY_VERIFY(trends->buffer().size() > sampled);
    QCOMPARE(trends->findChild<QTimer*>("trendsRedrawTimer")->isActive(), action == QLatin1String("trendsAction"));
    if (tableRefreshes)
        QTRY_VERIFY(reads(QR7215_TABLE_BLOCK_COUNT) >= table + 3);
    else
        QCOMPARE(reads(QR7215_TABLE_BLOCK_COUNT), table);

    tabs()->setCurrentIndex(0);
    const int tableAfter = reads(QR7215_TABLE_BLOCK_COUNT);
    QTRY_VERIFY(reads(QR7215_STATUS_BLOCK_COUNT) >= status + 6);
    QCOMPARE(reads(QR7215_TABLE_BLOCK_COUNT), tableAfter);
    QVERIFY(!trends->findChild<QTimer*>("trendsRedrawTimer")->isActive());

    // A disconnect takes the page tabs away. The table is made active although
    // not current, so only the removal itself can stop its refresh.
    auto* config = m_window->findChild<configWidget*>();
    if (config)
        config->slotOnSetEnabled(true);
    QVERIFY(!config || config->isRefreshing());
    bool refreshingAtARemoval = false;
    const auto removed = connect(tabs()->findChild<QStackedWidget*>(), &QStackedWidget::widgetRemoved, this,
                                 [&] { refreshingAtARemoval |= config && config->isRefreshing(); });
    child<QAction>("disconnectAction")->trigger();
    QCOMPARE(fakesdk::countCalls("close"), 1);
    QTRY_COMPARE(tabs()->count(), 1);
    disconnect(removed);
    QVERIFY(!refreshingAtARemoval);
    QVERIFY(!m_window->findChild<QAction*>(action)->isChecked());
    QVERIFY(!child<QAction>("trendsAction")->isChecked());
}

void tst_mainWindowState::hideAndComeBack_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<int>("back");   // the tray icon's activation, -1 for its Restore

    const auto row = [](const char* name, const char* how, bool tray, bool hidden, bool quits, int back) {
        QTest::newRow(name) << how << tray << hidden << quits << back;
    };
    row("close with a tray: hides, keeps running", "close", true, true, false, QSystemTrayIcon::Trigger);
    row("close without a tray: quits", "close", false, true, true, -1);
    // A refused close would cancel the log-out or shut-down.
    row("log-out with a tray: closes and quits", "log-out", true, true, true, -1);
    row("minimise with a tray: off the task bar", "minimise", true, true, false, QSystemTrayIcon::DoubleClick);
    row("minimise without a tray: minimised as usual", "minimise", false, false, false, -1);
    row("auto hide with a tray: once, at the first connect", "auto hide", true, true, false, -1);
    row("auto hide without a tray: never", "auto hide", false, false, false, -1);
}

void tst_mainWindowState::hideAndComeBack()
{
    QFETCH(QString, how);
    QFETCH(bool, tray);
    QFETCH(bool, hidden);
    QFETCH(bool, quits);
    QFETCH(int, back);
    m_window->tray = tray;
    m_window->ending = how == "log-out";
    const bool autoHide = how == "auto hide";
    child<QCheckBox>("m_checkBoxAutoHide")->setChecked(autoHide);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    if (autoHide) {
        QVERIFY(connectDevice());
        QVERIFY(waitTicks(2));
    } else if (how == "minimise") {
        m_window->setWindowState(m_window->windowState() | Qt::WindowMinimized);
    } else {
        // Quitting needs the application's loop; the test ends it where the
        // window stays in the tray.
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        bool accepted = false;
        QTimer::singleShot(0, m_window.get(), [&] {
            accepted = m_window->close();
            if (!quits)
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); });
        });
        QTimer hang;
        connect(&hang, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        hang.start(10000);
        QCOMPARE(QCoreApplication::exec(), quits ? 0 : 7);
        QCOMPARE(accepted, quits);
        QCOMPARE(lastWindowClosed.count(), quits ? 1 : 0);
    }
    QCOMPARE(m_window->isVisible(), !hidden);
    if (quits)
        return;

    auto* icon = m_window->findChild<QSystemTrayIcon*>();
    emit icon->activated(QSystemTrayIcon::Context);   // opens the menu, nothing more
    QCOMPARE(m_window->isVisible(), !hidden);
    if (back < 0)
        child<QAction>("restoreAction")->trigger();
    else
        emit icon->activated(QSystemTrayIcon::ActivationReason(back));
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
    if (!autoHide)
        return;
    child<QAction>("disconnectAction")->trigger();
    QTRY_COMPARE(state(), QStringLiteral("Disconnected"));
    QVERIFY(connectDevice());
    QVERIFY(waitTicks(2));
    QVERIFY(m_window->isVisible());
}

void tst_mainWindowState::trayIconFollowsDcInput()
{
    auto* tray = m_window->findChild<QSystemTrayIcon*>();
    const auto showing = [tray](const char* name) {
        const auto format = QImage::Format_ARGB32_Premultiplied;
        const QImage image = QImage(":/mainWindow/images/UPS/" + QLatin1String(name)).convertToFormat(format);
        return tray->icon().pixmap(image.size()).toImage().convertToFormat(format) == image;
    };
    QVERIFY(showing("DC.png"));
    // Blocks through the watch as the poll delivers them, another tab current.
    auto* page = m_window->findChild<statusMonitorWidget*>();
    statusDecoder::block dc{};
    dc[statusDecoder::kDcOk] = 1;
    statusMonitorWidgetProbe::feed(*page, dc, false);
    statusMonitorWidgetProbe::feed(*page, statusDecoder::block{}, false);
    QVERIFY(showing("UPS.png"));
    statusMonitorWidgetProbe::feed(*page, dc, false);
    QVERIFY(showing("DC.png"));
}

QR_TEST_MAIN(tst_mainWindowState)
#include "tst_mainwindowstate.moc"
