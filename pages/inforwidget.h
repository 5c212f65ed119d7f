// The log page: every message of the bus becomes one time-stamped line in a
// read-only view that keeps the most recent lines.
#pragma once

#include "basewidget.h"
#include "ui_inforwidget.h"

#include <QDateTime>

class inforWidget : public baseWidget
{
    Q_OBJECT
public:
    // Lines kept in the view; older ones are dropped so a long run cannot grow
    // the log without bound. Each line costs the view about 0.7 kB, so this
    // holds the log near 7 MB at its fullest.
    static constexpr int maxLogLines = 10000;

    explicit inforWidget(QWidget* parent = nullptr);

    // "yyyy-MM-dd hh:mm:ss.zzz>>" + msg, for the given moment.
    static QString formatLine(const QDateTime& when, const QString& msg);

public slots:
    void slotOnShowMsg(const QString& msg);

private:
    Ui::inforWidget ui;
};
