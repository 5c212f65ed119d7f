// The "Firmware Update" page: a file path and a download command. The device
// offers no transfer procedure, so the controls are laid out and stay inert.
#pragma once

#include "basewidget.h"
#include "ui_firmwareupdatewidget.h"

class QLabel;
class QLineEdit;
class QPushButton;

class firmwareUpdateWidget : public baseWidget
{
    Q_OBJECT
public:
    explicit firmwareUpdateWidget(QWidget* parent = nullptr);

public slots:
    void slotOnSetEnabled(bool enabled) override;

private:
    Ui::firmwareUpdateWidget ui;
    QLabel* m_filePathLabel = nullptr;
    QLineEdit* m_filePathEdit = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_downloadButton = nullptr;
};
