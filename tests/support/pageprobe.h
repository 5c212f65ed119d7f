// Test access to the status page: hand it a block as if the poll thread had
// delivered it, reach its poll thread and script runner, read its widgets.
#pragma once

#include "batterywidget.h"
#include "ledwidget.h"
#include "statusmonitorwidget.h"

#include <QLabel>

class statusMonitorWidgetProbe
{
public:
    // A block as the poll delivers it, with the page's tab current or not.
    static void feed(statusMonitorWidget& page, const statusDecoder::block& b, bool shown = true)
    {
        page.m_enabled = shown;
        page.handleBlock(b);
    }
    static batThread* runner(statusMonitorWidget& page) { return page.m_batThread; }
    static monitorThread* poller(statusMonitorWidget& page) { return page.m_monitorThread; }

    static QString label(statusMonitorWidget& page, const char* name)
    {
        auto* l = page.findChild<QLabel*>(QLatin1String(name));
        return l ? l->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
    }

    static bool lit(statusMonitorWidget& page, const char* name)
    {
        auto* led = page.findChild<ledWidget*>(QLatin1String(name));
        if (!led)
            qFatal("no LED %s", name);
        return led->isOn();
    }

    static batteryWidget* gauge(statusMonitorWidget& page)
    {
        return page.findChild<batteryWidget*>(QStringLiteral("m_batteryWidget"));
    }
};
