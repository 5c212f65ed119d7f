// qr7215-saveloop: saves one of the program's files through the program's own
// code, either once or over and over, so that a test can kill it at any
// moment.
//
//   qr7215-saveloop TARGET MODE CONFIGDIR PADDING
//     TARGET  com | settings | autostart
//     MODE    loop: writes "R" when it starts saving, then "." after every
//             complete save, alternating records b, a, b, ... until killed;
//             a | b: saves that record once
//   Exit: 0 saved (as far as the code can tell), 1 the save reported a
//   failure, 2 bad arguments.
#include "saverecords.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstring>

#include <unistd.h>

namespace {

// Straight to the pipe, unbuffered: the killer must see every mark that was
// made before the kill.
void mark(const char* text)
{
    const size_t length = strlen(text);
    if (::write(STDOUT_FILENO, text, length) != static_cast<ssize_t>(length))
        _exit(4);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    saveRecords::target target;
    bool paddingOk = false;
    const int padding = args.size() == 4 ? args.at(3).toInt(&paddingOk) : 0;
    if (args.size() != 4 || !saveRecords::parseTarget(args.at(0), target) || !paddingOk || padding < 0)
        return 2;
    const QString mode = args.at(1);
    const QString configDir = args.at(2);

    if (mode == QLatin1String("a") || mode == QLatin1String("b"))
        return saveRecords::save(target, mode.at(0).toLatin1(), configDir, padding) ? 0 : 1;
    if (mode != QLatin1String("loop"))
        return 2;

    mark("R");
    for (unsigned n = 0;; ++n) {
        saveRecords::save(target, n % 2 == 0 ? 'b' : 'a', configDir, padding);
        mark(".");
    }
}
