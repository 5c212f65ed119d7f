// End to end in one process: the status page, the device adapter and the
// real device library against the module simulator. A power failure shows on
// the page, is logged and runs the post-process script once.
#include "comadapter.h"
#include "comsettings.h"
#include "ledwidget.h"
#include "logcapture.h"
#include "scripthelper.h"
#include "settingsstore.h"
#include "simulatorprocess.h"
#include "statusmonitorwidget.h"
#include "testenv.h"

#include <QLabel>

using namespace scripthelper;

class tst_statusMonitorEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void powerFailAndRestore();
};

void tst_statusMonitorEndToEnd::powerFailAndRestore()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(SimulatorProcess::executable()));

    const QString dir = testsupport::tempRoot() + "/e2e scripts";
    const QString mark = dir + "/mark";
    const QString script = writeScript(dir + "/on battery.sh", "#!/bin/sh\n" + appendLine(mark));
    settingsStore::setBatPath(script);
    settingsStore::setBatExecutePolicy(1);

    LogCapture log;
    statusMonitorWidget page;
    page.show();
    QSignalSpy dcOk(&page, SIGNAL(signalDC_OK(bool)));
    auto text = [&page](const char* name) { return page.findChild<QLabel*>(QLatin1String(name))->text(); };
    auto lit = [&page](const char* name) { return page.findChild<ledWidget*>(QLatin1String(name))->isOn(); };

    comSettings settings;
    settings.comPort = sim.linkPath();
    settings.pollDelay = 20;
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
    page.slotOnConnect(settings);

    QTRY_COMPARE(text("m_lblPowerSupplyValue"), QStringLiteral("DC"));
    QTRY_COMPARE(text("m_lblVoltageInputValue"), QStringLiteral("24000mV"));
    QCOMPARE(text("m_lblBatteryChargingStatusValue"), QStringLiteral("Charge Full"));
    QCOMPARE(text("m_lblPolicyModeValue"), QStringLiteral("PC"));
    QVERIFY(lit("m_ledDC_OK"));
    QCOMPARE(log.count("DC is connected."), 1);
    QCOMPARE(dcOk.count(), 1);

    QCOMPARE(sim.command("power fail"), QStringLiteral("ok"));
    QTRY_COMPARE(text("m_lblPowerSupplyValue"), QStringLiteral("UPS"));
    QTRY_COMPARE(text("m_lblBatteryChargingStatusValue"), QStringLiteral("Discharging"));
    QTRY_COMPARE(log.count("DC is broken."), 1);
    QVERIFY(!lit("m_ledDC_OK"));
    QVERIFY(lit("m_ledBatMode"));
    QCOMPARE(text("m_lblVoltageInputValue"), QStringLiteral("0mV"));
    QTRY_COMPARE(lineCount(mark), 1);
    QTRY_COMPARE(log.count("Post-process script finished with exit code 0: " + script), 1);
    QCOMPARE(dcOk.count(), 2);
    QCOMPARE(dcOk.at(1).at(0).toBool(), false);

    QCOMPARE(sim.command("power restore"), QStringLiteral("ok"));
    QTRY_COMPARE(log.count("DC is connected."), 2);
    QTRY_COMPARE(text("m_lblPowerSupplyValue"), QStringLiteral("DC"));
    QVERIFY(lit("m_ledDC_OK"));
    QCOMPARE(dcOk.count(), 3);
    QCOMPARE(dcOk.at(2).at(0).toBool(), true);
    QCOMPARE(lineCount(mark), 1);
    QCOMPARE(log.count("DC is broken."), 1);

    page.slotOnSetEnabled(false);
    g_comAdapter.slotCloseDevice();
}

QR_TEST_MAIN(tst_statusMonitorEndToEnd)
#include "tst_statusmonitor_e2e.moc"
