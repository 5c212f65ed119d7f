// The main window: its frame, the placement and wiring of the pages, and what
// it does while the program runs (connection state, page tabs and their
// activation, tray, hiding, version labels, About and Help).
#include "mainwindow.h"

#include "comadapter.h"
#include "comsettingswidget.h"
#include "configwidget.h"
#include "consoleprint.h"
#include "datafolder.h"
#include "desktopnotifier.h"
#include "eventlogfile.h"
#include "firmwareupdatewidget.h"
#include "inforwidget.h"
#include "settingsstore.h"
#include "statusmonitorwidget.h"
#include "trendswidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFile>
#include <QHideEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

namespace {

const char kImages[] = ":/mainWindow/images/UPS/";
constexpr int kUpdateIntervalMs = 100;

QIcon image(const char* name)
{
    return QIcon(QLatin1String(kImages) + QLatin1String(name));
}

// The program's read-only files: beside the executable, or in the share
// folder of the prefix it is installed into.
QString dataFile(const QString& relative)
{
    return platform::dataFolder(QCoreApplication::applicationDirPath()) + QLatin1Char('/') + relative;
}

QAction* newAction(const QString& text, const char* objectName, QObject* parent)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QLatin1String(objectName));
    return action;
}

} // namespace

mainWindow::mainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
    setWindowTitle(tr("Ulmavox"));
    setWindowIcon(image("main_cnc.png"));

    QFile styleSheetFile(styleSheetPath());
    if (styleSheetFile.open(QIODevice::ReadOnly)) {
        const QString styleSheet = QString::fromUtf8(styleSheetFile.readAll());
        styleSheetFile.close();
        setStyleSheet(styleSheet);
    }

    m_autoHidden = 0;
    m_autoHide = false;

    createActions();

    menuBar()->addSeparator();
    m_controlMenu = menuBar()->addMenu(tr("Control"));
    m_controlMenu->setObjectName(QStringLiteral("controlMenu"));
    m_controlMenu->addAction(m_connectAction);
    m_controlMenu->addAction(m_disconnectAction);
    m_optionMenu = menuBar()->addMenu(tr("Option"));
    m_optionMenu->setObjectName(QStringLiteral("optionMenu"));
    m_optionMenu->addAction(m_configAction);
    m_optionMenu->addAction(m_trendsAction);
    // Without a place in the interface the firmware page could not be reached.
    m_optionMenu->addAction(m_firmwareUpdateAction);
    m_helpMenu = menuBar()->addMenu(tr("Help"));
    m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    m_helpMenu->addAction(m_helpAction);
    m_helpMenu->addAction(m_aboutAction);

    m_connectToolBar = addToolBar(tr("Connect"));
    m_connectToolBar->setObjectName(QStringLiteral("connectToolBar"));
    m_connectToolBar->addAction(m_connectAction);
    m_disconnectToolBar = addToolBar(tr("Disconnect"));
    m_disconnectToolBar->setObjectName(QStringLiteral("disconnectToolBar"));
    m_disconnectToolBar->addAction(m_disconnectAction);
    m_helpToolBar = addToolBar(tr("Help"));
    m_helpToolBar->setObjectName(QStringLiteral("helpToolBar"));
    m_helpToolBar->addAction(m_helpAction);
    m_viewToolBar = addToolBar(tr("View"));
    m_viewToolBar->setObjectName(QStringLiteral("viewToolBar"));
    m_viewToolBar->addAction(m_trendsAction);
    for (QToolBar* toolBar : {m_connectToolBar, m_disconnectToolBar, m_helpToolBar, m_viewToolBar})
        toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    createTrayIcon();
    createStatusBar();
    createWidgets();
    createPages();
    connectPages();

    m_updateTimer = new QTimer(this);
    m_updateTimer->setObjectName(QStringLiteral("updateTimer"));
    m_updateTimer->setInterval(kUpdateIntervalMs);
    connect(m_updateTimer, SIGNAL(timeout()), this, SLOT(slotOnUpdate()));
    m_updateTimer->start();

    // The poll thread and the configuration page's timer must be stopped
    // before the device adapter and the message bus go away with the process.
    connect(qApp, SIGNAL(aboutToQuit()), this, SLOT(slotOnAboutToQuit()));
}

