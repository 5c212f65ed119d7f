// The log page: stamps each message with the local time and appends it.
#include "inforwidget.h"

#include "consoleprint.h"
#include "eventlogfile.h"
#include "wholefile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QUrl>

inforWidget::inforWidget(QWidget* parent)
    : baseWidget(parent)
{
    ui.setupUi(this);
    // The log is a record, not a notepad: typing into it would falsify it.
    ui.m_statusOutput->setReadOnly(true);
    ui.m_statusOutput->setMaximumBlockCount(maxLogLines);
    ui.m_statusOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.m_statusOutput, &QWidget::customContextMenuRequested, this, &inforWidget::slotOnContextMenu);
}

QString inforWidget::formatLine(const QDateTime& when, const QString& msg)
{
    return eventLogFile::formatLine(when, msg);
}

void inforWidget::slotOnShowMsg(const QString& msg)
{
    const QString line = formatLine(QDateTime::currentDateTime(), msg);
    ui.m_statusOutput->appendPlainText(line);
    emit signalLineShown(line);
}

QString inforWidget::text() const
{
    QString all = ui.m_statusOutput->toPlainText();
    if (!all.isEmpty())
        all += QLatin1Char('\n');
    return all;
}

bool inforWidget::saveTo(const QString& path, QString* reason) const
{
    return wholeFile::save(path, text().toUtf8(), reason);
}

void inforWidget::slotOnContextMenu(const QPoint& pos)
{
    QMenu* menu = ui.m_statusOutput->createStandardContextMenu(pos);
    menu->addSeparator();
    menu->addAction(tr("Save As…"), this, &inforWidget::slotOnSaveAs);
    // The view only; the file keeps every line.
    menu->addAction(tr("Clear"), ui.m_statusOutput, &QPlainTextEdit::clear);
    QAction* open = menu->addAction(tr("Open Log Folder"), this, &inforWidget::slotOnOpenLogFolder);
    open->setEnabled(!m_logFolder.isEmpty());
    menu->exec(ui.m_statusOutput->mapToGlobal(pos));
    delete menu;
}

QString inforWidget::chooseSaveFile()
{
    return QFileDialog::getSaveFileName(this, tr("Save Log As"), QDir::homePath() + QStringLiteral("/QR-7215-log.txt"),
                                        tr("Text files (*.txt *.log);;All files (*)"));
}

void inforWidget::slotOnSaveAs()
{
    const QString path = chooseSaveFile();
    if (path.isEmpty())
        return;
    QString reason;
    if (!saveTo(path, &reason))
        g_consolePrint.showMsg(QStringLiteral("Cannot save the log to %1: %2").arg(QDir::toNativeSeparators(path), reason));
}

void inforWidget::slotOnOpenLogFolder()
{
    // The folder appears with the first line written; make it so the file
    // manager has something to open before then.
    QDir().mkpath(m_logFolder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_logFolder));
}
