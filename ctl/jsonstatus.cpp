#include "jsonstatus.h"

#include <QJsonValue>
#include <QStringList>

namespace jsonStatus {
namespace {

using namespace statusDecoder;

struct signalName
{
    const char* name;
    int offset;
};

// In the order of the status page's LEDs.
const signalName kSignals[] = {
    {"DC_OK", kDcOk},   {"Bat.Mode", kBatMode},   {"Bat.Ready", kBatReady}, {"SW", kSw},
    {"Remote", kRemote}, {"Bat.Start", kBatStart}, {"Dev.PSts", kDevSts},
};

// A one-shot read has no earlier text to keep: a source the page would
// leave unchanged is unknown here.
QJsonValue orNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString orUnknown(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("unknown") : text;
}

double celsius(quint16 tenths)
{
    return static_cast<qint16>(tenths) / 10.0;
}

} // namespace

QJsonObject object(const block& r)
{
    const quint16 source = r[kPowerSource];
    const quint16 level = r[kBatteryLevel];
    QJsonObject sig;
    for (const signalName& s : kSignals)
        sig.insert(QLatin1String(s.name), r[s.offset] != 0);
    QJsonObject o;
    o.insert(QStringLiteral("input_voltage_mV"), r[kVoltageInput]);
    o.insert(QStringLiteral("output_voltage_mV"), r[kVoltageOutput]);
    o.insert(QStringLiteral("power_supply"), orNull(powerSupplyText(source)));
    o.insert(QStringLiteral("battery_status"), orNull(chargingText(source, level)));
    o.insert(QStringLiteral("battery_level"), qMin<int>(level, 100));
    o.insert(QStringLiteral("signals"), sig);
    o.insert(QStringLiteral("policy_mode"), policyModeText(r[kPolicyMode]));
    o.insert(QStringLiteral("input_current_mA"), r[kCurrentInput]);
    o.insert(QStringLiteral("output_current_mA"), r[kCurrentOutput]);
    o.insert(QStringLiteral("battery_voltage_mV"), r[kBatteryVoltage]);
    o.insert(QStringLiteral("battery_current_mA"), r[kBatteryCurrent]);
    o.insert(QStringLiteral("temperature_C"), celsius(r[kTemperature]));
    o.insert(QStringLiteral("runtime_min"), r[kRuntime]);
    o.insert(QStringLiteral("alarm_flags"), r[kAlarmFlags]);
    o.insert(QStringLiteral("alarms"), alarmText(r[kAlarmFlags]));
    o.insert(QStringLiteral("registers"),
             registers(QR7215_STATUS_BLOCK_START, QVector<quint16>(r.begin(), r.end())));
    return o;
}

QString text(const block& r)
{
    const quint16 source = r[kPowerSource];
    QStringList on;
    QStringList off;
    for (const signalName& s : kSignals)
        (r[s.offset] ? on : off) << QLatin1String(s.name);
    QString out;
    const auto row = [&out](const char* name, const QString& value) {
        out += QStringLiteral("%1 %2\n").arg(QLatin1String(name), -16).arg(value);
    };
    row("Policy mode:", policyModeText(r[kPolicyMode]));
    row("Power supply:", orUnknown(powerSupplyText(source)));
    row("Voltage input:", QString::number(r[kVoltageInput]) + QStringLiteral("mV"));
    row("Voltage output:", QString::number(r[kVoltageOutput]) + QStringLiteral("mV"));
    row("Battery status:", orUnknown(chargingText(source, r[kBatteryLevel])));
    row("Battery level:", QString::number(qMin<int>(r[kBatteryLevel], 100)) + QStringLiteral(" %"));
    row("Signals on:", on.isEmpty() ? QStringLiteral("none") : on.join(QLatin1Char(' ')));
    row("Signals off:", off.isEmpty() ? QStringLiteral("none") : off.join(QLatin1Char(' ')));
    row("Input current:", QString::number(r[kCurrentInput]) + QStringLiteral(" mA"));
    row("Output current:", QString::number(r[kCurrentOutput]) + QStringLiteral(" mA"));
    row("Battery:", QStringLiteral("%1 mV, %2 mA").arg(r[kBatteryVoltage]).arg(r[kBatteryCurrent]));
    row("Temperature:", temperatureText(r[kTemperature]));
    row("Runtime:", QString::number(r[kRuntime]) + QStringLiteral(" min"));
    row("Alarms:", alarmText(r[kAlarmFlags]));
    return out;
}

QString line(const block& r)
{
    QStringList on;
    for (const signalName& s : kSignals) {
        if (r[s.offset])
            on << QLatin1String(s.name);
    }
    return QStringLiteral("in %1mV out %2mV %3 %4 %5% [%6] %7")
        .arg(r[kVoltageInput])
        .arg(r[kVoltageOutput])
        .arg(orUnknown(powerSupplyText(r[kPowerSource])), orUnknown(chargingText(r[kPowerSource], r[kBatteryLevel])))
        .arg(qMin<int>(r[kBatteryLevel], 100))
        .arg(on.join(QLatin1Char(' ')), policyModeText(r[kPolicyMode]));
}

QJsonObject registers(quint16 start, const QVector<quint16>& values)
{
    QJsonObject o;
    for (int i = 0; i < values.size(); ++i)
        o.insert(QString::number(start + i), values[i]);
    return o;
}

} // namespace jsonStatus
