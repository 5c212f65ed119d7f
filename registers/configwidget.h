// The "Config" page: the live register table, from which writable registers
// are written through the write dialog, and the post-process policy and
// script kept in the settings store.
#pragma once

#include "basewidget.h"

#include <QModelIndex>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class configDialog;
class upsDataModel;

class configWidget : public baseWidget
{
    Q_OBJECT
public:
    explicit configWidget(QWidget* parent = nullptr);
    ~configWidget() override;

    // True while the table is being refreshed from the device.
    bool isRefreshing() const;

signals:
    void signalOnPolicyChanged(int policy);

public slots:
    void slotOnSetEnabled(bool enabled) override;
    void slotOnConfigDialogShown(bool show);
    void slotOnUpdate();
    void slotOnRowDoubleClicked(QModelIndex index);
    void slotOnOpenBatFile();
    void slotOnLoadFromRegisterTable();
    void slotOnSaveToRegisterTable();
    void slotOnPolicyChanged(int policy);

protected:
    // Asks the operator for the script; an empty result means cancelled.
    virtual QString chooseScriptFile();

private:
    void loadSettings();

    QTableView* m_tableView = nullptr;
    upsDataModel* m_dataModel = nullptr;
    QLabel* m_lblBatPath = nullptr;
    QLineEdit* m_lineEditBatPath = nullptr;
    QPushButton* m_btnOpenBatFile = nullptr;
    configDialog* m_configDialog = nullptr;
    QComboBox* m_comboPolicy = nullptr;
    quint32 m_policy = 0;
    QTimer* m_timer = nullptr;
    QString m_batPath;
};
