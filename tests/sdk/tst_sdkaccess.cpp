// The device library against the simulator: identification, reads and writes
// at the right protocol addresses, open/close rules, and two threads on one
// descriptor.
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "devicelink.h"
#include "simulatorprocess.h"
#include "testenv.h"

using namespace sdktest;

class tst_sdkAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void openFillsInfoFromTheModule();
    void openRefusesAnotherDevice();
    void openTwiceIsRefused();
    void closeReleasesThePort();
    void zeroTimeoutStillWorks();
    void readsLandAtProtocolAddresses_data();
    void readsLandAtProtocolAddresses();
    void singleWriteLandsAtItsRegister_data();
    void singleWriteLandsAtItsRegister();
    void severalRegistersInOneWrite();
    void moduleExceptionsComeBackAsCodes_data();
    void moduleExceptionsComeBackAsCodes();
    void callsOnAClosedDescriptor();
    void twoThreadsShareOneDescriptor();

private:
    SimulatorProcess m_sim;
};

void tst_sdkAccess::initTestCase()
{
    QVERIFY2(m_sim.start(), "the simulator did not start");
}

void tst_sdkAccess::cleanupTestCase()
{
    m_sim.stop();
}

void tst_sdkAccess::openFillsInfoFromTheModule()
{
    // Versions that are not the defaults prove they are read from the module.
    QVERIFY(m_sim.set(40041, 321));
    QVERIFY(m_sim.set(40042, 4321));
    QVERIFY(m_sim.set(40043, 7));
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    deviceInfo info{};
    QCOMPARE(openOn(d, m_sim.linkPath(), &info), int(QR7215_OK));
    QVERIFY(d.handle != 0);
    QCOMPARE(int(info.deviceType), 0x7215);
    QCOMPARE(int(info.hardwareVersion), 321);
    QCOMPARE(int(info.firmwareVersion), 4321);
    QCOMPARE(int(info.driverVersion), 7);
    QCOMPARE(UPS_DeviceClose(&d), int(QR7215_OK));
    QCOMPARE(d.handle, 0u);
    QVERIFY(m_sim.set(40041, 102));
    QVERIFY(m_sim.set(40042, 215));
    QVERIFY(m_sim.set(40043, 110));
}

void tst_sdkAccess::openRefusesAnotherDevice()
{
    QVERIFY(m_sim.set(40040, 0x1234));
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    deviceInfo info{};
    QCOMPARE(openOn(d, m_sim.linkPath(), &info), int(QR7215_E_NOT_QR7215));
    QCOMPARE(d.handle, 0u);
    // The port was closed again: the right module opens at once.
    QVERIFY(m_sim.set(40040, 0x7215));
    QCOMPARE(openOn(d, m_sim.linkPath(), &info), int(QR7215_OK));
}

void tst_sdkAccess::openTwiceIsRefused()
{
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    const uint32_t handle = d.handle;
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_E_ALREADY_OPEN));
    QCOMPARE(d.handle, handle);
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40040, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 0x7215);
}

void tst_sdkAccess::closeReleasesThePort()
{
    deviceDescriptor a = lineDescriptor();
    deviceDescriptor b = lineDescriptor();
    closeAtExit guardA(a);
    closeAtExit guardB(b);
    QCOMPARE(openOn(a, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(UPS_DeviceClose(&a), int(QR7215_OK));
    QCOMPARE(UPS_DeviceClose(&a), int(QR7215_E_NOT_OPEN));
    QCOMPARE(openOn(b, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(UPS_DeviceClose(&b), int(QR7215_OK));
    // Handles are not reused at once: a stale copy cannot reach a new link.
    QCOMPARE(openOn(a, m_sim.linkPath()), int(QR7215_OK));
    QVERIFY(a.handle != 0);
}

void tst_sdkAccess::zeroTimeoutStillWorks()
{
    deviceDescriptor d = lineDescriptor(0, 0);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    uint16_t v[4] = {};
    QCOMPARE(UPS_ReadRegisters(&d, 40040, 4, v), int(QR7215_OK));
    QCOMPARE(int(v[3]), 110);
}

void tst_sdkAccess::readsLandAtProtocolAddresses_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::newRow("first register 40000") << 40000 << 1;
    QTest::newRow("status block 40016 x20") << 40016 << 20;
    QTest::newRow("register table block 40000 x35") << 40000 << 35;
    QTest::newRow("identification 40040 x4") << 40040 << 4;
    QTest::newRow("last register 40043") << 40043 << 1;
}

void tst_sdkAccess::readsLandAtProtocolAddresses()
{
    QFETCH(int, start);
    QFETCH(int, count);
    // Each register gets a value of its own, so a shifted address shows.
    for (int i = 0; i < count; ++i)
        QVERIFY(m_sim.set(start + i, 1000 + (start + i) % 1000 * 7));
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    // Identification must still pass while 40040.. carry test values.
    if (start <= 40040 && start + count > 40040)
        QVERIFY(m_sim.set(40040, 0x7215));
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    std::vector<uint16_t> values(size_t(count) + 1, 0xBEEF);
    QCOMPARE(UPS_ReadRegisters(&d, uint16_t(start), uint8_t(count), values.data()), int(QR7215_OK));
    for (int i = 0; i < count; ++i)
        QCOMPARE(int(values[size_t(i)]), m_sim.get(start + i));
    QCOMPARE(int(values[size_t(count)]), 0xBEEF);  // nothing beyond count is written
}

void tst_sdkAccess::singleWriteLandsAtItsRegister_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::newRow("40000 slave address 247") << 40000 << 247;
    QTest::newRow("40004 low battery 55") << 40004 << 55;
    QTest::newRow("40007 setpoint 28000") << 40007 << 28000;
    QTest::newRow("40010 remote enable 0") << 40010 << 0;
}

void tst_sdkAccess::singleWriteLandsAtItsRegister()
{
    QFETCH(int, reg);
    QFETCH(int, value);
    const int before = reg > 40000 ? m_sim.get(reg - 1) : -1;
    const int after = m_sim.get(reg + 1);
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    const uint16_t v = uint16_t(value);
    QCOMPARE(UPS_WriteRegisters(&d, uint32_t(reg), 1, &v), int(QR7215_OK));
    QCOMPARE(m_sim.get(reg), value);
    if (reg > 40000)
        QCOMPARE(m_sim.get(reg - 1), before);
    QCOMPARE(m_sim.get(reg + 1), after);
}

void tst_sdkAccess::severalRegistersInOneWrite()
{
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    const uint16_t values[3] = {33, 120, 45};
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 3, values), int(QR7215_OK));
    QCOMPARE(m_sim.get(40004), 33);
    QCOMPARE(m_sim.get(40005), 120);
    QCOMPARE(m_sim.get(40006), 45);

    // One refused register refuses the whole write.
    const int remote = m_sim.get(40010);
    const uint16_t across[3] = {uint16_t(1 - remote), 1, 2000};  // 40010, 40011 command, 40012 read-only
    QCOMPARE(UPS_WriteRegisters(&d, 40010, 3, across), QR7215_E_EXCEPTION_BASE - 2);
    QCOMPARE(m_sim.get(40010), remote);
}

