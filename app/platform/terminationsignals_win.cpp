// Ctrl+C, Ctrl+Break and closing the console the program was started from.
// The handler runs on a thread of its own that the system starts; it posts
// WM_QUIT to the thread that runs the event loop, which Qt's Windows event
// dispatcher answers by quitting the application. A program started without
// a console gets no such events; logging off reaches its windows as the
// session-end messages Qt handles itself.
#include "terminationsignals.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<DWORD> g_eventLoopThread{0};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const DWORD thread = g_eventLoopThread.load();
    if (thread == 0)
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The system ends the process as soon as this returns: wait here
        // while the program quits; its exit ends this thread too.
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
        Sleep(10000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool quitOnTerminationSignals()
{
    if (g_eventLoopThread.exchange(GetCurrentThreadId()) != 0)
        return false;
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != FALSE;
}

} // namespace platform
