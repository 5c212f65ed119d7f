#include "scriptcontext.h"

QString scriptEventName(scriptEvent event)
{
    switch (event) {
    case scriptEvent::None: break;
    case scriptEvent::DcLost: return QStringLiteral("DC_LOST");
    case scriptEvent::DcRestored: return QStringLiteral("DC_RESTORED");
    case scriptEvent::SwOn: return QStringLiteral("SW_ON");
    case scriptEvent::BatteryLow: return QStringLiteral("BATTERY_LOW");
    case scriptEvent::RuntimeLow: return QStringLiteral("RUNTIME_LOW");
    case scriptEvent::Test: return QStringLiteral("TEST");
    }
    return QString();
}

QProcessEnvironment scriptContext::environment(const QProcessEnvironment& base) const
{
    QProcessEnvironment env = base;
    if (event == scriptEvent::None)
        return env;
    auto value = [this](int offset) { return QString::number(registers[static_cast<size_t>(offset)]); };
    env.insert(QStringLiteral("QR7215_EVENT"), scriptEventName(event));
    env.insert(QStringLiteral("QR7215_BATTERY_LEVEL"), value(statusDecoder::kBatteryLevel));
    env.insert(QStringLiteral("QR7215_RUNTIME_MIN"), value(statusDecoder::kRuntime));
    env.insert(QStringLiteral("QR7215_INPUT_MV"), value(statusDecoder::kVoltageInput));
    env.insert(QStringLiteral("QR7215_OUTPUT_MV"), value(statusDecoder::kVoltageOutput));
    env.insert(QStringLiteral("QR7215_PORT"), port);
    env.insert(QStringLiteral("QR7215_SLAVE"), QString::number(slave));
    return env;
}
