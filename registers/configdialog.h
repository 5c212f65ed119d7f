// The small dialog in which the operator writes one register: it shows the
// row's name, address, value and the values the register takes, and, on Ok,
// hands the entered value on as a write request. It never talks to the
// device itself.
#pragma once

#include <QDialog>

#include <memory>

class DataObject;
class QAbstractButton;
class QLabel;

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
    void addRegisterRows();
    void updateOkButton();
    void fitFormToFont();

    std::unique_ptr<Ui::configDialog> m_ui;
    // Beside the form: what the register is called, the values it takes and
    // why the value typed cannot be written.
    QLabel* m_lblRegisterNameValue = nullptr;
    QLabel* m_lblRangeValue = nullptr;
    QLabel* m_lblValueProblem = nullptr;
    QWidget* m_rangeRow = nullptr;
    quint16 m_minimum = 0;
    quint16 m_maximum = 0xFFFF;
};
