// Test access to the watch and the status page: hand them a block as if the
// poll thread had delivered it, reach the poll thread and script runner, read
// the page's widgets.
#pragma once

#include "batterywidget.h"
#include "statusmonitorwidget.h"

#include <QLabel>

class powerWatchProbe
{
public:
    static void feed(powerWatch& watch, const statusDecoder::block& b) { watch.handleBlock(b); }
    static batThread* runner(powerWatch& watch) { return watch.m_batThread; }
    static monitorThread* poller(powerWatch& watch) { return watch.m_monitorThread; }
};

class statusMonitorWidgetProbe
{
public:
    // A block as the poll delivers it, with the page's tab current or not.
    static void feed(statusMonitorWidget& page, const statusDecoder::block& b, bool shown = true)
    {
        page.m_enabled = shown;
        powerWatchProbe::feed(*page.m_watch, b);
    }
    static batThread* runner(statusMonitorWidget& page) { return powerWatchProbe::runner(*page.m_watch); }
    static monitorThread* poller(statusMonitorWidget& page) { return powerWatchProbe::poller(*page.m_watch); }

    static QString label(statusMonitorWidget& page, const char* name)
    {
        auto* l = page.findChild<QLabel*>(QLatin1String(name));
        return l ? l->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
    }

    static batteryWidget* gauge(statusMonitorWidget& page)
    {
        return page.findChild<batteryWidget*>(QStringLiteral("m_batteryWidget"));
    }
};