mainWindow::~mainWindow()
{
    // A page whose tab was never shown has no parent to take it along; one
    // that was shown stays a child of the tab widget after its tab goes.
    for (QWidget* page : {static_cast<QWidget*>(m_configWidget), static_cast<QWidget*>(m_firmwareUpdateWidget),
                          static_cast<QWidget*>(m_trendsWidget)}) {
        if (!page->parent())
            delete page;
    }
}

QString mainWindow::styleSheetPath()
{
    return dataFile(QStringLiteral("Themes/MainPage.qss"));
}

void mainWindow::createActions()
{
    m_connectAction = newAction(tr("Connect"), "connectAction", this);
    m_connectAction->setIcon(image("connect.png"));

    m_disconnectAction = newAction(tr("Disconnect"), "disconnectAction", this);
    m_disconnectAction->setIcon(image("disconnect.png"));

    m_firmwareUpdateAction = newAction(tr("Firmware Update"), "firmwareUpdateAction", this);
    m_firmwareUpdateAction->setCheckable(true);

    m_configAction = newAction(tr("Config"), "configAction", this);
    m_configAction->setCheckable(true);

    m_trendsAction = newAction(tr("Trends"), "trendsAction", this);
    m_trendsAction->setCheckable(true);

    m_aboutAction = newAction(tr("About"), "aboutAction", this);
    m_aboutAction->setIcon(image("about.png"));
    m_aboutAction->setToolTip(tr("About the tool"));

    m_helpAction = newAction(tr("Help"), "helpAction", this);
    m_helpAction->setIcon(image("help.png"));
}

