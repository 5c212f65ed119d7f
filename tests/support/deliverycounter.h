// Counts a signal's deliveries in the test's own thread. A signal emitted by
// another thread arrives queued, so the count is never touched by two threads
// at once (QSignalSpy records in the emitting thread).
#pragma once

#include <QObject>

class deliveryCounter : public QObject
{
public:
    template <class Sender, class Signal>
    deliveryCounter(Sender* sender, Signal signal)
    {
        connect(sender, signal, this, [this] { ++m_count; });
    }

    int count() const { return m_count; }

private:
    int m_count = 0;
};
