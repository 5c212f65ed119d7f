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
        m_opened = open(port);
    }
    ~fakeLink() { closeAny(); }
    fakeLink(const fakeLink&) = delete;
    fakeLink& operator=(const fakeLink&) = delete;

    bool isOpen() const { return m_opened; }

    // Over whatever the fake holds now; closed by closeAny().
    static bool open(const QString& port = QStringLiteral("ttyFAKE0"))
    {
        comSettings settings;
        settings.comPort = port;
        return g_comAdapter.slotOpenDevice(&settings) == 0 && g_comAdapter.isConnected();
    }

    static void closeAny()
    {
        if (g_comAdapter.isConnected())
            g_comAdapter.slotCloseDevice();
    }

private:
    bool m_opened = false;
};
