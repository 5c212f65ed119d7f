// The window child: the benchmark started again, from a folder of its own
// (utilityProcess), running the program's start sequence and main window,
// and taking one step an operator would take that nothing outside the
// process can take on a headless display. It reports on standard output, one
// line at a time.
//
//   --window-child [--script PATH] [--config-tab] [--connect-watch SECONDS]
//
// --script PATH: the post-process script, policy 1 (DC lost), as the Config
//   page stores them.
// --config-tab: once the link is open, Option > Config and its tab made
//   current; prints "tab NAME" with the current tab's name.
// --connect-watch SECONDS: Connect pressed (the record has no Auto Connect),
//   the GUI thread's event loop watched for SECONDS, Disconnect pressed, then
//   Connect again and the program quit with that attempt in flight; prints
//   "watch ..." with what was seen, then "quit-ns T" just before the quit.
#include "benchsections.h"

#include "comadapter.h"
#include "eventloopwatch.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "terminationsignals.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void say(const QString& line)
{
    std::fputs((line + '\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void showConfigTab(mainWindow& window)
{
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    auto* action = window.findChild<QAction*>(QStringLiteral("configAction"));
    if (!tabs || !action) {
        say(QStringLiteral("tab none"));
        return;
    }
    if (!action->isChecked())
        action->trigger();
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == QLatin1String("Config"))
            tabs->setCurrentIndex(i);
    }
    say(QStringLiteral("tab ") + tabs->tabText(tabs->currentIndex()));
}

// Presses Connect on a silent module, watches, presses Disconnect, presses
// Connect again and quits.
void watchConnect(mainWindow& shown, int seconds)
{
    mainWindow* window = &shown;
    auto* connectAction = window->findChild<QAction*>(QStringLiteral("connectAction"));
    auto* disconnectAction = window->findChild<QAction*>(QStringLiteral("disconnectAction"));
    auto* state = window->findChild<QLabel*>(QStringLiteral("connectStateLabel"));
    if (!connectAction || !disconnectAction || !state) {
        say(QStringLiteral("watch none"));
        QCoreApplication::exit(4);
        return;
    }
    auto* watch = new eventLoopWatch(window);
    watch->start();
    connectAction->trigger();
    QTimer::singleShot(seconds * 1000, window, [=] {
        // What the status bar said with the attempt in flight.
        const QString during = state->text();
        QElapsedTimer took;
        took.start();
        disconnectAction->trigger();
        const double disconnectMs = took.nsecsElapsed() / 1e6;
        QTimer::singleShot(200, window, [=] {
            watch->stop();
            say(QStringLiteral("watch stall-ms %1 blocked %2 over20 %3 disconnect-ms %4 during %5 after %6")
                    .arg(watch->longestStallMs(), 0, 'f', 2)
                    .arg(watch->blockedShare() * 100, 0, 'f', 2)
                    .arg(watch->stallsOver20Ms())
                    .arg(disconnectMs, 0, 'f', 2)
                    .arg(QString(during).replace(' ', '_'), QString(state->text()).replace(' ', '_')));
            connectAction->trigger();
            QTimer::singleShot(100, window, [] {
                say(QStringLiteral("quit-ns %1").arg(benchSupport::monotonicNs()));
                QCoreApplication::quit();
            });
        });
    });
}

} // namespace

int windowChild(int argc, char** argv)
{
    QString script;
    bool configTab = false;
    int connectWatchS = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc)
            script = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--config-tab") == 0)
            configTab = true;
        else if (std::strcmp(argv[i], "--connect-watch") == 0 && i + 1 < argc)
            connectWatchS = std::atoi(argv[++i]);
        else
            return 2;
    }

    // The program's own sequence (app/main.cpp), without the second-start channel.
    QApplication app(argc, argv);
    platform::quitOnTerminationSignals();
    if (!platform::acquireSingleInstance("QR-7215_UTILITY"))
        return 3;
    if (!script.isEmpty()) {
        settingsStore::setBatPath(script);
        settingsStore::setBatExecutePolicy(1);
    }
    g_comAdapter.closeFirstOnQuit(&app);
    const auto window = std::make_unique<mainWindow>();
    window->show();

    QTimer step;
    step.setInterval(10);
    QObject::connect(&step, &QTimer::timeout, window.get(), [&] {
        if (!window->windowHandle() || !window->windowHandle()->isExposed())
            return;
        if (connectWatchS > 0) {
            step.stop();
            watchConnect(*window, connectWatchS);
        } else if (configTab && g_comAdapter.isConnected()) {
            step.stop();
            // After the link's own connect handling, which makes the current
            // tab's page the active one.
            QTimer::singleShot(200, window.get(), [&] { showConfigTab(*window); });
        }
    });
    if (connectWatchS > 0 || configTab)
        step.start();
    return app.exec();
}
