// The text form of a register value as the operator types and reads it: an
// unsigned decimal number from 0 to 65535, nothing else.
#pragma once

#include <QString>

namespace registerValue {

constexpr quint32 kMaximum = 0xFFFF;

// True and the value when text is digits only and at most 65535; no signs,
// blanks, other bases or an empty text.
bool parse(const QString& text, quint16* value);

} // namespace registerValue
