// Program entry: one instance per user session, then the main window.
#include "mainwindow.h"
#include "singleinstance.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // A second start leaves quietly; the first instance is not disturbed.
    if (!platform::acquireSingleInstance("QR-7215_UTILITY"))
        return 0;

    // Destroyed before the application object, so the pages end while Qt,
    // the device adapter and the message bus are all still there.
    const auto window = std::make_unique<mainWindow>();
    window->show();
    return app.exec();
}
