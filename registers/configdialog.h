// The small dialog in which the operator writes one register: it shows the
// row's address and value and, on Ok, hands the entered value on as a write
// request. It never talks to the device itself.
#pragma once

#include <QDialog>

#include <memory>

class DataObject;
class QAbstractButton;

namespace Ui {
class configDialog;
}

class configDialog : public QDialog
{
    Q_OBJECT
public:
    explicit configDialog(QWidget* parent = nullptr);
    ~configDialog() override;

signals:
    void signalDataChanged(qint32 regAddr, qint16 value, bool modify);
    void signalDialogShown(bool show);

public slots:
    void slotOnShowDialog(DataObject* dataObj, short value);
    void slotOnAccept();
    void slotOnExit();
    void slotOnButtonBoxClicked(QAbstractButton* button);

private:
    void updateOkButton();
    void fitFormToFont();

    std::unique_ptr<Ui::configDialog> m_ui;
};
