// The "Config" page: the live register table, from which writable registers
// are written through the write dialog, and the post-process policy and
// script kept in the settings store, with the power-event settings around
// them and a button that tries the script.
#pragma once

#include "basewidget.h"

#include <QModelIndex>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;
class configDialog;
class registerTransaction;
class registerWorker;
class upsDataModel;

class configWidget : public baseWidget
{
    Q_OBJECT
public:
    explicit configWidget(QWidget* parent = nullptr);
    ~configWidget() override;

    // True while the table is being refreshed from the device.
    bool isRefreshing() const;
    // True from a refresh handing its exchange to the worker until the table
    // has taken the outcome in.
    bool isExchanging() const;

signals:
    void signalOnPolicyChanged(int policy);
    // A power-event setting was stored anew.
    void signalOnPowerEventSettingsChanged();
    // The operator asked for a test run of the stored script.
    void signalTestScript();

public slots:
    void slotOnSetEnabled(bool enabled) override;
    void slotOnConfigDialogShown(bool show);
    void slotOnUpdate();
    void slotOnRowDoubleClicked(QModelIndex index);
    void slotOnOpenBatFile();
    // Empties the script path, on the page and in the settings store.
    void slotOnClearBatFile();
    void slotOnLoadFromRegisterTable();
    void slotOnSaveToRegisterTable();
    void slotOnPolicyChanged(int policy);
    void slotOnDelayChanged(int seconds);
    void slotOnLowLevelChanged(int percent);
    void slotOnLowRuntimeChanged(int minutes);
    void slotOnRestoreToggled(bool on);
    void slotOnNotifyToggled(bool on);
    void slotOnNutFeedToggled(bool on);
    void slotOnNutFileEdited();
    void slotOnTestScript();

protected:
    // Asks the operator for the script; an empty result means cancelled.
    virtual QString chooseScriptFile();

private slots:
    void slotOnTransactionDone(const registerTransaction& transaction);

private:
    void loadSettings();
    QLayout* createPowerEventControls();
    // Redraws the table with its current values, keeping the selection.
    void showValues();

    QTableView* m_tableView = nullptr;
    upsDataModel* m_dataModel = nullptr;
    QLabel* m_lblBatPath = nullptr;
    QLineEdit* m_lineEditBatPath = nullptr;
    QPushButton* m_btnOpenBatFile = nullptr;
    QPushButton* m_btnClearBatFile = nullptr;
    QPushButton* m_btnTestScript = nullptr;
    QSpinBox* m_spinDelay = nullptr;
    QSpinBox* m_spinLowLevel = nullptr;
    QSpinBox* m_spinLowRuntime = nullptr;
    QCheckBox* m_checkOnRestore = nullptr;
    QCheckBox* m_checkNotify = nullptr;
    QCheckBox* m_checkNutFeed = nullptr;
    QLineEdit* m_lineEditNutFile = nullptr;
    configDialog* m_configDialog = nullptr;
    QComboBox* m_comboPolicy = nullptr;
    quint32 m_policy = 0;
    QTimer* m_timer = nullptr;
    QString m_batPath;
    // The device exchanges of the refresh run here, off the GUI thread.
    registerWorker* m_worker = nullptr;
    // A refresh came while the last exchange was still running.
    bool m_refreshOwed = false;
};
