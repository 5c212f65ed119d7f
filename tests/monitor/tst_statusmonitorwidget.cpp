// The status page against the fake device library: its form, what a block
// shows, the blank display while the link is closed, the poll period rules and
// the connections the main window makes by name.
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

// Stands in for the pages whose signals the main window wires to this page.
class signalSource : public QObject
{
    Q_OBJECT
signals:
    void signalPollCycleChanged(quint32 value);
    void signalConnect(comSettings& settings);
    void signalOnPolicyChanged(int policy);
};

class trayStandIn : public QObject
{
    Q_OBJECT
public:
    QList<bool> states;
public slots:
    void slotOnChangeTrayIcon(bool state) { states << state; }
};

} // namespace

class tst_statusMonitorWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void form();
    void ledCaptions();
    void loadsStoredSettings();
    void decodesABlock_data();
    void decodesABlock();
    void outOfRangeValuesLeaveLabels();
    void blanksWhileTheLinkIsClosed();
    void connectedLinkIsNotBlanked();
    void disabledPageKeepsItsTexts();
    void pollPeriodTakesEffectAtNextStart();
    void connectionsByName();
    void resizeSetsGaugeWidth();

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

void tst_statusMonitorWidget::form()
{
    statusMonitorWidget page;
    QCOMPARE(page.objectName(), QStringLiteral("statusMonitorWidget"));
    QCOMPARE(page.windowTitle(), QStringLiteral("statusMonitorWidget"));
    QCOMPARE(page.size(), QSize(713, 543));

    const QList<std::pair<const char*, const char*>> names{
        {"m_lblPolicyMode", "Policy Mode:"},         {"m_lblPolicyModeValue", "NULL"},
        {"m_lblPowerSupply", "Power Supply:"},       {"m_lblPowerSupplyValue", "DC"},
        {"m_lblVoltageInput", "Voltage Input:"},     {"m_lblVoltageInputValue", "00000mV"},
        {"m_lblVoltageOutput", "Voltage Output:"},   {"m_lblVoltageOutputValue", "00000mV"},
        {"m_lblBatteryChargingStatus", "Battery Status:"}, {"m_lblBatteryChargingStatusValue", "Discharging"}};
    for (const auto& n : names) {
        auto* l = page.findChild<QLabel*>(QLatin1String(n.first));
        QVERIFY2(l, n.first);
        QCOMPARE(l->text(), QString::fromUtf8(n.second));
        const bool value = QByteArray(n.first).endsWith("Value");
        QCOMPARE(l->minimumWidth(), value ? 80 : 100);
    }

    const QList<std::pair<const char*, const char*>> boxes{
        {"groupBox", "Battery Status"}, {"groupBox_2", "DO Status"}, {"groupBox_3", "DI Status"}};
    for (const auto& b : boxes) {
        auto* box = page.findChild<QGroupBox*>(QLatin1String(b.first));
        QVERIFY2(box, b.first);
        QCOMPARE(box->title(), QString::fromUtf8(b.second));
    }

    for (const char* name : {"m_ledDC_OK", "m_ledBatMode", "m_ledBatReady", "m_ledSW", "m_ledRemote",
                             "m_ledBatStart", "m_ledDevSts"}) {
        auto* led = page.findChild<ledWidget*>(QLatin1String(name));
        QVERIFY2(led, name);
        QCOMPARE(led->minimumSize(), QSize(60, 70));
        QVERIFY(!led->isOn());
    }
    auto* keeper = page.findChild<QWidget*>(QStringLiteral("m_ledSW_2"));
    QVERIFY(keeper);
    QVERIFY(!qobject_cast<ledWidget*>(keeper));
    QCOMPARE(keeper->minimumSize(), QSize(60, 70));
    QVERIFY(gauge(page));
    QCOMPARE(gauge(page)->minimumWidth(), 200);

    auto layoutOf = [&page](const char* name) { return page.findChild<QLayout*>(QLatin1String(name)); };
    const QList<std::pair<const char*, int>> spacings{
        {"verticalLayout_2", 6}, {"horizontalLayout_9", 6}, {"verticalLayout", 6}, {"horizontalLayout_8", 6},
        {"horizontalLayout_3", 6}, {"horizontalLayout_4", 6}, {"horizontalLayout_5", 6},
        {"horizontalLayout_6", 6}, {"horizontalLayout_7", 6}, {"horizontalLayout", 30}, {"horizontalLayout_2", 30}};
    for (const auto& s : spacings) {
        QLayout* l = layoutOf(s.first);
        QVERIFY2(l, s.first);
        QCOMPARE(l->spacing(), s.second);
    }
    for (const char* name : {"verticalLayout_2", "horizontalLayout_9", "horizontalLayout", "horizontalLayout_2"})
        QCOMPARE(layoutOf(name)->contentsMargins(), QMargins(11, 11, 11, 11));

    // The LED rows end in a stretching spacer, and the page in a tall one.
    auto* doRow = qobject_cast<QBoxLayout*>(layoutOf("horizontalLayout"));
    QCOMPARE(doRow->count(), 5);
    QVERIFY(doRow->itemAt(4)->spacerItem());
    auto* diRow = qobject_cast<QBoxLayout*>(layoutOf("horizontalLayout_2"));
    QCOMPARE(diRow->count(), 5);
    QCOMPARE(diRow->itemAt(3)->widget(), keeper);
    auto* top = qobject_cast<QBoxLayout*>(layoutOf("verticalLayout_2"));
    QCOMPARE(top->count(), 4);
    QSpacerItem* bottom = top->itemAt(3)->spacerItem();
    QVERIFY(bottom);
    QCOMPARE(bottom->sizeHint(), QSize(20, 190));
    auto* gaugeRow = qobject_cast<QBoxLayout*>(layoutOf("horizontalLayout_7"));
    QVERIFY(gaugeRow->itemAt(0)->spacerItem());
    QCOMPARE(gaugeRow->itemAt(1)->widget(), static_cast<QWidget*>(gauge(page)));
}

