// The simulated module's registers and its Modbus slave: access
// rules and exceptions, the policy mirror, the battery model, and the
// answers (or silence) for whole request frames with each fault.
#include <QtTest>

#include "modbusslave.h"
#include "registerbank.h"
#include "rtuframe.h"
#include "testenv.h"

using namespace qr7215sim;

namespace {

std::vector<uint8_t> frame(const QByteArray& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    std::vector<uint8_t> f(raw.begin(), raw.end());
    appendCrc(f);
    return f;
}

QByteArray hex(const std::vector<uint8_t>& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())).toHex();
}

// The answer without its CRC, which is checked on its own.
QByteArray body(const std::vector<uint8_t>& f)
{
    if (f.size() < 2)
        return QByteArray("none");
    if (!crcValid(f))
        return QByteArray("bad crc");
    return hex(std::vector<uint8_t>(f.begin(), f.end() - 2));
}

int value(const registerBank& bank, int reg)
{
    uint16_t v = 0;
    return bank.get(reg, v) ? v : -1;
}

} // namespace

class tst_registerBank : public QObject
{
    Q_OBJECT

private slots:
    void modbusReads_data();
    void modbusReads();
    void modbusWrites_data();
    void modbusWrites();
    void refusedSeveralWriteChangesNothing();
    void policySettingIsMirrored();
    void powerFailAndRestore();

    void slaveAnswers_data();
    void slaveAnswers();
    void otherSlavesAndBroadcasts();
    void faults_data();
    void faults();
};

void tst_registerBank::modbusReads_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exception");
    QTest::newRow("register table block 0 x35") << 0 << 35 << 0;
    QTest::newRow("status block 16 x20") << 16 << 20 << 0;
    QTest::newRow("identification 40 x4") << 40 << 4 << 0;
    QTest::newRow("into the gap 35 x2") << 35 << 2 << 2;
    QTest::newRow("past the end 43 x2") << 43 << 2 << 2;
    QTest::newRow("count 0") << 0 << 0 << 3;
    QTest::newRow("count 126") << 0 << 126 << 3;
}

void tst_registerBank::modbusReads()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, exception);
    registerBank bank;
    std::vector<uint16_t> values;
    QCOMPARE(int(bank.read(uint16_t(address), uint16_t(count), values)), exception);
    if (exception == 0) {
        QCOMPARE(int(values.size()), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(int(values[size_t(i)]), value(bank, 40000 + address + i));
    }
}

void tst_registerBank::modbusWrites_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("newValue");
    QTest::addColumn<int>("exception");
    QTest::addColumn<int>("stored");
    QTest::newRow("slave address 247") << 40000 << 247 << 0 << 247;
    QTest::newRow("slave address 0 out of range") << 40000 << 0 << 3 << 1;
    QTest::newRow("baud code 8 out of range") << 40001 << 8 << 3 << 7;
    QTest::newRow("setpoint 4999 below range") << 40007 << 4999 << 3 << 12000;
    QTest::newRow("setpoint 5000") << 40007 << 5000 << 0 << 5000;
    QTest::newRow("delay 3600") << 40005 << 3600 << 0 << 3600;
    QTest::newRow("command 2 acts, reads 0") << 40011 << 2 << 0 << 0;
    QTest::newRow("command 0 out of range") << 40011 << 0 << 3 << 0;
    QTest::newRow("read-only capacity") << 40012 << 1 << 2 << 2200;
    QTest::newRow("read-only status") << 40028 << 0 << 2 << 1;
    QTest::newRow("read-only identification") << 40040 << 1 << 2 << 0x7215;
    QTest::newRow("gap 40036") << 40036 << 1 << 2 << -1;
}

void tst_registerBank::modbusWrites()
{
    QFETCH(int, reg);
    QFETCH(int, newValue);
    QFETCH(int, exception);
    QFETCH(int, stored);
    registerBank bank;
    QCOMPARE(int(bank.write(uint16_t(reg - 40000), {uint16_t(newValue)})), exception);
    QCOMPARE(value(bank, reg), stored);
}

void tst_registerBank::refusedSeveralWriteChangesNothing()
{
    registerBank bank;
    // 40008 in range, 40009 out of range (2): refused whole.
    QCOMPARE(int(bank.write(8, {2000, 2})), 3);
    QCOMPARE(value(bank, 40008), 1500);
    // 40009, 40010, then read-only 40012 at the end.
    QCOMPARE(int(bank.write(9, {0, 0, 1, 5})), 2);
    QCOMPARE(value(bank, 40009), 1);
    QCOMPARE(int(bank.write(4, {30, 60, 20})), 0);
    QCOMPARE(value(bank, 40004), 30);
    QCOMPARE(value(bank, 40005), 60);
    QCOMPARE(value(bank, 40006), 20);
}

void tst_registerBank::policySettingIsMirrored()
{
    registerBank bank;
    QCOMPARE(int(bank.write(3, {6})), 0);
    QCOMPARE(value(bank, 40035), 6);
    QVERIFY(bank.set(40003, 2));
    QCOMPARE(value(bank, 40035), 2);
    QCOMPARE(int(bank.write(3, {10})), 3);  // out of range: neither changes
    QCOMPARE(value(bank, 40003), 2);
    QCOMPARE(value(bank, 40035), 2);
}

