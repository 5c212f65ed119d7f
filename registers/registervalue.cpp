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

verdict check(const QString& text, quint16 minimum, quint16 maximum, quint16* value)
{
    if (text.isEmpty())
        return Empty;
    quint16 word = 0;
    if (!parse(text, &word))
        return NotANumber;
    if (word < minimum || word > maximum)
        return OutOfRange;
    if (value)
        *value = word;
    return Accepted;
}

} // namespace registerValue