void tst_sdkAccess::moduleExceptionsComeBackAsCodes_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("read 40036, a gap") << false << 40036 << 1 << 0 << -102;
    QTest::newRow("read across the gap 40030 x10") << false << 40030 << 10 << 0 << -102;
    QTest::newRow("read 65535, beyond the map") << false << 65535 << 1 << 0 << -102;
    QTest::newRow("write read-only 40016") << true << 40016 << 1 << 5 << -102;
    QTest::newRow("write 40004 = 101, out of range") << true << 40004 << 1 << 101 << -103;
    QTest::newRow("write command 40011 = 4") << true << 40011 << 1 << 4 << -103;
}

void tst_sdkAccess::moduleExceptionsComeBackAsCodes()
{
    QFETCH(bool, write);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, value);
    QFETCH(int, expected);
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    const int requests = m_sim.requests();
    std::vector<uint16_t> values(static_cast<size_t>(count), static_cast<uint16_t>(value));
    const int rc = write ? UPS_WriteRegisters(&d, uint32_t(start), uint8_t(count), values.data())
                         : UPS_ReadRegisters(&d, uint16_t(start), uint8_t(count), values.data());
    QCOMPARE(rc, expected);
    // An exception is an answer: it is not retried.
    QCOMPARE(m_sim.requests(), requests + 1);
    // The link stays usable.
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40040, 1, &v), int(QR7215_OK));
}

void tst_sdkAccess::callsOnAClosedDescriptor()
{
    deviceDescriptor d = lineDescriptor();
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40000, 1, &v), int(QR7215_E_NOT_OPEN));
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 1, &v), int(QR7215_E_NOT_OPEN));
    QCOMPARE(UPS_DeviceClose(&d), int(QR7215_E_NOT_OPEN));
    // A handle the library never gave out is not an open link either.
    d.handle = 0x12345678;
    QCOMPARE(UPS_ReadRegisters(&d, 40000, 1, &v), int(QR7215_E_NOT_OPEN));
    // ...and does not stop an open.
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    // A copy of an open descriptor elsewhere does not reach its link.
    deviceDescriptor copy = d;
    QCOMPARE(UPS_ReadRegisters(&copy, 40000, 1, &v), int(QR7215_E_NOT_OPEN));
}

void tst_sdkAccess::twoThreadsShareOneDescriptor()
{
    deviceDescriptor d = lineDescriptor(500, 1);
    closeAtExit guard(d);
    const std::vector<uint16_t> identification{0x7215, 102, 215, 110};
    const std::vector<uint16_t> block{2200, 1234, 87, 9, 24000};
    for (int i = 0; i < 4; ++i)
        QVERIFY(m_sim.set(40040 + i, identification[size_t(i)]));
    for (int i = 0; i < 5; ++i)
        QVERIFY(m_sim.set(40012 + i, block[size_t(i)]));
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    // Each thread reads a block of its own: an answer handed to the wrong
    // thread, or two requests on the wire at once, shows as wrong values.
    std::atomic<int> failures{0};
    std::atomic<int> wrongData{0};
    auto reader = [&](uint16_t start, std::vector<uint16_t> expected) {
        for (int i = 0; i < 60; ++i) {
            std::vector<uint16_t> v(expected.size(), 0);
            if (UPS_ReadRegisters(&d, start, uint8_t(v.size()), v.data()) != QR7215_OK)
                ++failures;
            else if (v != expected)
                ++wrongData;
        }
    };
    std::thread a(reader, uint16_t(40040), identification);
    std::thread b(reader, uint16_t(40012), block);
    a.join();
    b.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(wrongData.load(), 0);
}

QR_TEST_GUILESS_MAIN(tst_sdkAccess)
#include "tst_sdkaccess.moc"
