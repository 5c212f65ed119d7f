// The watch over the module's power: polls the status block, reports its
// DC_OK and SW edges and starts the post-process script as the stored policy
// and the power-event settings say. It owns no widget, so the status page
// shows what it sees and a program without a window runs the same watch.
#pragma once

#include "comsettings.h"
#include "powereventpolicy.h"
#include "statusdecoder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;
class batThread;
class monitorThread;

class powerWatch : public QObject
{
    Q_OBJECT
public:
    explicit powerWatch(QObject* parent = nullptr);
    // Stops the poll and ends a running script.
    ~powerWatch() override;

    // Polls with the settings' period; the link itself belongs to the
    // adapter. A closed or lost link idles the loop, which picks a reopened
    // link up by itself, so the watch runs until stop().
    void start(const comSettings& settings);
    // At quit: no more polling, a running script is killed.
    void stop();
    // A running poll takes the period from its next sleep on.
    void setPollCycle(quint32 ms);
    void setPolicy(quint32 policy);
    // The script path, the policy and the power-event settings, from the store.
    void reloadSettings();

    // Seconds until a pending script runs; -1 when none is pending.
    int pendingScriptSeconds() const;
    void cancelPendingScript();
    // Runs the script at once for the event TEST.
    void testScript();

    quint16 lastDcOk() const { return m_edges.lastDcOk; }
    quint16 lastSw() const { return m_edges.lastSw; }
    quint32 policy() const { return m_powerEvents.currentSettings().policy; }
    const powerEventPolicy::settings& powerEventSettings() const { return m_powerEvents.currentSettings(); }
    bool isPolling() const;

signals:
    // Every block read, whatever is shown, with what it decodes to.
    void signalBlock(const statusDecoder::block& registers, const statusDecoder::update& decoded);
    void signalDC_OK(bool state);
    // Something the person at the desk should see; a notification with a
    // key replaces the last one with the same key.
    void signalNotify(const QString& summary, const QString& body, bool critical, const QString& key);

private slots:
    void slotOnReadResultReady();
    void slotOnDelayTick();
    void slotOnScriptEnded(const QString& outcome);

private:
    // Lets tests hand the watch a block and reach its two threads.
    friend class powerWatchProbe;

    void handleBlock(const statusDecoder::block& registers);
    void act(const powerEventPolicy::decision& d);
    void notifyEdges(const statusDecoder::block& registers, const statusDecoder::update& u);
    qint64 now() const { return m_clock.elapsed(); }

    monitorThread* m_monitorThread = nullptr;
    batThread* m_batThread = nullptr;
    statusDecoder::edgeState m_edges;
    powerEventPolicy m_powerEvents;
    QElapsedTimer m_clock;
    // Runs while a delay is pending.
    QTimer* m_delayTimer = nullptr;
    // Of the link the blocks come from, for the script.
    QString m_port;
    int m_slave = 0;
};
