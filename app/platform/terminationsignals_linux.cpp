// SIGTERM, SIGINT and SIGHUP through a self-pipe: the handler, which may run
// on any thread and may do nothing but async-signal-safe calls, writes one
// byte; a socket notifier in the application's thread reads it and quits.
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// Written by the handler, read by the notifier; never closed, a signal may
// come at any moment until the process is gone.
int g_pipe[2] = {-1, -1};

void onTerminationSignal(int signo)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signo);
    // A full pipe already holds a request to quit; one more adds nothing.
    ssize_t written = ::write(g_pipe[1], &byte, 1);
    (void)written;
    errno = savedErrno;
}

void drain(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

bool quitOnTerminationSignals()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_pipe[0] >= 0)
        return false;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }

    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, app);
    notifier->setObjectName(QStringLiteral("terminationSignalNotifier"));
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        drain(g_pipe[0]);
        QCoreApplication::quit();
    });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Restarted: a read or write of another thread must not fail with EINTR
    // because a request to quit came in.
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        installed = ::sigaction(signo, &action, nullptr) == 0 && installed;
    return installed;
}

} // namespace platform
