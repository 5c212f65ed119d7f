// The "Status Monitor" page: shows the module's live state from the blocks the
// poll thread delivers, reports DC_OK and SW edges and starts the post-process
// script as the stored policy and the power-event settings say.
#pragma once

#include "basewidget.h"
#include "comsettings.h"
#include "powereventpolicy.h"
#include "statusdecoder.h"

#include <QElapsedTimer>
#include <QString>

class QTimer;
class batThread;
class monitorThread;

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

    quint16 lastDcOk() const { return m_lastDcOk; }
    quint16 lastSw() const { return m_lastSw; }
    quint32 policy() const { return m_policy; }
    quint32 pollCycle() const { return m_pollCycle; }
    QString batPath() const { return m_batPath; }
    const powerEventPolicy::settings& powerEventSettings() const { return m_powerEvents.currentSettings(); }
    // Seconds until a pending script runs; -1 when none is pending.
    int pendingScriptSeconds() const;

signals:
    void signalDC_OK(bool state);
    void signalProcessBatScript();
    // Something the person at the desk should see; a notification with a
    // key replaces the last one with the same key.
    void signalNotify(const QString& summary, const QString& body, bool critical, const QString& key);
    // Every block decoded, for what samples it beside the page.
    void signalBlock(const statusDecoder::block& registers, const statusDecoder::update& u);

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
    void slotOnReadResultReady();
    void slotOnDelayTick();
    void slotOnScriptEnded(const QString& outcome);

private:
    // Lets tests hand the page a block and reach its two threads.
    friend class statusMonitorWidgetProbe;

    void handleBlock(const statusDecoder::block& registers);
    // At quit and destruction: no more polling, a running script is killed.
    void stopThreads();
    void showView(const statusDecoder::view& view);
    void act(const powerEventPolicy::decision& d);
    void notifyEdges(const statusDecoder::block& registers, const statusDecoder::update& u);
    qint64 now() const { return m_clock.elapsed(); }

    Ui::statusMonitorWidget* ui;
    QTimer* m_timer = nullptr;
    int m_refreshInterval = 20;
    quint16 m_lastDcOk = 0;
    quint16 m_lastSw = 0;
    // False until the first block: that one reports what it finds.
    bool m_edgesKnown = false;
    QString m_batPath;
    quint32 m_policy = 0;
    batThread* m_batThread = nullptr;
    monitorThread* m_monitorThread = nullptr;
    quint32 m_pollCycle = 10;
    // Whether the page's display follows the blocks: only while its tab is
    // current. The watch itself runs on every tab.
    bool m_enabled = false;
    // What the last block showed, for the display when its tab comes back.
    statusDecoder::view m_lastView;
    bool m_haveView = false;
    powerEventPolicy m_powerEvents;
    QElapsedTimer m_clock;
    // Runs while a delay is pending, on every tab.
    QTimer* m_delayTimer = nullptr;
    // Of the link the blocks come from, for the script.
    QString m_port;
    int m_slave = 0;
};