void mainWindow::createTrayIcon()
{
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setObjectName(QStringLiteral("trayIcon"));
    m_trayIcon->setIcon(image("DC.png"));
    m_trayIcon->setToolTip(tr("Ulmavox"));

    m_minimizeAction = newAction(tr("Minimize"), "minimizeAction", this);
    m_minimizeAction->setToolTip(tr("Minimize the dialog"));
    connect(m_minimizeAction, SIGNAL(triggered()), this, SLOT(hide()));

    m_restoreAction = newAction(tr("Restore"), "restoreAction", this);
    m_restoreAction->setToolTip(tr("Restore the dialog"));

    m_quitAction = newAction(tr("Quit"), "quitAction", this);
    m_quitAction->setToolTip(tr("Quit the Application"));
    connect(m_quitAction, SIGNAL(triggered()), qApp, SLOT(quit()));

    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->addAction(m_restoreAction);
    m_trayMenu->addAction(m_minimizeAction);
    m_cancelScriptAction = newAction(tr("Cancel pending script"), "cancelScriptAction", this);
    m_cancelScriptAction->setEnabled(false);
    m_trayMenu->addAction(m_cancelScriptAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quitAction);
    m_trayIcon->setContextMenu(m_trayMenu);

    m_trayIcon->setVisible(true);

    QSystemTrayIcon* tray = m_trayIcon;
    m_notifier = new platform::desktopNotifier(
        [tray](const QString& summary, const QString& body, bool critical) {
            tray->showMessage(summary, body, critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
        },
        this);
}

void mainWindow::createStatusBar()
{
    auto newLabel = [](const QString& text, const char* objectName, bool sizedToText) {
        auto* label = new QLabel(text);
        label->setObjectName(QLatin1String(objectName));
        if (sizedToText)
            label->setMinimumSize(label->sizeHint());
        return label;
    };

    m_connectStateLabel = newLabel(tr("Disconnect"), "connectStateLabel", true);
    // Its own style sheet, set again on every tick, would otherwise drop the
    // bold font the label takes from the status bar.
    m_connectStateLabel->setFont(statusBar()->font());
    statusBar()->addWidget(m_connectStateLabel, 0);
    m_pendingScriptLabel = newLabel(QString(), "pendingScriptLabel", false);
    m_pendingScriptLabel->setStyleSheet(QStringLiteral("background-color: orange"));
    m_pendingScriptLabel->hide();
    statusBar()->addWidget(m_pendingScriptLabel, 0);
    m_hwVerLabel = newLabel(tr("HW:0000"), "hwVerLabel", true);
    statusBar()->addPermanentWidget(m_hwVerLabel, 0);
    m_fwVerLabel = newLabel(tr("FW:0000"), "fwVerLabel", true);
    statusBar()->addPermanentWidget(m_fwVerLabel, 0);
    m_drvVerLabel = newLabel(tr("DRV:0000"), "drvVerLabel", true);
    statusBar()->addPermanentWidget(m_drvVerLabel, 0);
    // The pattern itself stands there until the first refresh tick.
    m_dateTimeLabel = newLabel(QStringLiteral("yyyy-MM-dd hh:mm:ss"), "dateTimeLabel", false);
    statusBar()->addPermanentWidget(m_dateTimeLabel, 0);
}

void mainWindow::createWidgets()
{
    m_inforWidget = new inforWidget;
    auto* informationDock = new QDockWidget(tr("Information"));
    informationDock->setObjectName(QStringLiteral("informationDock"));
    informationDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    informationDock->setAllowedAreas(Qt::BottomDockWidgetArea);
    informationDock->setWidget(m_inforWidget);
    addDockWidget(Qt::BottomDockWidgetArea, informationDock);

    m_tabWidget = new QTabWidget(this);
    m_tabWidget->setObjectName(QStringLiteral("tabWidget"));
    setCentralWidget(m_tabWidget);

    connect(&g_consolePrint, SIGNAL(signalShowMsg(const QString&)),
            m_inforWidget, SLOT(slotOnShowMsg(const QString&)));
    // The file gets each line exactly as the page showed it.
    m_eventLog = new eventLogFile(eventLogFile::defaultPath(), eventLogFile::kRotateBytes, this);
    m_inforWidget->setLogFolder(m_eventLog->folder());
    connect(m_inforWidget, SIGNAL(signalLineShown(const QString&)), m_eventLog, SLOT(slotOnLine(const QString&)));
}

void mainWindow::createPages()
{
    m_comSettingsWidget = new comSettingsWidget;
    auto* commDock = new QDockWidget(tr("Comm"));
    commDock->setObjectName(QStringLiteral("commDock"));
    commDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    commDock->setAllowedAreas(Qt::LeftDockWidgetArea);
    commDock->setWidget(m_comSettingsWidget);
    addDockWidget(Qt::LeftDockWidgetArea, commDock);
    connect(m_connectAction, SIGNAL(triggered()), m_comSettingsWidget, SLOT(slotOnConnect()));
    connect(m_disconnectAction, SIGNAL(triggered()), m_comSettingsWidget, SLOT(slotOnDisconnect()));

    m_statusMonitorWidget = new statusMonitorWidget;
    m_tabWidget->insertTab(0, m_statusMonitorWidget, tr("Status Monitor"));
    m_tabWidget->setCurrentIndex(0);
    connect(m_comSettingsWidget, SIGNAL(signalPollCycleChanged(uint)),
            m_statusMonitorWidget, SLOT(slotOnPollCycleChanged(uint)));
    connect(m_comSettingsWidget, SIGNAL(signalConnect(comSettings&)),
            m_statusMonitorWidget, SLOT(slotOnConnect(comSettings&)));

    m_configWidget = new configWidget;
    m_firmwareUpdateWidget = new firmwareUpdateWidget;
    // Made now and fed from now on, whether its tab is shown or not.
    m_trendsWidget = new trendsWidget;
    connect(m_statusMonitorWidget->watch(), SIGNAL(signalBlock(const statusDecoder::block&, const statusDecoder::update&)),
            m_trendsWidget, SLOT(slotOnBlock(const statusDecoder::block&, const statusDecoder::update&)));
}

// Made after the pages exist, so what their constructors emit reaches nobody.
void mainWindow::connectPages()
{
    connect(m_firmwareUpdateAction, SIGNAL(triggered(bool)), this, SLOT(slotOnShowFirmwareUpdateWidget(bool)));
    connect(m_configAction, SIGNAL(triggered(bool)), this, SLOT(slotOnShowConfigWidget(bool)));
    connect(m_trendsAction, SIGNAL(triggered(bool)), this, SLOT(slotOnShowTrendsWidget(bool)));
    connect(m_aboutAction, SIGNAL(triggered()), this, SLOT(slotOnAbout()));
    connect(m_helpAction, SIGNAL(triggered()), this, SLOT(slotOnHelpClicked()));
    connect(m_trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)),
            this, SLOT(slotOnTrayIconActivated(QSystemTrayIcon::ActivationReason)));
    connect(m_restoreAction, SIGNAL(triggered()), this, SLOT(slotOnShowNormal()));
    connect(m_tabWidget, SIGNAL(currentChanged(int)), this, SLOT(slotOnCurrentTabChanged(int)));
    connect(&g_consolePrint, SIGNAL(signalShowHwVer(const QString&)), this, SLOT(slotOnShowHwVer(const QString&)));
    connect(&g_consolePrint, SIGNAL(signalShowFwVer(const QString&)), this, SLOT(slotOnShowFwVer(const QString&)));
    connect(&g_consolePrint, SIGNAL(signalShowDrvVer(const QString&)), this, SLOT(slotOnShowDrvVer(const QString&)));
    connect(m_configWidget, SIGNAL(signalOnPolicyChanged(int)), m_statusMonitorWidget, SLOT(slotOnPolicyChanged(int)));
    connect(m_statusMonitorWidget, SIGNAL(signalDC_OK(bool)), this, SLOT(slotOnChangeTrayIcon(bool)));
    connect(m_configWidget, SIGNAL(signalOnPowerEventSettingsChanged()),
            m_statusMonitorWidget, SLOT(slotOnPowerEventSettingsChanged()));
    connect(m_configWidget, SIGNAL(signalTestScript()), m_statusMonitorWidget, SLOT(slotOnTestScript()));
    connect(m_cancelScriptAction, SIGNAL(triggered()), m_statusMonitorWidget, SLOT(slotOnCancelPendingScript()));
    connect(m_statusMonitorWidget, SIGNAL(signalNotify(const QString&, const QString&, bool, const QString&)),
            this, SLOT(slotOnNotify(const QString&, const QString&, bool, const QString&)));
    // After the status page's connection to the same signal: it handles a
    // connect request first.
    connect(m_comSettingsWidget, SIGNAL(signalConnect(comSettings&)), this, SLOT(slotOnConnect(comSettings&)));
}

