// When the post-process script runs: at once or after a grace delay when DC
// is lost, earlier when the battery level or the runtime estimate falls to a
// threshold, at most once per loss of DC, once more when DC returns after a
// loss that ran it, and at SW on. Fed decoded blocks and the time, so that a
// test drives a whole power loss without waiting for it.
#pragma once

#include "scriptcontext.h"
#include "statusdecoder.h"

#include <QString>
#include <QVector>

class powerEventPolicy
{
public:
    struct settings
    {
        quint32 policy = statusDecoder::kPolicyNone;
        int delaySec = 0;      // 0: at once
        int lowLevel = 0;      // percent; 0: off
        int lowRuntime = 0;    // minutes; 0: off
        bool onRestore = false;
    };

    struct decision
    {
        enum kind {
            Start,          // start the script for event, told about registers
            Log,            // text for the message log
            DelayStarted,   // a countdown begins
            DelayEnded      // the countdown is over: expired, overtaken, or cancelled
                            // (text: why, as logged just before)
        };
        kind what = Log;
        scriptEvent event = scriptEvent::None;
        QString text;
        statusDecoder::block registers{};
    };
    using decisions = QVector<decision>;

    void setSettings(const settings& s);
    const settings& currentSettings() const { return m_settings; }

    // One decoded block. scriptBusy: a script is running, so a start now
    // would be dropped.
    decisions onBlock(const statusDecoder::block& registers, const statusDecoder::update& decoded,
                      qint64 nowMs, bool scriptBusy);
    // The clock moved on: a delay may have run out, with or without blocks.
    decisions onTick(qint64 nowMs, bool scriptBusy);
    // The operator's "Cancel pending script".
    decisions cancelPending();
    // The operator's "Test script", told about the last block seen.
    decisions testRun(bool scriptBusy);

    // The log line for a start dropped because a script is still running.
    static QString droppedText(scriptEvent event);

    bool pending() const { return m_pending; }
    // Whole seconds until the pending script runs, rounded up; -1 when none.
    int secondsLeft(qint64 nowMs) const;

private:
    void start(decisions& out, scriptEvent event, bool scriptBusy);
    void endDelay(decisions& out, const QString& why);
    void checkThresholds(decisions& out, bool scriptBusy);

    settings m_settings;
    statusDecoder::block m_last{};
    bool m_dcAbsent = false;
    // A script started for the current loss of DC (DC_LOST or a threshold).
    bool m_ranThisLoss = false;
    // A threshold start dropped in this loss was logged; it is tried again
    // quietly while the threshold holds.
    bool m_thresholdDropLogged = false;
    bool m_pending = false;
    qint64 m_lossAtMs = 0;
    qint64 m_dueAtMs = 0;
};
