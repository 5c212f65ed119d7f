// The log page: stamps each message with the local time and appends it.
#include "inforwidget.h"

#include <QDateTime>

inforWidget::inforWidget(QWidget* parent)
    : baseWidget(parent)
{
    ui.setupUi(this);
    // The log is a record, not a notepad: typing into it would falsify it.
    ui.m_statusOutput->setReadOnly(true);
    ui.m_statusOutput->setMaximumBlockCount(maxLogLines);
}

QString inforWidget::formatLine(const QDateTime& when, const QString& msg)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QLatin1String(">>") + msg;
}

void inforWidget::slotOnShowMsg(const QString& msg)
{
    ui.m_statusOutput->appendPlainText(formatLine(QDateTime::currentDateTime(), msg));
}
