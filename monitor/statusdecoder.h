// Turns one status block into what the status page shows and does: the label
// texts, LED states and gauge level, and the DC_OK and SW edges with their log
// lines, tray signal and script start. Plain code, so tests drive it without
// a window.
#pragma once

#include <QString>
#include <QVector>

#include <array>

namespace statusDecoder {

using block = std::array<quint16, 20>;

// Word offsets inside the block (register 40016 + offset).
enum : int {
    kVoltageInput = 0,    // 40016
    kVoltageOutput = 2,   // 40018
    kBatteryLevel = 10,   // 40026
    kPowerSource = 11,    // 40027
    kDcOk = 12,           // 40028
    kBatMode = 13,        // 40029
    kBatReady = 14,       // 40030
    kSw = 15,             // 40031
    kRemote = 16,         // 40032
    kBatStart = 17,       // 40033
    kDevSts = 18,         // 40034
    kPolicyMode = 19      // 40035
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

// What the page shows. A label text left empty means "leave the label as it is".
struct view
{
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
    enum kind { Log, EmitDcOk, StartScript };
    kind what;
    QString text;      // Log
    bool state = false; // EmitDcOk
};

struct update
{
    view shown;
    QVector<action> actions;
    edgeState state;
};

update decode(const block& registers, const edgeState& previous, quint32 policy);

// What the page shows while the link is closed.
view blank();

// Display texts, translated in the page's context.
QString policyModeText(quint16 value);
QString chargingText(quint16 source, quint16 level);   // empty: unchanged
QString powerSupplyText(quint16 source);               // empty: unchanged

} // namespace statusDecoder
