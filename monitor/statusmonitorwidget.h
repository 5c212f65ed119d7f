// The "Status Monitor" page: shows the module's live state from the blocks its
// watch delivers. The watch (powerWatch) reports the edges and starts the
// script; the page passes the window's settings and requests on to it.
#pragma once

#include "basewidget.h"
#include "comsettings.h"
#include "powerwatch.h"
#include "statusdecoder.h"

#include <QString>

class QTimer;

namespace Ui {
class statusMonitorWidget;
}

class statusMonitorWidget : public baseWidget
{
    Q_OBJECT
public:
    explicit statusMonitorWidget(QWidget* parent = nullptr);
    // Stops the display timer and the poll thread and ends a running script.
    ~statusMonitorWidget() override;

    quint16 lastDcOk() const { return m_watch->lastDcOk(); }
    quint16 lastSw() const { return m_watch->lastSw(); }
    quint32 policy() const { return m_policy; }
    quint32 pollCycle() const { return m_pollCycle; }
    QString batPath() const { return m_batPath; }
    const powerEventPolicy::settings& powerEventSettings() const { return m_watch->powerEventSettings(); }
    // Seconds until a pending script runs; -1 when none is pending.
    int pendingScriptSeconds() const { return m_watch->pendingScriptSeconds(); }
    // Every block, on every tab: for what else follows the module.
    powerWatch* watch() const { return m_watch; }

signals:
    void signalDC_OK(bool state);
    void signalProcessBatScript();
    // Something the person at the desk should see; a notification with a
    // key replaces the last one with the same key.
    void signalNotify(const QString& summary, const QString& body, bool critical, const QString& key);

public slots:
    void slotOnSetEnabled(bool enabled) override;
    void slotOnPolicyChanged(int policy);
    void slotOnPollCycleChanged(uint value);
    void slotOnConnect(comSettings& settings);
    void slotOnDisconnect();
    // The power-event settings changed in the store.
    void slotOnPowerEventSettingsChanged();
    void slotOnCancelPendingScript();
    // Runs the script at once for the event TEST.
    void slotOnTestScript();

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void slotOnUpdate();
    void slotOnProcessBatScript();
    void slotOnLoadFromRegisterTable();
    void slotOnBlock(const statusDecoder::block& registers, const statusDecoder::update& decoded);

private:
    // Lets tests reach the page's widgets and its watch.
    friend class statusMonitorWidgetProbe;

    void showView(const statusDecoder::view& view);

    Ui::statusMonitorWidget* ui;
    QTimer* m_timer = nullptr;
    int m_refreshInterval = 20;
    QString m_batPath;
    quint32 m_policy = 0;
    powerWatch* m_watch = nullptr;
    quint32 m_pollCycle = 10;
    // Whether the page's display follows the blocks: only while its tab is
    // current. The watch itself runs on every tab.
    bool m_enabled = false;
    // What the last block showed, for the display when its tab comes back.
    statusDecoder::view m_lastView;
    bool m_haveView = false;
};
