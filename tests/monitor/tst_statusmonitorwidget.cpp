// The status page against the fake device library: the stored settings it
// starts with, labels a bad block leaves alone, the blank display while the
// link is closed and the poll period rules.
#include "batterywidget.h"
#include "batthread.h"
#include "comadapter.h"
#include "comsettings.h"
#include "fakesdk.h"
#include "ledwidget.h"
#include "logcapture.h"
#include "monitorthread.h"
#include "pageprobe.h"
#include "settingsstore.h"
#include "statusmonitorwidget.h"
#include "testenv.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>

Q_DECLARE_METATYPE(statusDecoder::block)

namespace {
using probe = statusMonitorWidgetProbe;
const auto& label = probe::label;
const auto& lit = probe::lit;
const auto& gauge = probe::gauge;
void feed(statusMonitorWidget& page, const statusDecoder::block& b, bool shown = true)
{
    probe::feed(page, b, shown);
}
const auto& poller = probe::poller;
const auto& runner = probe::runner;

const QString kInfinitySec = QString(QChar(0x221E)) + QStringLiteral(" Sec.");

} // namespace

class tst_statusMonitorWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadsStoredSettings();
    void outOfRangeValuesLeaveLabels();
    void blanksWhileTheLinkIsClosed();
    void connectedLinkIsNotBlanked();
    void disabledPageKeepsItsTexts();
    void pollPeriodTakesEffectAtNextStart();

private:
    void openLink();
};

void tst_statusMonitorWidget::init()
{
    fakesdk::reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    settingsStore::setBatPath(QString());
    settingsStore::setBatExecutePolicy(0);
}

void tst_statusMonitorWidget::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_statusMonitorWidget::openLink()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_statusMonitorWidget::loadsStoredSettings()
{
    settingsStore::setBatPath(QStringLiteral("/srv/ups/on battery.sh"));
    settingsStore::setBatExecutePolicy(2);
    statusMonitorWidget page;
    QCOMPARE(page.batPath(), QStringLiteral("/srv/ups/on battery.sh"));
    QCOMPARE(page.policy(), 2u);
    QCOMPARE(page.pollCycle(), 10u);
    QCOMPARE(page.lastDcOk(), quint16(0));
    QCOMPARE(page.lastSw(), quint16(0));
    QVERIFY(!poller(page)->isRunning());
    QVERIFY(!runner(page)->isRunning());
}

void tst_statusMonitorWidget::outOfRangeValuesLeaveLabels()
{
    statusMonitorWidget page;
    feed(page, makeBlock({{40026, 37}, {40027, 1}}));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Charging"));

    // Level 150 on DC: the gauge clamps, the charging text stays.
    feed(page, makeBlock({{40026, 150}, {40027, 1}}));
    QCOMPARE(label(page, "m_lblPowerSupplyValue"), QStringLiteral("DC"));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Charging"));
    QCOMPARE(gauge(page)->value(), 100);

    feed(page, makeBlock({{40026, 55}, {40027, 2}}));
    QCOMPARE(label(page, "m_lblPowerSupplyValue"), QStringLiteral("UPS"));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Discharging"));

    // Source 0 leaves both labels as they were, the rest still updates.
    feed(page, makeBlock({{40026, 54}, {40027, 0}, {40016, 5}, {40035, 10}}));
    QCOMPARE(label(page, "m_lblPowerSupplyValue"), QStringLiteral("UPS"));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Discharging"));
    QCOMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("5mV"));
    QCOMPARE(label(page, "m_lblPolicyModeValue"), QStringLiteral("NULL"));
    QCOMPARE(gauge(page)->value(), 54);
}

void tst_statusMonitorWidget::blanksWhileTheLinkIsClosed()
{
    statusMonitorWidget page;
    feed(page, makeBlock({{40016, 24000}, {40018, 12000}, {40026, 80}, {40027, 1}, {40028, 1}, {40029, 1},
                          {40030, 1}, {40031, 1}, {40032, 1}, {40033, 1}, {40034, 1}, {40035, 3}}));
    QCOMPARE(label(page, "m_lblPolicyModeValue"), QStringLiteral("0.3 A"));
    QVERIFY(lit(page, "m_ledRemote"));

    page.slotOnSetEnabled(true);   // the link is closed
    QTRY_COMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("0mV"));
    QCOMPARE(label(page, "m_lblVoltageOutputValue"), QStringLiteral("0mV"));
    QCOMPARE(label(page, "m_lblPowerSupplyValue"), QStringLiteral("NULL"));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("NULL"));
    QCOMPARE(label(page, "m_lblPolicyModeValue"), QStringLiteral("NULL"));
    QCOMPARE(gauge(page)->value(), 0);
    for (const char* name : {"m_ledDC_OK", "m_ledBatMode", "m_ledBatReady", "m_ledSW", "m_ledRemote",
                             "m_ledBatStart", "m_ledDevSts"})
        QVERIFY2(!lit(page, name), name);
    // The edge memory is not part of the display.
    QCOMPARE(page.lastDcOk(), quint16(1));
    QCOMPARE(page.lastSw(), quint16(1));
    page.slotOnSetEnabled(false);
}

void tst_statusMonitorWidget::connectedLinkIsNotBlanked()
{
    openLink();
    fakesdk::setRegister(40016, 24000);
    fakesdk::setRegister(40027, 1);
    fakesdk::setRegister(40026, 100);
    statusMonitorWidget page;
    comSettings settings;
    page.slotOnConnect(settings);
    QTRY_COMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("24000mV"));
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), QStringLiteral("Charge Full"));
    QTest::qWait(100);   // several refresh ticks with the link open
    QCOMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("24000mV"));

    // Closing the link blanks on the next refresh.
    g_comAdapter.slotCloseDevice();
    QTRY_COMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("0mV"));
}

void tst_statusMonitorWidget::disabledPageKeepsItsTexts()
{
    statusMonitorWidget page;
    feed(page, makeBlock({{40016, 777}}));
    page.slotOnSetEnabled(true);
    QTRY_COMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("0mV"));
    page.slotOnSetEnabled(false);
    feed(page, makeBlock({{40016, 888}}), false);
    QTest::qWait(100);   // refresh ticks would blank it again if the timer ran
    QCOMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("0mV"));
}

void tst_statusMonitorWidget::pollPeriodTakesEffectAtNextStart()
{
    openLink();
    statusMonitorWidget page;
    comSettings defaults;
    page.slotOnConnect(defaults);
    QCOMPARE(poller(page)->pollCycle(), 10u);

    page.slotOnPollCycleChanged(40);
    QCOMPARE(page.pollCycle(), 40u);
    QCOMPARE(poller(page)->pollCycle(), 10u);

    page.slotOnSetEnabled(false);
    page.slotOnSetEnabled(true);
    QCOMPARE(poller(page)->pollCycle(), 40u);

    comSettings settings;
    settings.pollDelay = 25;
    page.slotOnConnect(settings);
    QCOMPARE(page.pollCycle(), 25u);
    QCOMPARE(poller(page)->pollCycle(), 25u);
    QVERIFY(poller(page)->isRunning());
    page.slotOnSetEnabled(false);
}

QR_TEST_MAIN(tst_statusMonitorWidget)
#include "tst_statusmonitorwidget.moc"
