// qr7215ctl: the module from a terminal, a script or a service, without a
// window. See ctlOptions::helpText() and the README for the commands.
#include "comadapter.h"
#include "ctlcommands.h"
#include "ctlexit.h"
#include "ctloptions.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qr7215ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QR7215_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    ctlOptions options;
    if (!options.parse(QCoreApplication::arguments(), QCoreApplication::applicationDirPath())) {
        err << "qr7215ctl: " << options.error() << "\n(qr7215ctl --help lists the commands)" << Qt::endl;
        return ctlExit::Usage;
    }
    if (options.helpRequested()) {
        out << ctlOptions::helpText();
        return ctlExit::Ok;
    }
    if (options.versionRequested()) {
        out << "qr7215ctl " << QR7215_VERSION << Qt::endl;
        return ctlExit::Ok;
    }
    // A termination signal ends watch and monitor through the event loop;
    // the close then cuts a read in flight short. The one-shot commands keep
    // the system's default: Ctrl+C ends them at once, whatever they wait for.
    if (options.what() == ctlOptions::command::Watch || options.what() == ctlOptions::command::Monitor) {
        g_comAdapter.closeFirstOnQuit(&app);
        platform::quitOnTerminationSignals();
    }
    ctlCommands commands(out, err, QCoreApplication::applicationDirPath());
    return commands.run(options);
}
