// Base of every page: the one activation hook through which the main window
// switches a page on or off without knowing its class.
#pragma once

#include <QWidget>

class baseWidget : public QWidget
{
    Q_OBJECT
public:
    explicit baseWidget(QWidget* parent = nullptr);

    virtual void loadConfig(const QString& fileName);
    virtual void saveConfig(const QString& fileName);

signals:
    // Kept for compatibility with the page interface; pages report through g_consolePrint.
    void signalShowMsg(QString msg);

public slots:
    virtual void slotOnSetEnabled(bool enabled);
};