void tst_statusMonitorWidget::ledCaptions()
{
    statusMonitorWidget page;
    const QList<std::pair<const char*, const char*>> captions{
        {"m_ledDC_OK", "DC_OK"},    {"m_ledBatMode", "Bat.Mode"}, {"m_ledBatReady", "Bat.Ready"},
        {"m_ledBatStart", "Bat.Start"}, {"m_ledDevSts", "Dev.PSts"}, {"m_ledRemote", "Remote"},
        {"m_ledSW", "SW"}};
    for (const auto& c : captions)
        QCOMPARE(page.findChild<ledWidget*>(QLatin1String(c.first))->text(), QString::fromUtf8(c.second));
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

void tst_statusMonitorWidget::decodesABlock_data()
{
    QTest::addColumn<statusDecoder::block>("registers");
    QTest::addColumn<QString>("supply");
    QTest::addColumn<QString>("charging");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("policy");

    QTest::newRow("source 1 level 37")
        << makeBlock({{40026, 37}, {40027, 1}}) << "DC" << "Charging" << 37 << "PC";
    QTest::newRow("source 1 level 100")
        << makeBlock({{40026, 100}, {40027, 1}, {40035, 1}}) << "DC" << "Charge Full" << 100 << "0.5 A";
    QTest::newRow("source 2 level 40")
        << makeBlock({{40026, 40}, {40027, 2}, {40035, 5}}) << "UPS" << "Discharging" << 40 << kInfinitySec;
    QTest::newRow("policy 9")
        << makeBlock({{40026, 0}, {40027, 2}, {40035, 9}}) << "UPS" << "Discharging" << 0 << "5 Sec.";
    QTest::newRow("policy 10")
        << makeBlock({{40026, 0}, {40027, 2}, {40035, 10}}) << "UPS" << "Discharging" << 0 << "NULL";
}

void tst_statusMonitorWidget::decodesABlock()
{
    QFETCH(statusDecoder::block, registers);
    QFETCH(QString, supply);
    QFETCH(QString, charging);
    QFETCH(int, level);
    QFETCH(QString, policy);

    statusMonitorWidget page;
    registers[0] = 23456;
    registers[2] = 11987;
    registers[13] = 1;   // 40029 Bat.Mode
    registers[18] = 3;   // 40034 Dev.PSts
    feed(page, registers);
    QCOMPARE(label(page, "m_lblVoltageInputValue"), QStringLiteral("23456mV"));
    QCOMPARE(label(page, "m_lblVoltageOutputValue"), QStringLiteral("11987mV"));
    QCOMPARE(label(page, "m_lblPowerSupplyValue"), supply);
    QCOMPARE(label(page, "m_lblBatteryChargingStatusValue"), charging);
    QCOMPARE(label(page, "m_lblPolicyModeValue"), policy);
    QCOMPARE(gauge(page)->value(), level);
    QVERIFY(lit(page, "m_ledBatMode"));
    QVERIFY(lit(page, "m_ledDevSts"));
    QVERIFY(!lit(page, "m_ledBatReady"));
    QVERIFY(!lit(page, "m_ledRemote"));
    QVERIFY(!lit(page, "m_ledBatStart"));
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

void tst_statusMonitorWidget::connectionsByName()
{
    openLink();
    signalSource source;
    trayStandIn tray;
    statusMonitorWidget page;
    QVERIFY(QObject::connect(&source, SIGNAL(signalPollCycleChanged(quint32)), &page,
                             SLOT(slotOnPollCycleChanged(quint32))));
    QVERIFY(QObject::connect(&source, SIGNAL(signalConnect(comSettings&)), &page, SLOT(slotOnConnect(comSettings&))));
    QVERIFY(QObject::connect(&source, SIGNAL(signalOnPolicyChanged(int)), &page, SLOT(slotOnPolicyChanged(int))));
    QVERIFY(QObject::connect(&page, SIGNAL(signalDC_OK(bool)), &tray, SLOT(slotOnChangeTrayIcon(bool))));

    emit source.signalOnPolicyChanged(2);
    QCOMPARE(page.policy(), 2u);
    emit source.signalPollCycleChanged(30);
    QCOMPARE(page.pollCycle(), 30u);

    comSettings settings;
    settings.pollDelay = 15;
    fakesdk::setRegister(40028, 1);
    emit source.signalConnect(settings);
    QCOMPARE(page.pollCycle(), 15u);
    QVERIFY(poller(page)->isRunning());
    QTRY_COMPARE(tray.states, QList<bool>{true});
    page.slotOnSetEnabled(false);
}

void tst_statusMonitorWidget::resizeSetsGaugeWidth()
{
    statusMonitorWidget page;
    page.resize(900, 600);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTRY_COMPARE(gauge(page)->minimumWidth(), 300);
    page.resize(1203, 600);
    QTRY_COMPARE(gauge(page)->minimumWidth(), 401);
}

QR_TEST_MAIN(tst_statusMonitorWidget)
#include "tst_statusmonitorwidget.moc"
