#include "powereventpolicy.h"

using statusDecoder::kPolicyDcLost;
using statusDecoder::kPolicySwOn;

namespace {

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000) + QStringLiteral(" s");
}

bool countsForLoss(scriptEvent event)
{
    return event == scriptEvent::DcLost || event == scriptEvent::BatteryLow || event == scriptEvent::RuntimeLow;
}

powerEventPolicy::decision logLine(const QString& text)
{
    powerEventPolicy::decision d;
    d.what = powerEventPolicy::decision::Log;
    d.text = text;
    return d;
}

} // namespace

QString powerEventPolicy::droppedText(scriptEvent event)
{
    return QStringLiteral("Post-process script not started for ") + scriptEventName(event)
           + QStringLiteral(": the previous run has not ended.");
}

void powerEventPolicy::setSettings(const settings& s)
{
    m_settings = s;
    // A countdown belongs to the DC_OK policy; another policy ends it here,
    // since nothing else would.
    if (m_pending && s.policy != kPolicyDcLost)
        m_pending = false;
}

int powerEventPolicy::secondsLeft(qint64 nowMs) const
{
    if (!m_pending)
        return -1;
    const qint64 left = qMax<qint64>(0, m_dueAtMs - nowMs);
    return static_cast<int>((left + 999) / 1000);
}

void powerEventPolicy::start(decisions& out, scriptEvent event, bool scriptBusy)
{
    if (scriptBusy) {
        out.append(logLine(droppedText(event)));
        return;
    }
    decision d;
    d.what = decision::Start;
    d.event = event;
    d.registers = m_last;
    out.append(d);
    if (countsForLoss(event))
        m_ranThisLoss = true;
}

void powerEventPolicy::endDelay(decisions& out, const QString& why)
{
    m_pending = false;
    if (!why.isEmpty())
        out.append(logLine(why));
    decision d;
    d.what = decision::DelayEnded;
    d.text = why;
    out.append(d);
}

powerEventPolicy::decisions powerEventPolicy::onBlock(const statusDecoder::block& registers,
                                                      const statusDecoder::update& decoded, qint64 nowMs,
                                                      bool scriptBusy)
{
    decisions out;
    m_last = registers;
    const bool dcPolicy = m_settings.policy == kPolicyDcLost;

    if (decoded.dcLost) {
        m_ranThisLoss = false;
        m_thresholdDropLogged = false;
        m_lossAtMs = nowMs;
        if (dcPolicy && m_settings.delaySec <= 0) {
            start(out, scriptEvent::DcLost, scriptBusy);
        } else if (dcPolicy) {
            m_pending = true;
            m_dueAtMs = nowMs + qint64(m_settings.delaySec) * 1000;
            out.append(logLine(QStringLiteral("Post-process script pending: it runs in ")
                               + QString::number(m_settings.delaySec) + QStringLiteral(" s unless DC returns.")));
            decision d;
            d.what = decision::DelayStarted;
            out.append(d);
        }
    }
    if (decoded.dcReturned) {
        if (m_pending)
            endDelay(out, QStringLiteral("Post-process script cancelled: DC returned after ")
                              + seconds(nowMs - m_lossAtMs) + QStringLiteral("."));
        // Undoing is for a loss the script acted on; a loss that ran nothing
        // has nothing to undo.
        if (dcPolicy && m_settings.onRestore && m_ranThisLoss)
            start(out, scriptEvent::DcRestored, scriptBusy);
        m_ranThisLoss = false;
    }
    m_dcAbsent = decoded.state.known && decoded.state.lastDcOk == 0;
    if (m_dcAbsent && dcPolicy && !m_ranThisLoss)
        checkThresholds(out, scriptBusy);

    if (decoded.swOn && m_settings.policy == kPolicySwOn)
        start(out, scriptEvent::SwOn, scriptBusy);
    return out;
}

void powerEventPolicy::checkThresholds(decisions& out, bool scriptBusy)
{
    const int level = m_last[statusDecoder::kBatteryLevel];
    const int runtime = m_last[statusDecoder::kRuntime];
    scriptEvent event = scriptEvent::None;
    QString why;
    if (m_settings.lowLevel > 0 && level <= m_settings.lowLevel) {
        event = scriptEvent::BatteryLow;
        why = QStringLiteral("Battery level ") + QString::number(level) + QStringLiteral(" % is at or below ")
              + QString::number(m_settings.lowLevel) + QStringLiteral(" %.");
    } else if (m_settings.lowRuntime > 0 && runtime <= m_settings.lowRuntime) {
        event = scriptEvent::RuntimeLow;
        why = QStringLiteral("Runtime estimate ") + QString::number(runtime) + QStringLiteral(" min is at or below ")
              + QString::number(m_settings.lowRuntime) + QStringLiteral(" min.");
    }
    if (event == scriptEvent::None)
        return;
    // Every block repeats a threshold that holds: a busy runner is reported
    // once, and the start is made as soon as the runner is free.
    if (scriptBusy) {
        if (m_thresholdDropLogged)
            return;
        m_thresholdDropLogged = true;
    }
    out.append(logLine(why));
    start(out, event, scriptBusy);
    if (m_ranThisLoss && m_pending)
        endDelay(out, QString());
}

powerEventPolicy::decisions powerEventPolicy::onTick(qint64 nowMs, bool scriptBusy)
{
    decisions out;
    if (!m_pending || nowMs < m_dueAtMs)
        return out;
    endDelay(out, QString());
    if (!m_ranThisLoss)
        start(out, scriptEvent::DcLost, scriptBusy);
    return out;
}

powerEventPolicy::decisions powerEventPolicy::cancelPending()
{
    decisions out;
    if (m_pending)
        endDelay(out, QStringLiteral("Post-process script cancelled by the operator."));
    return out;
}

powerEventPolicy::decisions powerEventPolicy::testRun(bool scriptBusy)
{
    decisions out;
    start(out, scriptEvent::Test, scriptBusy);
    return out;
}