bool mainWindow::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool mainWindow::hidesToTray() const
{
    return m_trayIcon->isVisible() && trayAvailable();
}

bool mainWindow::sessionEnding() const
{
    return qApp->isSavingSession();
}

void mainWindow::closeEvent(QCloseEvent* event)
{
    // A log-out or shut-down closes every window and is cancelled by one that
    // refuses; the post-process script itself may be what shuts down.
    if (sessionEnding()) {
        event->accept();
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
        return;
    }
    if (hidesToTray()) {
        hide();
        event->ignore();
    }
}

void mainWindow::hideEvent(QHideEvent* event)
{
    // Minimising arrives here as a spontaneous hide: hiding for real takes
    // the window off the task bar as well.
    if (hidesToTray()) {
        hide();
        event->ignore();
    }
}

void mainWindow::slotOnAbout()
{
    const QString notice =
        tr("<h3>Ulmavox &ndash; QR-7215 UPS utility</h3>"
           "<p>Version %1</p>"
           "<p>Monitors and configures the QR-7215 UPS module over its serial "
           "Modbus RTU link: live status, register settings, and a script run "
           "when DC input is lost or SW switches on.</p>"
           "<p>Copyright (C) 2026 the QR-7215 utility authors, GPL-3.0-or-later. "
           "This program comes with ABSOLUTELY NO WARRANTY.</p>"
           "<p>Support: report problems and questions on the project's issue tracker.</p>")
            .arg(QStringLiteral(QR7215_VERSION));
    QMessageBox::about(this, tr("About"), notice);
}

