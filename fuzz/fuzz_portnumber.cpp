// portNumberFromName on any text: never a crash, and a number only when the
// name's digits (dots kept) spell exactly that number.
#include "comsettingswidget.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const int number = portNumberFromName(name);
    if (number < -1)
        abort();
    if (number >= 0) {
        // What is left of the name once everything but digits and dots is gone.
        QString digits;
        for (const QChar c : name) {
            if (c.isDigit() || c == QLatin1Char('.'))
                digits += c;
        }
        if (digits != QString::number(number))
            abort();
    }
    return 0;
}
