#include "wirelimit.h"

#include "wiretime.h"

namespace wireLimit {

double readMs(int registers, unsigned baud)
{
    constexpr size_t kRequestBytes = 8;
    const size_t answerBytes = 5 + 2 * static_cast<size_t>(registers);
    return static_cast<double>(qr7215sim::wireTime(kRequestBytes, answerBytes, baud).count()) / 1e6;
}

QString readText(int registers, unsigned baud)
{
    return QString::number(readMs(registers, baud), 'f', 1) + QStringLiteral(" ms/read");
}

} // namespace wireLimit
