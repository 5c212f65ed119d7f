// The "Status Monitor" page: shows the module's live state from the blocks the
// poll thread delivers, reports DC_OK and SW edges and starts the post-process
// script as the stored policy says.
#pragma once

#include "basewidget.h"
#include "comsettings.h"
#include "statusdecoder.h"

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

signals:
    void signalDC_OK(bool state);
    void signalProcessBatScript();

public slots:
    void slotOnSetEnabled(bool enabled) override;
    void slotOnPolicyChanged(int policy);
    void slotOnPollCycleChanged(uint value);
    void slotOnConnect(comSettings& settings);
    void slotOnDisconnect();

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void slotOnUpdate();
    void slotOnProcessBatScript();
    void slotOnLoadFromRegisterTable();
    void slotOnReadResultReady();

private:
    // Lets tests hand the page a block and reach its two threads.
    friend class statusMonitorWidgetProbe;

    void handleBlock(const statusDecoder::block& registers);
    // At quit and destruction: no more polling, a running script is killed.
    void stopThreads();
    void showView(const statusDecoder::view& view);

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
};
