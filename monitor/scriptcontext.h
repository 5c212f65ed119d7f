// What a post-process script is told about the event that started it: the
// event's name and the module's values from the block that triggered it,
// handed to the script as environment variables.
#pragma once

#include "statusdecoder.h"

#include <QProcessEnvironment>
#include <QString>

enum class scriptEvent { None, DcLost, DcRestored, SwOn, BatteryLow, RuntimeLow, Test };

// "DC_LOST", "DC_RESTORED", "SW_ON", "BATTERY_LOW", "RUNTIME_LOW", "TEST";
// empty for None.
QString scriptEventName(scriptEvent event);

struct scriptContext
{
    scriptEvent event = scriptEvent::None;
    statusDecoder::block registers{};
    QString port;
    int slave = 0;

    // The given environment with the QR7215_ variables added; with no event
    // it is left as it is.
    QProcessEnvironment environment(const QProcessEnvironment& base) const;
};
