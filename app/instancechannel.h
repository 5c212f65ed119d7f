// Lets a second start of the program reach the one already running: the
// second start leaves at once, as ever, but first asks the first to show and
// raise its window, which may be hidden in the tray.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class instanceChannel : public QObject
{
    Q_OBJECT
public:
    explicit instanceChannel(QObject* parent = nullptr);

    // In the running instance: answers requests on `name` from now on.
    bool listen(const QString& name);
    // In a second start: asks the instance on `name` to show itself. Gives up
    // quietly (false) when none answers within a short time.
    static bool askToShow(const QString& name);

signals:
    void signalShowRequested();

private slots:
    void slotOnNewConnection();

private:
    QLocalServer* m_server = nullptr;
};
