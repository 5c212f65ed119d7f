#include "statusdecoder.h"

#include <QCoreApplication>
#include <QStringList>

#include <iterator>

namespace statusDecoder {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("statusMonitorWidget", text);
}

QString millivolts(quint16 value)
{
    return QString::number(value) + QStringLiteral("mV");
}

QString milliamperes(quint16 value)
{
    return QString::number(value) + QStringLiteral("mA");
}

} // namespace

QString temperatureText(quint16 tenths)
{
    return QString::number(static_cast<qint16>(tenths) / 10.0, 'f', 1) + QStringLiteral(" \u00b0C");
}

QString alarmText(quint16 flags)
{
    static const char* const names[] = {QT_TRANSLATE_NOOP("statusMonitorWidget", "over-temperature"),
                                        QT_TRANSLATE_NOOP("statusMonitorWidget", "battery fault"),
                                        QT_TRANSLATE_NOOP("statusMonitorWidget", "output overload")};
    QStringList words;
    for (int bit = 0; bit < 16; ++bit) {
        if (!(flags & (1u << bit)))
            continue;
        // A flag a later module adds is still shown, by its number.
        words << (bit < int(std::size(names)) ? tr(names[bit]) : tr("bit %1").arg(bit));
    }
    return words.isEmpty() ? tr("none") : words.join(QStringLiteral(", "));
}

QString policyModeText(quint16 value)
{
    switch (value) {
    case 0: return tr("PC");
    case 1: return tr("0.5 A");
    case 2: return tr("0.4 A");
    case 3: return tr("0.3 A");
    case 4: return tr("0.2 A");
    case 5: return QString(QChar(0x221E)) + tr(" Sec.");
    case 6: return tr("20 Sec.");
    case 7: return tr("15 Sec.");
    case 8: return tr("10 Sec.");
    case 9: return tr("5 Sec.");
    default: return tr("NULL");
    }
}

QString chargingText(quint16 source, quint16 level)
{
    if (source == QR7215_POWER_DC && level < 100)
        return tr("Charging");
    if (source == QR7215_POWER_DC && level == 100)
        return tr("Charge Full");
    if (source == QR7215_POWER_BATTERY)
        return tr("Discharging");
    return QString();
}

QString powerSupplyText(quint16 source)
{
    if (source == QR7215_POWER_DC)
        return tr("DC");
    if (source == QR7215_POWER_BATTERY)
        return tr("UPS");
    return QString();
}

update decode(const block& r, const edgeState& previous)
{
    update u;
    u.state = previous;
    view& v = u.shown;

    v.voltageInput = millivolts(r[kVoltageInput]);
    v.voltageOutput = millivolts(r[kVoltageOutput]);
    v.batteryLevel = r[kBatteryLevel];
    v.chargingStatus = chargingText(r[kPowerSource], r[kBatteryLevel]);
    v.powerSupply = powerSupplyText(r[kPowerSource]);
    v.more.inputCurrent = milliamperes(r[kCurrentInput]);
    v.more.outputCurrent = milliamperes(r[kCurrentOutput]);
    v.more.batteryVoltage = millivolts(r[kBatteryVoltage]);
    v.more.batteryCurrent = milliamperes(r[kBatteryCurrent]);
    v.more.temperature = temperatureText(r[kTemperature]);
    v.more.runtime = QString::number(r[kRuntime]) + tr(" min");
    v.more.alarms = alarmText(r[kAlarmFlags]);

    // Only edges are reported; a steady state says nothing more.
    const quint16 dc = r[kDcOk];
    const bool known = previous.known;
    if (dc != 0) {
        if (!known || u.state.lastDcOk == 0) {
            u.actions.append({action::Log, QStringLiteral("DC is connected."), false});
            u.state.lastDcOk = dc;
            u.actions.append({action::EmitDcOk, QString(), true});
            u.dcReturned = known;
        }
    } else if (!known || u.state.lastDcOk != 0) {
        u.actions.append({action::Log, QStringLiteral("DC is broken."), false});
        u.state.lastDcOk = 0;
        u.actions.append({action::EmitDcOk, QString(), false});
        u.dcLost = true;
    }
    v.dcOk = dc != 0;

    v.batMode = r[kBatMode] != 0;
    v.batReady = r[kBatReady] != 0;

    const quint16 sw = r[kSw];
    if (sw != 0) {
        if (!known || u.state.lastSw == 0) {
            u.actions.append({action::Log, QStringLiteral("SW ON."), false});
            u.state.lastSw = sw;
            u.swOn = true;
        }
    } else if (u.state.lastSw != 0) {
        u.actions.append({action::Log, QStringLiteral("SW OFF."), false});
        u.state.lastSw = 0;
    }
    v.sw = sw != 0;
    u.state.known = true;

    v.remote = r[kRemote] != 0;
    v.batStart = r[kBatStart] != 0;
    v.devSts = r[kDevSts] != 0;
    v.policyMode = policyModeText(r[kPolicyMode]);
    return u;
}

view blank()
{
    view v;
    v.voltageInput = millivolts(0);
    v.voltageOutput = millivolts(0);
    v.batteryLevel = 0;
    v.chargingStatus = tr("NULL");
    v.powerSupply = tr("NULL");
    v.policyMode = tr("NULL");
    return v;
}

} // namespace statusDecoder
