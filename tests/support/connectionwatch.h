// Catches broken string-based connections made while a test function runs.
// QtTest logs messages through a handler of its own during the run and does
// not pass them on, so this watch has to be installed on top of it (from
// initTestCase) to see them.
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

namespace connectionwatch {

inline std::atomic<int>& brokenCount()
{
    static std::atomic<int> count{0};
    return count;
}

inline QtMessageHandler& previousHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    // Qt's own tray code probes a signal that only its X11 plugin has; that
    // miss under the offscreen platform is not ours.
    if (type == QtWarningMsg && msg.startsWith(QLatin1String("QObject::connect: "))
        && !msg.contains(QLatin1String("QPlatformNativeInterface::systemTrayWindowChanged")))
        ++brokenCount();
    if (previousHandler())
        previousHandler()(type, context, msg);
}

inline void install()
{
    previousHandler() = qInstallMessageHandler(handler);
}

// Broken connections seen since the last call.
inline int take()
{
    return brokenCount().exchange(0);
}

} // namespace connectionwatch
