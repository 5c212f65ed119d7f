// Program entry: one instance per user session, then the main window.
#include "comadapter.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "terminationsignals.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // kill, logging out and Ctrl+C end the program as the tray's Quit does,
    // so the poll thread, the script and the device are wound down first.
    // Before the lock is taken: whoever sees the lock may send a signal at once.
    platform::quitOnTerminationSignals();

    // A second start leaves quietly; the first instance is not disturbed.
    if (!platform::acquireSingleInstance("QR-7215_UTILITY"))
        return 0;

    // The device is closed before anything else winds down (before the main
    // window's own handler, connected later), so that a read in flight on a
    // hung module is cut short instead of waited for.
    g_comAdapter.closeFirstOnQuit(&app);

    // Destroyed before the application object, so the pages end while Qt,
    // the device adapter and the message bus are all still there.
    const auto window = std::make_unique<mainWindow>();
    window->show();
    return app.exec();
}
