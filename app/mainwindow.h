// The main window: menus, tool bars, tray icon, status bar, the log dock and
// the central tab widget in which the pages are shown.
#pragma once

#include "linksupervisor.h"
#include "ui_mainwindow.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

class QAction;
class QCloseEvent;
class QHideEvent;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QToolBar;
class comSettings;
class comSettingsWidget;
class configWidget;
class eventLogFile;
class firmwareUpdateWidget;
class inforWidget;
class statusMonitorWidget;
class trendsWidget;
namespace platform {
class desktopNotifier;
}

class mainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit mainWindow(QWidget* parent = nullptr);
    ~mainWindow() override;

    // The optional style sheet, Themes/MainPage.qss in the data folder.
    static QString styleSheetPath();

signals:
    void signalShowMsg(QString msg);

protected slots:
    void slotOnAbout();
    void slotOnShowHwVer(const QString& msg);
    void slotOnShowFwVer(const QString& msg);
    void slotOnShowDrvVer(const QString& msg);

private slots:
    void slotOnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void slotOnShowNormal();
    void slotOnShowConfigWidget(bool checked);
    void slotOnShowFirmwareUpdateWidget(bool checked);
    void slotOnShowTrendsWidget(bool checked);
    void slotOnCurrentTabChanged(int index);
    void slotOnUpdate();
    void slotOnHelpClicked();
    void slotOnChangeTrayIcon(bool state);
    void slotOnConnect(comSettings& settings);
    void slotOnDisconnect();
    // A power or link event for the person at the desk, unless the operator
    // turned notifications off.
    void slotOnNotify(const QString& summary, const QString& body, bool critical, const QString& key);
    // Ends what runs in the background before the program goes away.
    void slotOnAboutToQuit();

public slots:
    // A second start asked this one to show itself.
    void slotOnBringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // Whether the desktop shows a system tray; tests choose the answer.
    virtual bool trayAvailable() const;
    // Whether the session manager is ending the session; tests choose the answer.
    virtual bool sessionEnding() const;

private:
    void createActions();
    void createTrayIcon();
    void createStatusBar();
    void createWidgets();
    void createPages();
    void connectPages();

    // Close and minimise go to the tray only where the tray icon can bring
    // the window back; elsewhere they act as usual.
    bool hidesToTray() const;
    void showConnectionState(const QString& text, const QString& styleSheet);
    void showTrayToolTip(const QString& text);
    void removePageTab(const QString& title, QAction* action);
    // The countdown of a pending script and the link's changes, every tick.
    void showPendingScript();
    void notifyLinkChange(linkSupervisor::state link);

    QMenu* m_controlMenu = nullptr;
    QMenu* m_optionMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QToolBar* m_connectToolBar = nullptr;
    QToolBar* m_disconnectToolBar = nullptr;
    QToolBar* m_helpToolBar = nullptr;
    QToolBar* m_viewToolBar = nullptr;
    QAction* m_connectAction = nullptr;
    QAction* m_disconnectAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_helpAction = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_restoreAction = nullptr;
    QAction* m_minimizeAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_cancelScriptAction = nullptr;
    QAction* m_firmwareUpdateAction = nullptr;
    QAction* m_configAction = nullptr;
    QAction* m_trendsAction = nullptr;
    comSettingsWidget* m_comSettingsWidget = nullptr;
    configWidget* m_configWidget = nullptr;
    firmwareUpdateWidget* m_firmwareUpdateWidget = nullptr;
    statusMonitorWidget* m_statusMonitorWidget = nullptr;
    trendsWidget* m_trendsWidget = nullptr;
    QLabel* m_connectStateLabel = nullptr;
    QLabel* m_pendingScriptLabel = nullptr;
    QLabel* m_hwVerLabel = nullptr;
    QLabel* m_fwVerLabel = nullptr;
    QLabel* m_drvVerLabel = nullptr;
    QLabel* m_dateTimeLabel = nullptr;
    QTabWidget* m_tabWidget = nullptr;
    inforWidget* m_inforWidget = nullptr;
    eventLogFile* m_eventLog = nullptr;
    QTimer* m_updateTimer = nullptr;
    platform::desktopNotifier* m_notifier = nullptr;
    linkSupervisor::state m_lastLinkState = linkSupervisor::state::Closed;
    qint32 m_autoHidden = 0;
    bool m_autoHide = false;
    Ui::mainWindowClass ui;
};
