// Program entry: one instance per user session, then the main window.
#include "comadapter.h"
#include "instancechannel.h"
#include "instancechannelname.h"
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

    // A second start shows nothing of its own and leaves with 0; it only
    // asks the running instance, perhaps hidden in the tray, to come forward.
    const char kInstanceName[] = "QR-7215_UTILITY";
    const QString channelName = platform::instanceChannelName(kInstanceName);
    if (!platform::acquireSingleInstance(kInstanceName)) {
        instanceChannel::askToShow(channelName);
        return 0;
    }

    // The device is closed before anything else winds down (before the main
    // window's own handler, connected later), so that a read in flight on a
    // hung module is cut short instead of waited for.
    g_comAdapter.closeFirstOnQuit(&app);

    // Destroyed before the application object, so the pages end while Qt,
    // the device adapter and the message bus are all still there.
    const auto window = std::make_unique<mainWindow>();
    instanceChannel channel;
    QObject::connect(&channel, SIGNAL(signalShowRequested()), window.get(), SLOT(slotOnBringToFront()));
    channel.listen(channelName);
    window->show();
    return app.exec();
}
