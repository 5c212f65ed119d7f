// The text form of a register value as the operator types and reads it: an
// unsigned decimal number from 0 to 65535, nothing else.
#pragma once

#include <QString>

namespace registerValue {

constexpr quint32 kMaximum = 0xFFFF;

// True and the value when text is digits only and at most 65535; no signs,
// blanks, other bases or an empty text.
bool parse(const QString& text, quint16* value);

enum verdict { Accepted, Empty, NotANumber, OutOfRange };

// What text is to a register that takes minimum to maximum: Accepted, and
// the value, only for a number within that range.
verdict check(const QString& text, quint16 minimum, quint16 maximum, quint16* value);

} // namespace registerValue