void tst_registerBank::powerFailAndRestore()
{
    registerBank bank;
    QVERIFY(!bank.batteryMoving());
    bank.powerFail();
    QCOMPARE(value(bank, 40028), 0);  // DC_OK
    QCOMPARE(value(bank, 40027), 2);  // on battery
    QCOMPARE(value(bank, 40029), 1);  // Bat.Mode
    QCOMPARE(value(bank, 40016), 0);  // no input voltage
    QVERIFY(bank.batteryMoving());
    bank.stepBattery();
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 98);
    QCOMPARE(value(bank, 40030), 1);  // Bat.Ready while above the low level (20)
    QVERIFY(bank.set(40026, 20));
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 19);
    QCOMPARE(value(bank, 40030), 0);
    QVERIFY(bank.set(40026, 1));
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 0);
    QVERIFY(!bank.batteryMoving());  // empty
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 0);

    bank.powerRestore();
    QCOMPARE(value(bank, 40028), 1);
    QCOMPARE(value(bank, 40027), 1);
    QCOMPARE(value(bank, 40029), 0);
    QCOMPARE(value(bank, 40016), 24000);
    QVERIFY(bank.batteryMoving());
    QVERIFY(bank.set(40026, 99));
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 100);
    QVERIFY(!bank.batteryMoving());  // full
    bank.stepBattery();
    QCOMPARE(value(bank, 40026), 100);
}

void tst_registerBank::slaveAnswers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("read identification") << QByteArray("010300280004") << QByteArray("0103087215006600d7006e");
    QTest::newRow("read the gap") << QByteArray("010300240001") << QByteArray("018302");
    QTest::newRow("read count 0") << QByteArray("010300000000") << QByteArray("018303");
    QTest::newRow("write single echoes") << QByteArray("010600040037") << QByteArray("010600040037");
    QTest::newRow("write single read-only") << QByteArray("010600100001") << QByteArray("018602");
    QTest::newRow("write single out of range") << QByteArray("010600040065") << QByteArray("018603");
    QTest::newRow("write several") << QByteArray("011000040002040021003c") << QByteArray("011000040002");
    QTest::newRow("write several, count and bytes disagree") << QByteArray("011000040002020021") << QByteArray("019003");
    QTest::newRow("unknown function") << QByteArray("010400000001") << QByteArray("018401");
}

void tst_registerBank::slaveAnswers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    registerBank bank;
    modbusSlave slave(bank, 1);
    QCOMPARE(body(slave.handle(frame(request))), answer);
    QCOMPARE(slave.requestCount(), uint64_t(1));
}

void tst_registerBank::otherSlavesAndBroadcasts()
{
    registerBank bank;
    modbusSlave slave(bank, 5);
    QVERIFY(slave.handle(frame("010600040037")).empty());  // slave 1: not us
    QCOMPARE(value(bank, 40004), 20);
    QVERIFY(slave.handle(frame("000600040037")).empty());  // broadcast: done, unanswered
    QCOMPARE(value(bank, 40004), 0x37);
    QVERIFY(slave.handle(frame("000300000001")).empty());  // a broadcast read means nothing
    std::vector<uint8_t> damaged = frame("050300000001");
    damaged.back() ^= 1;
    QVERIFY(slave.handle(damaged).empty());
    QCOMPARE(slave.requestCount(), uint64_t(0));
    QCOMPARE(body(slave.handle(frame("050300000001"))), QByteArray("05030200") + QByteArray("01"));
    QCOMPARE(slave.requestCount(), uint64_t(1));
}

void tst_registerBank::faults_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("stored");
    QTest::newRow("none") << int(faultMode::none) << 0 << QByteArray("010600040037") << 0x37;
    QTest::newRow("timeout: heard nothing") << int(faultMode::timeout) << 0 << QByteArray("none") << 20;
    QTest::newRow("crc: done, answer damaged") << int(faultMode::crc) << 0 << QByteArray("bad crc") << 0x37;
    QTest::newRow("exception 6") << int(faultMode::exception) << 6 << QByteArray("018606") << 20;
    QTest::newRow("delay: answer as usual") << int(faultMode::delay) << 0 << QByteArray("010600040037") << 0x37;
}

void tst_registerBank::faults()
{
    QFETCH(int, mode);
    QFETCH(int, code);
    QFETCH(QByteArray, answer);
    QFETCH(int, stored);
    registerBank bank;
    modbusSlave slave(bank, 1);
    faultSetting f;
    f.mode = faultMode(mode);
    f.exceptionCode = uint8_t(code);
    slave.setFault(f);
    QCOMPARE(body(slave.handle(frame("010600040037"))), answer);
    QCOMPARE(value(bank, 40004), stored);
    QCOMPARE(slave.requestCount(), uint64_t(1));  // counted whatever the fault
}

QR_TEST_GUILESS_MAIN(tst_registerBank)
#include "tst_registerbank.moc"