void mainWindow::slotOnShowHwVer(const QString& msg)
{
    m_hwVerLabel->setText(tr("HW:") + msg);
}

void mainWindow::slotOnShowFwVer(const QString& msg)
{
    m_fwVerLabel->setText(tr("FW:") + msg);
}

void mainWindow::slotOnShowDrvVer(const QString& msg)
{
    m_drvVerLabel->setText(tr("DRV:") + msg);
}

void mainWindow::slotOnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        showNormal();
        raise();
        break;
    default:
        break;
    }
}

void mainWindow::slotOnShowNormal()
{
    showNormal();
}

void mainWindow::slotOnBringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void mainWindow::slotOnShowConfigWidget(bool checked)
{
    if (checked)
        m_tabWidget->addTab(m_configWidget, tr("Config"));
    else
        removePageTab(tr("Config"), m_configAction);
}

void mainWindow::slotOnShowFirmwareUpdateWidget(bool checked)
{
    if (checked)
        m_tabWidget->addTab(m_firmwareUpdateWidget, tr("Firmware Update"));
    else
        removePageTab(tr("Firmware Update"), m_firmwareUpdateAction);
}

void mainWindow::slotOnShowTrendsWidget(bool checked)
{
    if (checked)
        m_tabWidget->addTab(m_trendsWidget, tr("Trends"));
    else
        removePageTab(tr("Trends"), m_trendsAction);
}

void mainWindow::removePageTab(const QString& title, QAction* action)
{
    for (int i = 0; i < m_tabWidget->count(); ++i) {
        if (m_tabWidget->tabText(i) != title)
            continue;
        // Stopped before it leaves, so no timer of a hidden page keeps the device busy.
        if (auto* page = qobject_cast<baseWidget*>(m_tabWidget->widget(i)))
            page->slotOnSetEnabled(false);
        action->setChecked(false);
        m_tabWidget->removeTab(i);
    }
}

void mainWindow::slotOnCurrentTabChanged(int index)
{
    // Only the visible page may use the device.
    for (baseWidget* page : {static_cast<baseWidget*>(m_statusMonitorWidget),
                             static_cast<baseWidget*>(m_configWidget),
                             static_cast<baseWidget*>(m_firmwareUpdateWidget),
                             static_cast<baseWidget*>(m_trendsWidget)})
        page->slotOnSetEnabled(false);
    if (auto* page = qobject_cast<baseWidget*>(m_tabWidget->widget(index)))
        page->slotOnSetEnabled(true);
}

