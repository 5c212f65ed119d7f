// Request scheduling and operator commands of the simulator.
#include "simulatorcore.h"

#include <algorithm>

#include "commandparser.h"
#include "wiretime.h"

namespace qr7215sim {

simulatorCore::simulatorCore(uint8_t slaveAddress, unsigned baud)
    : m_slave(m_bank, slaveAddress)
    , m_baud(baud)
{
}

void simulatorCore::receive(const uint8_t* data, size_t size, clock::time_point now)
{
    m_frames.feed(data, size, now);
}

std::vector<uint8_t> simulatorCore::poll(clock::time_point now)
{
    while (m_nextBatteryStep && now >= *m_nextBatteryStep) {
        m_bank.stepBattery();
        if (m_bank.batteryMoving())
            *m_nextBatteryStep += kBatteryStep;
        else
            m_nextBatteryStep.reset();
    }

    for (const std::vector<uint8_t>& frame : m_frames.takeFrames(now)) {
        std::vector<uint8_t> answer = m_slave.handle(frame);
        if (answer.empty())
            continue;
        const auto late = std::chrono::duration_cast<clock::duration>(
            m_slave.fault().delay + wireTime(frame.size(), answer.size(), m_baud));
        heldAnswer held{now + late, std::move(answer)};
        // Keep the queue in due order; equal times keep their arrival order.
        const auto at = std::upper_bound(m_held.begin(), m_held.end(), held.due,
                                         [](clock::time_point t, const heldAnswer& h) { return t < h.due; });
        m_held.insert(at, std::move(held));
    }

    std::vector<uint8_t> out;
    while (!m_held.empty() && m_held.front().due <= now) {
        out.insert(out.end(), m_held.front().bytes.begin(), m_held.front().bytes.end());
        m_held.erase(m_held.begin());
    }
    return out;
}

std::optional<simulatorCore::clock::time_point> simulatorCore::nextWake() const
{
    std::optional<clock::time_point> wake = m_frames.silenceDeadline();
    auto earliest = [&wake](clock::time_point t) {
        if (!wake || t < *wake)
            wake = t;
    };
    if (!m_held.empty())
        earliest(m_held.front().due);
    if (m_nextBatteryStep)
        earliest(*m_nextBatteryStep);
    return wake;
}

std::string simulatorCore::command(const std::string& line, clock::time_point now, bool& quit)
{
    quit = false;
    const parseResult parsed = parseCommand(line);
    if (!parsed.ok)
        return "error: " + parsed.error;
    const simCommand& c = parsed.command;
    faultSetting fault;
    switch (c.kind) {
    case commandKind::set:
        m_bank.set(c.reg, static_cast<uint16_t>(c.value));
        return "ok";
    case commandKind::get: {
        uint16_t value = 0;
        m_bank.get(c.reg, value);
        return std::to_string(value);
    }
    case commandKind::powerFail:
    case commandKind::powerRestore:
        if (c.kind == commandKind::powerFail)
            m_bank.powerFail();
        else
            m_bank.powerRestore();
        m_nextBatteryStep.reset();
        if (m_bank.batteryMoving())
            m_nextBatteryStep = now + kBatteryStep;
        return "ok";
    case commandKind::faultTimeout:
        fault.mode = faultMode::timeout;
        break;
    case commandKind::faultDelay:
        fault.mode = faultMode::delay;
        fault.delay = std::chrono::milliseconds(c.value);
        break;
    case commandKind::faultCrc:
        fault.mode = faultMode::crc;
        break;
    case commandKind::faultException:
        fault.mode = faultMode::exception;
        fault.exceptionCode = static_cast<uint8_t>(c.value);
        break;
    case commandKind::faultNone:
        break;
    case commandKind::requests:
        return std::to_string(m_slave.requestCount());
    case commandKind::pending:
        return std::to_string(m_held.size());
    case commandKind::quit:
        quit = true;
        return "ok";
    }
    m_slave.setFault(fault);
    return "ok";
}

} // namespace qr7215sim
