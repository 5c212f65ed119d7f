#include "ctlmonitor.h"

#include "comadapter.h"
#include "consoleprint.h"
#include "ctlexit.h"
#include "eventlogfile.h"
#include "linksupervisor.h"
#include "nutdatafile.h"
#include "powerwatch.h"

#include <QCoreApplication>
#include <QDateTime>

#include <memory>

ctlMonitor::ctlMonitor()
{
    connect(&g_consolePrint, &consolePrint::signalShowFwVer, this, [this](const QString& v) { m_firmware = v; });
}

QString ctlMonitor::stamped(const QString& line)
{
    return eventLogFile::formatLine(QDateTime::currentDateTime(), line);
}

int ctlMonitor::run(const ctlOptions& o)
{
    comSettings settings;
    settings.assignFrom(o.settings());

    linkSupervisor link;
    link.adoptOpenLink(settings);

    powerWatch watch;
    watch.reloadSettings();

    std::unique_ptr<nutDataFile> nut;
    if (!o.nutFile().isEmpty()) {
        nut.reset(new nutDataFile(o.nutFile()));
        nut->slotOnFirmware(m_firmware);
        connect(&watch, &powerWatch::signalBlock, nut.get(),
                [&nut](const statusDecoder::block& registers, const statusDecoder::update&) {
                    nut->slotOnBlock(registers);
                });
        connect(&g_consolePrint, &consolePrint::signalShowFwVer, nut.get(), &nutDataFile::slotOnFirmware);
    }

    g_consolePrint.showMsg(QStringLiteral("Watching %1 slave address %2 every %3 ms, policy %4.")
                               .arg(settings.comPort)
                               .arg(settings.slaveId)
                               .arg(settings.pollDelay)
                               .arg(watch.policy()));
    watch.start(settings);
    QCoreApplication::exec();
    // The device was closed first (closeFirstOnQuit): a read in flight is
    // already cut short, and stopping the watch kills a running script.
    watch.stop();
    link.close();
    return ctlExit::Ok;
}