void mainWindow::slotOnUpdate()
{
    const bool connected = g_comAdapter.isConnected();
    const linkSupervisor::state link = m_comSettingsWidget->linkState();
    // While an attempt runs or a lost link is being reopened, Disconnect is
    // what stops it.
    const bool busy = connected || link != linkSupervisor::state::Closed;
    m_connectToolBar->setEnabled(!busy);
    m_disconnectToolBar->setEnabled(busy);
    m_connectAction->setEnabled(!busy);
    m_disconnectAction->setEnabled(busy);
    notifyLinkChange(link);
    showPendingScript();
    if (connected) {
        showConnectionState(tr("Connected"), QStringLiteral("background-color:") + QStringLiteral("green"));
        // Hidden without a tray icon the window could be neither restored nor quit.
        if (m_autoHide && m_autoHidden == 0 && hidesToTray()) {
            hide();
            m_autoHidden = 1;
        }
    } else {
        removePageTab(tr("Config"), m_configAction);
        removePageTab(tr("Firmware Update"), m_firmwareUpdateAction);
        removePageTab(tr("Trends"), m_trendsAction);
        if (link == linkSupervisor::state::Lost)
            showConnectionState(tr("Link lost"), QStringLiteral("background-color:") + QStringLiteral("orange"));
        else if (link == linkSupervisor::state::Connecting)
            showConnectionState(tr("Connecting..."), QStringLiteral("background-color:") + QStringLiteral(" "));
        else
            showConnectionState(tr("Disconnected"), QStringLiteral("background-color:") + QStringLiteral(" "));
    }
    m_dateTimeLabel->setText(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

void mainWindow::showPendingScript()
{
    const int left = m_statusMonitorWidget->pendingScriptSeconds();
    const QString countdown = left < 0 ? QString() : tr("Post-process script in %1 s").arg(left);
    m_pendingScriptLabel->setText(countdown);
    m_pendingScriptLabel->setVisible(left >= 0);
    m_cancelScriptAction->setEnabled(left >= 0);
    QString tip = m_lastLinkState == linkSupervisor::state::Lost
                      ? tr("Ulmavox: communication with the module lost, reconnecting")
                      : tr("Ulmavox");
    if (left >= 0)
        tip += QLatin1Char('\n') + countdown;
    showTrayToolTip(tip);
}

void mainWindow::notifyLinkChange(linkSupervisor::state link)
{
    const linkSupervisor::state before = m_lastLinkState;
    m_lastLinkState = link;
    if (link == before)
        return;
    if (link == linkSupervisor::state::Lost)
        slotOnNotify(tr("Link to the module lost"), tr("Reconnecting to the module."), false, QStringLiteral("link"));
    else if (link == linkSupervisor::state::Open && before == linkSupervisor::state::Lost)
        slotOnNotify(tr("Link to the module restored"), tr("The module answers again."), false,
                     QStringLiteral("link"));
}

void mainWindow::slotOnNotify(const QString& summary, const QString& body, bool critical, const QString& key)
{
    if (settingsStore::notify())
        m_notifier->notify(summary, body, critical, key);
}

void mainWindow::showTrayToolTip(const QString& text)
{
    if (m_trayIcon->toolTip() != text)
        m_trayIcon->setToolTip(text);
}

void mainWindow::showConnectionState(const QString& text, const QString& styleSheet)
{
    // Ten ticks a second: setting an unchanged style sheet would re-polish
    // and re-lay out the status bar every time, for nothing.
    m_connectStateLabel->setText(text);
    if (m_connectStateLabel->styleSheet() != styleSheet)
        m_connectStateLabel->setStyleSheet(styleSheet);
}

void mainWindow::slotOnHelpClicked()
{
    // A missing file or viewer is not reported.
    QDesktopServices::openUrl(QUrl::fromLocalFile(dataFile(QStringLiteral("help/help.chm"))));
}

void mainWindow::slotOnChangeTrayIcon(bool state)
{
    m_trayIcon->setIcon(image(state ? "DC.png" : "UPS.png"));
}

void mainWindow::slotOnConnect(comSettings& settings)
{
    m_autoHide = settings.autoHide;
    // The status page switched its display on for the new link; a link
    // reopened while another tab is current leaves that tab's page the one
    // shown. The current page itself is left alone: switching it off would
    // drop the Config page's pending write.
    if (m_tabWidget->currentWidget() != m_statusMonitorWidget)
        m_statusMonitorWidget->slotOnSetEnabled(false);
}

void mainWindow::slotOnDisconnect()
{
}

void mainWindow::slotOnAboutToQuit()
{
    m_updateTimer->stop();
    for (baseWidget* page : {static_cast<baseWidget*>(m_statusMonitorWidget),
                             static_cast<baseWidget*>(m_configWidget),
                             static_cast<baseWidget*>(m_firmwareUpdateWidget),
                             static_cast<baseWidget*>(m_trendsWidget)})
        page->slotOnSetEnabled(false);
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}
