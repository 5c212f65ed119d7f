// A link to the fake device library through the one adapter, opened for a
// scope and closed at its end whatever the test did, with the fake's state
// reset first.
#pragma once

#include "comadapter.h"
#include "comsettings.h"
#include "fakesdk.h"

class fakeLink
{
public:
    explicit fakeLink(const QString& port = QStringLiteral("ttyFAKE0"))
    {
        closeAny();
        fakesdk::reset();
        comSettings settings;
        settings.comPort = port;
        m_opened = g_comAdapter.slotOpenDevice(&settings) == 0 && g_comAdapter.isConnected();
    }
    ~fakeLink() { closeAny(); }
    fakeLink(const fakeLink&) = delete;
    fakeLink& operator=(const fakeLink&) = delete;

    bool isOpen() const { return m_opened; }

    static void closeAny()
    {
        if (g_comAdapter.isConnected())
            g_comAdapter.slotCloseDevice();
    }

private:
    bool m_opened = false;
};
