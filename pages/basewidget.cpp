#include "basewidget.h"

baseWidget::baseWidget(QWidget* parent)
    : QWidget(parent)
{
}

void baseWidget::loadConfig(const QString&)
{
}

void baseWidget::saveConfig(const QString&)
{
}

void baseWidget::slotOnSetEnabled(bool)
{
}
