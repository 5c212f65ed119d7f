// The connection page: edits the connection record, keeps it in
// configs/config_com.xml, opens and closes the device, follows the adapter's
// connected flag and performs Auto Connect once after start-up.
#pragma once

#include "basewidget.h"
#include "comsettings.h"
#include "linksupervisor.h"

#include <QString>

#include <memory>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTimer;
class QWidget;

class comSettingsWidget : public baseWidget
{
    Q_OBJECT
public:
    explicit comSettingsWidget(QWidget* parent = nullptr);
    ~comSettingsWidget() override;

    void loadConfig(const QString& fileName) override;
    void saveConfig(const QString& fileName) override;

    // Keep the start-up entry in step with the Auto Boot option.
    void registerAutoBoot();
    void unregisterAutoBoot();

    // The page's one connection record.
    const comSettings& settings() const { return *m_settings; }
    // Where the link stands: the window's status bar and tray follow it.
    linkSupervisor::state linkState() const { return m_link->currentState(); }

signals:
    void signalPollCycleChanged(uint value);
    void signalConnect(comSettings& settings);
    void signalDisconnect();

public slots:
    void slotOnLoadConfig();
    void slotOnSaveConfig();
    void slotOnConnect();
    void slotOnDisconnect();
    void slotOnAutoBoot(int checked);

private slots:
    void slotOnUpdate();
    void slotOnLinkOpened();

private:
    void createControls();
    void showLinkState();
    void showRecord();
    void fitRecordToControls();
    QString configFile() const;

    QString m_configDir;
    // Where the connection file lives and, on a first start in an installed
    // tree, the file beside the executable it starts from (else empty).
    QString m_configDefault;
    std::unique_ptr<comSettings> m_settings;
    QTimer* m_timer = nullptr;
    bool m_firstTickDone = false;
    // The click of Auto Connect: its attempts go on until the module answers.
    bool m_autoConnecting = false;
    linkSupervisor* m_link = nullptr;
    // Set while the record is put on the controls: those changes are not edits.
    bool m_showingRecord = false;

    QComboBox* m_comboBoxComMode = nullptr;
    QComboBox* m_comboBoxComPort = nullptr;
    QSpinBox* m_spinBoxDeviceId = nullptr;
    QComboBox* m_comboBoxBaudRate = nullptr;
    QComboBox* m_comboBoxDataLen = nullptr;
    QComboBox* m_comboBoxStopBits = nullptr;
    QComboBox* m_comboBoxParity = nullptr;
    QSpinBox* m_spinBoxRespTimeout = nullptr;
    QSpinBox* m_spinBoxRetryCount = nullptr;
    QSpinBox* m_spinBoxPollCycle = nullptr;
    QPushButton* m_pushButtonConnect = nullptr;
    QPushButton* m_pushButtonDisconnect = nullptr;
    QCheckBox* m_checkBoxAutoConnect = nullptr;
    QCheckBox* m_checkBoxAutoBoot = nullptr;
    QCheckBox* m_checkBoxAutoHide = nullptr;
    // Rows 1 to 10: locked while the device is connected.
    QWidget* m_lineSettings[10] = {};
};

// The number a port name carries: COM12 gives 12, ttyUSB3 gives 3; a name
// without a plain number (COM012, COM1.5, ttyS, empty) gives -1.
int portNumberFromName(const QString& name);
