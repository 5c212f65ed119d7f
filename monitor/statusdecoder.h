// Turns one status block into what the status page shows and does: the label
// texts, LED states and gauge level, and the DC_OK and SW edges with their log
// lines and tray signal; when the script runs is the power-event policy's to
// say. Plain code, so tests drive it without a window.
#pragma once

#include "sdk/qr7215registers.h"

#include <QString>
#include <QVector>

#include <array>

namespace statusDecoder {

using block = std::array<quint16, QR7215_STATUS_BLOCK_COUNT>;

// Word offsets inside the block.
enum : int {
    kAlarmFlags = QR7215_REG_ALARM_FLAGS - QR7215_STATUS_BLOCK_START,
    kVoltageInput = QR7215_REG_INPUT_VOLTAGE - QR7215_STATUS_BLOCK_START,
    kCurrentInput = QR7215_REG_INPUT_CURRENT - QR7215_STATUS_BLOCK_START,
    kVoltageOutput = QR7215_REG_OUTPUT_VOLTAGE - QR7215_STATUS_BLOCK_START,
    kCurrentOutput = QR7215_REG_OUTPUT_CURRENT - QR7215_STATUS_BLOCK_START,
    kBatteryVoltage = QR7215_REG_BATTERY_VOLTAGE - QR7215_STATUS_BLOCK_START,
    kBatteryCurrent = QR7215_REG_BATTERY_CURRENT - QR7215_STATUS_BLOCK_START,
    kTemperature = QR7215_REG_TEMPERATURE - QR7215_STATUS_BLOCK_START,
    kRuntime = QR7215_REG_RUNTIME - QR7215_STATUS_BLOCK_START,
    kBatteryLevel = QR7215_REG_BATTERY_LEVEL - QR7215_STATUS_BLOCK_START,
    kPowerSource = QR7215_REG_POWER_SOURCE - QR7215_STATUS_BLOCK_START,
    kDcOk = QR7215_REG_DC_OK - QR7215_STATUS_BLOCK_START,
    kBatMode = QR7215_REG_BAT_MODE - QR7215_STATUS_BLOCK_START,
    kBatReady = QR7215_REG_BAT_READY - QR7215_STATUS_BLOCK_START,
    kSw = QR7215_REG_SW - QR7215_STATUS_BLOCK_START,
    kRemote = QR7215_REG_REMOTE - QR7215_STATUS_BLOCK_START,
    kBatStart = QR7215_REG_BAT_START - QR7215_STATUS_BLOCK_START,
    kDevSts = QR7215_REG_DEV_PSTS - QR7215_STATUS_BLOCK_START,
    kPolicyMode = QR7215_REG_POLICY_MODE - QR7215_STATUS_BLOCK_START
};

// Script policy stored as "batExecutePolicy".
enum : quint32 { kPolicyNone = 0, kPolicyDcLost = 1, kPolicySwOn = 2 };

// The values last reported for the two edge-watched registers. Until the
// first block they are unknown, so that the first block reports the state it
// finds: a start on battery is a loss of DC like any other.
struct edgeState
{
    quint16 lastDcOk = 0;
    quint16 lastSw = 0;
    bool known = false;
};

// The readings the status page does not show, for the "Details" group.
struct details
{
    QString inputCurrent;
    QString outputCurrent;
    QString batteryVoltage;
    QString batteryCurrent;
    QString temperature;   // degrees Celsius, one decimal
    QString runtime;       // minutes
    QString alarms;        // the flags in words, "none" when clear
};

// What the page shows. A label text left empty means "leave the label as it is".
struct view
{
    details more;
    QString voltageInput;
    QString voltageOutput;
    int batteryLevel = 0;          // handed to the gauge, which clamps it
    QString chargingStatus;        // empty: unchanged
    QString powerSupply;           // empty: unchanged
    bool dcOk = false;
    bool batMode = false;
    bool batReady = false;
    bool sw = false;
    bool remote = false;
    bool batStart = false;
    bool devSts = false;
    QString policyMode;
};

// One thing to do, in the order it has to be done.
struct action
{
    enum kind { Log, EmitDcOk };
    kind what;
    QString text;      // Log
    bool state = false; // EmitDcOk
};

struct update
{
    view shown;
    QVector<action> actions;
    edgeState state;
    // The edges of this block, for what acts on them besides the page.
    bool dcLost = false;
    bool dcReturned = false;
    bool swOn = false;
};

update decode(const block& registers, const edgeState& previous);

// What the page shows while the link is closed.
view blank();

// Display texts, translated in the page's context.
QString policyModeText(quint16 value);
QString chargingText(quint16 source, quint16 level);   // empty: unchanged
QString powerSupplyText(quint16 source);               // empty: unchanged
// The module sends tenths of a degree as a signed word.
QString temperatureText(quint16 tenths);
QString alarmText(quint16 flags);

} // namespace statusDecoder
