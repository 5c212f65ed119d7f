// The log page: every message of the bus becomes one time-stamped line in a
// read-only view that keeps the most recent lines; the whole history is in the
// event log file, whose folder the context menu opens.
#pragma once

#include "basewidget.h"
#include "ui_inforwidget.h"

#include <QDateTime>

class inforWidget : public baseWidget
{
    Q_OBJECT
public:
    // Lines kept in the view; older ones are dropped, the file keeps them.
    // Each line costs the view about 0.7 kB, so this holds the view near 3.5 MB.
    static constexpr int maxLogLines = 5000;

    explicit inforWidget(QWidget* parent = nullptr);

    // "yyyy-MM-dd hh:mm:ss.zzz>>" + msg, for the given moment.
    static QString formatLine(const QDateTime& when, const QString& msg);

    // The folder "Open Log Folder" shows.
    void setLogFolder(const QString& folder) { m_logFolder = folder; }
    // What the view holds, one line each, as "Save As…" writes it.
    QString text() const;
    // Writes the view to path; false with the reason when it could not.
    bool saveTo(const QString& path, QString* reason) const;

signals:
    // Each line as it was shown, stamp and all: the event log file writes
    // exactly what the operator saw.
    void signalLineShown(const QString& line);

public slots:
    void slotOnShowMsg(const QString& msg);

private slots:
    void slotOnContextMenu(const QPoint& pos);
    void slotOnSaveAs();
    void slotOnOpenLogFolder();

protected:
    // The file dialog, replaced in tests.
    virtual QString chooseSaveFile();

private:
    Ui::inforWidget ui;
    QString m_logFolder;
};
