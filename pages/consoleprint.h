// The process-wide message bus: log lines and the device's version texts travel
// from whichever thread raises them to the log page and the status bar.
#pragma once

#include <QObject>
#include <QString>

class consolePrint : public QObject
{
    Q_OBJECT
public:
    consolePrint() = default;

    // Callable from any thread; receivers in the GUI thread get the text queued.
    void showMsg(const QString& msg);
    void showHwVer(const QString& msg);
    void showFwVer(const QString& msg);
    void showDrvVer(const QString& msg);

signals:
    void signalShowMsg(const QString& msg);
    void signalShowHwVer(const QString& msg);
    void signalShowFwVer(const QString& msg);
    void signalShowDrvVer(const QString& msg);
};

extern consolePrint g_consolePrint;
