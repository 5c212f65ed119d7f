#include "registervalue.h"

namespace registerValue {

bool parse(const QString& text, quint16* value)
{
    if (text.isEmpty())
        return false;
    // toUInt alone would accept blanks around the number and a sign.
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const uint number = text.toUInt(&ok, 10);
    if (!ok || number > kMaximum)
        return false;
    if (value)
        *value = static_cast<quint16>(number);
    return true;
}

} // namespace registerValue
