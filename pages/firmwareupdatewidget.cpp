// Builds the firmware page's controls; nothing is wired to them.
#include "firmwareupdatewidget.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int buttonMinimumWidth = 80;
}

firmwareUpdateWidget::firmwareUpdateWidget(QWidget* parent)
    : baseWidget(parent)
{
    ui.setupUi(this);

    m_filePathLabel = new QLabel(tr("File Path:"));
    m_filePathEdit = new QLineEdit;
    m_openButton = new QPushButton(tr("Open"));
    m_openButton->setMinimumWidth(buttonMinimumWidth);
    m_downloadButton = new QPushButton(tr("Download"));
    m_downloadButton->setMinimumWidth(buttonMinimumWidth);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_filePathLabel);
    fileRow->addWidget(m_filePathEdit);
    fileRow->addWidget(m_openButton);

    auto* commandRow = new QHBoxLayout;
    commandRow->addStretch();
    commandRow->addWidget(m_downloadButton);

    auto* group = new QGroupBox(tr("Firmware Update"));
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(fileRow);
    groupLayout->addLayout(commandRow);

    auto* pageLayout = new QVBoxLayout(this);
    pageLayout->addWidget(group);
    pageLayout->addStretch();
}

void firmwareUpdateWidget::slotOnSetEnabled(bool enabled)
{
    baseWidget::slotOnSetEnabled(enabled);
}
