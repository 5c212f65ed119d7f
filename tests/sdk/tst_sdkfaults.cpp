// The device library when the module misbehaves: no answer, damaged answers,
// Modbus exceptions, late answers, a slow line, the module vanishing in the
// middle of a session, and a close from another thread cutting a request short.
#include <QtTest>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "devicelink.h"
#include "simulatorprocess.h"
#include "testenv.h"

using namespace sdktest;

class tst_sdkFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void noAnswerIsATimeoutAfterTheRetries_data();
    void noAnswerIsATimeoutAfterTheRetries();
    void openWithoutAModule();
    void damagedAnswersAreACrcError();
    void exceptionCodesKeepTheirNumber_data();
    void exceptionCodesKeepTheirNumber();
    void identificationExceptions_data();
    void identificationExceptions();
    void slowAnswerWithinTheTimeout();
    void lateAnswerIsNeverTakenForTheNextOne();
    void slowLineHoldsAnswersBack();
    void moduleGoneBetweenRequests();
    void moduleGoneDuringARequest();
    void closeCutsARequestInFlight_data();
    void closeCutsARequestInFlight();

    void lateAnswerIsNotTakenForTheNextOne();
private:
    int requests() { return m_sim.requests(); }
    SimulatorProcess m_sim;
};

void tst_sdkFaults::initTestCase()
{
    QVERIFY2(m_sim.start(), "the simulator did not start");
}

void tst_sdkFaults::init()
{
    if (!m_sim.isRunning())
        QVERIFY2(m_sim.start(), "the simulator did not restart");
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
}

void tst_sdkFaults::cleanupTestCase()
{
    m_sim.stop();
}

void tst_sdkFaults::noAnswerIsATimeoutAfterTheRetries_data()
{
    QTest::addColumn<int>("retries");
    QTest::newRow("no retry") << 0;
    QTest::newRow("one retry") << 1;
    QTest::newRow("three retries") << 3;
}

void tst_sdkFaults::noAnswerIsATimeoutAfterTheRetries()
{
    QFETCH(int, retries);
    const int timeoutMs = 100;
    deviceDescriptor d = lineDescriptor(timeoutMs, uint32_t(retries));
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    const int before = requests();
    uint16_t v[20] = {};
    QElapsedTimer t;
    t.start();
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, v), int(QR7215_E_TIMEOUT));
    // Every attempt waited its full time-out (it cannot be quicker than that).
    QVERIFY(t.elapsed() >= (retries + 1) * timeoutMs - 10);
    QCOMPARE(requests() - before, retries + 1);

    const uint16_t one = 50;
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 1, &one), int(QR7215_E_TIMEOUT));
    QCOMPARE(requests() - before, 2 * (retries + 1));
    QVERIFY(m_sim.get(40004) != 50);  // the module heard nothing
}

void tst_sdkFaults::openWithoutAModule()
{
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    deviceDescriptor d = lineDescriptor(100, 2);
    closeAtExit guard(d);
    const int before = requests();
    deviceInfo info{};
    QCOMPARE(openOn(d, m_sim.linkPath(), &info), int(QR7215_E_TIMEOUT));
    QCOMPARE(requests() - before, 3);
    QCOMPARE(d.handle, 0u);
    // The port was closed and freed: once the module answers, it opens.
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(openOn(d, m_sim.linkPath(), &info), int(QR7215_OK));
    QCOMPARE(int(info.deviceType), 0x7215);
}

void tst_sdkFaults::damagedAnswersAreACrcError()
{
    deviceDescriptor d = lineDescriptor(100, 2);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault crc")), QStringLiteral("ok"));
    const int before = requests();
    uint16_t v[4] = {};
    QCOMPARE(UPS_ReadRegisters(&d, 40040, 4, v), int(QR7215_E_CRC));
    QCOMPARE(requests() - before, 3);
    // Clean answers again: the next read works at once.
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(UPS_ReadRegisters(&d, 40040, 4, v), int(QR7215_OK));
    QCOMPARE(int(v[0]), 0x7215);
}

void tst_sdkFaults::exceptionCodesKeepTheirNumber_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("1 illegal function") << 1;
    QTest::newRow("4 server device failure") << 4;
    QTest::newRow("6 server device busy") << 6;
    QTest::newRow("11 gateway target") << 11;
    QTest::newRow("12 not a standard code") << 12;
    QTest::newRow("255 the largest") << 255;
}

void tst_sdkFaults::exceptionCodesKeepTheirNumber()
{
    QFETCH(int, code);
    deviceDescriptor d = lineDescriptor(100, 2);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault exception %1").arg(code)), QStringLiteral("ok"));
    const int before = requests();
    uint16_t v[2] = {1, 1};
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 2, v), -100 - code);
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 1, v), -100 - code);
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 2, v), -100 - code);
    QCOMPARE(requests() - before, 3);  // answers are not retried
    const QString text = QString::fromUtf8(UPS_ErrorText(-100 - code));
    QVERIFY2(text.contains(QStringLiteral("exception %1 (").arg(code)), qPrintable(text));
}

void tst_sdkFaults::identificationExceptions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("expected");
    // A device without the identification registers is not a QR-7215...
    QTest::newRow("2 illegal data address") << 2 << int(QR7215_E_NOT_QR7215);
    QTest::newRow("1 illegal function") << 1 << int(QR7215_E_NOT_QR7215);
    // ...one that is busy may well be.
    QTest::newRow("6 server device busy") << 6 << -106;
}

void tst_sdkFaults::identificationExceptions()
{
    QFETCH(int, code);
    QFETCH(int, expected);
    QCOMPARE(m_sim.command(QStringLiteral("fault exception %1").arg(code)), QStringLiteral("ok"));
    deviceDescriptor d = lineDescriptor(100, 0);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), expected);
    QCOMPARE(d.handle, 0u);
}

void tst_sdkFaults::slowAnswerWithinTheTimeout()
{
    deviceDescriptor d = lineDescriptor(400, 0);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault delay 60")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(40020, 12345));
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 12345);
}

void tst_sdkFaults::lateAnswerIsNeverTakenForTheNextOne()
{
    deviceDescriptor d = lineDescriptor(100, 0);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QVERIFY(m_sim.set(40020, 1111));
    QCOMPARE(m_sim.command(QStringLiteral("fault delay 300")), QStringLiteral("ok"));
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_E_TIMEOUT));

    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(40020, 2222));
    // Wait until the late answer (1111) sits in the port's input.
    QTRY_COMPARE(m_sim.command(QStringLiteral("pending")), QStringLiteral("0"));
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 2222);
    // And the line is in step afterwards.
    QVERIFY(m_sim.set(40020, 3333));
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 3333);
}

void tst_sdkFaults::slowLineHoldsAnswersBack()
{
    // At 2400 baud the identification (8 + 13 bytes) takes 116.7 ms on the
    // wire, reading 20 registers (8 + 45 bytes) 250 ms.
    SimulatorProcess slow;
    QVERIFY(slow.start({QStringLiteral("--baud"), QStringLiteral("2400")}));
    deviceDescriptor d = lineDescriptor(1000, 0);
    d.baudRate = 2400;
    closeAtExit guard(d);
    QCOMPARE(openOn(d, slow.linkPath()), int(QR7215_OK));
    uint16_t v[20] = {};
    QElapsedTimer t;
    t.start();
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, v), int(QR7215_OK));
    QVERIFY2(t.elapsed() >= 249, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(int(v[0]), 24000);
    UPS_DeviceClose(&d);

    // A time-out shorter than the line needs fails, however quick the machine.
    deviceDescriptor quick = lineDescriptor(40, 0);
    quick.baudRate = 2400;
    closeAtExit guardQuick(quick);
    QCOMPARE(openOn(quick, slow.linkPath()), int(QR7215_E_TIMEOUT));
}

void tst_sdkFaults::moduleGoneBetweenRequests()
{
    deviceDescriptor d = lineDescriptor(1000, 3);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    m_sim.kill();
    uint16_t v[20] = {};
    QElapsedTimer t;
    t.start();
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, v), int(QR7215_E_LINK_LOST));
    QCOMPARE(UPS_WriteRegisters(&d, 40004, 1, v), int(QR7215_E_LINK_LOST));
    // Not one time-out was waited for, let alone four.
    QVERIFY2(t.elapsed() < 900, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(UPS_DeviceClose(&d), int(QR7215_OK));
}

void tst_sdkFaults::moduleGoneDuringARequest()
{
    deviceDescriptor d = lineDescriptor(3000, 3);
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    const int before = requests();
    int rc = 0;
    std::thread reader([&] {
        uint16_t v[20];
        rc = UPS_ReadRegisters(&d, 40016, 20, v);
    });
    QTRY_VERIFY(requests() > before);  // the request is out, its answer awaited
    QElapsedTimer t;
    t.start();
    m_sim.kill();
    reader.join();
    QCOMPARE(rc, int(QR7215_E_LINK_LOST));
    QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
}

void tst_sdkFaults::closeCutsARequestInFlight_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("requestsBeforeClose");
    QTest::addColumn<QString>("request");
    // Waiting for the first answer: without the cut, 4 x 2 s and more.
    QTest::newRow("read, first attempt") << 2000 << 3 << 1 << "read";
    QTest::newRow("write, first attempt") << 2000 << 3 << 1 << "write";
    // Later on, the close falls into an answer wait or into the quiet wait
    // after a time-out, whichever the timing gives.
    QTest::newRow("read, a later attempt") << 150 << 20 << 3 << "read";
    // The open's identification read, on a link not yet in the table.
    QTest::newRow("open, identification") << 2000 << 3 << 1 << "open";
}

void tst_sdkFaults::closeCutsARequestInFlight()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, retries);
    QFETCH(int, requestsBeforeClose);
    QFETCH(QString, request);
    deviceDescriptor d = lineDescriptor(uint32_t(timeoutMs), uint32_t(retries));
    closeAtExit guard(d);
    const bool open = request == QLatin1String("open");
    if (open)
        QCOMPARE(UPS_SetPortName(&d, QFile::encodeName(m_sim.linkPath()).constData()), int(QR7215_OK));
    else
        QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    const int before = requests();
    std::atomic<int> rc{1};
    std::thread worker([&] {
        uint16_t v[20] = {};
        deviceInfo info{};
        rc = open ? UPS_DeviceOpen(&d, &info)
             : request == QLatin1String("write") ? UPS_WriteRegisters(&d, 40004, 1, v)
                                                 : UPS_ReadRegisters(&d, 40016, 20, v);
    });
    QTRY_VERIFY_WITH_TIMEOUT(requests() - before >= requestsBeforeClose, 10000);
    QElapsedTimer t;
    t.start();
    const int closed = UPS_DeviceClose(&d);
    worker.join();
    const qint64 elapsed = t.elapsed();
    QCOMPARE(closed, int(QR7215_OK));
    QCOMPARE(rc.load(), int(QR7215_E_NOT_OPEN));
    // Far below one time-out, let alone the (retries + 1) of the full request.
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(requests() - before < retries + 1);

    // Closed for good: the port is free again, and the descriptor opens anew.
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_E_NOT_OPEN));
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QVERIFY(m_sim.set(40020, 4321));
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 4321);
}

// A late answer that arrives while the next request waits (the answer to a
// timed-out read lands 36 ms into the next one): the library waits for a
// quiet line after a time-out, so the old values are never taken for new.
void tst_sdkFaults::lateAnswerIsNotTakenForTheNextOne()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({QStringLiteral("--baud"), QStringLiteral("9600")}), qPrintable(SimulatorProcess::executable()));
    QVERIFY(sim.set(40016, 11111));

    deviceDescriptor d{};
    d.comPort = 1;
    d.slaveAddress = 1;
    d.stopBits = 1;
    d.dataBits = 8;
    d.baudRate = 9600;
    d.responseTimeout = 300;
    d.retries = 0;
    UPS_SetPortName(&d, sim.linkPath().toUtf8().constData());
    deviceInfo info{};
    QCOMPARE(UPS_DeviceOpen(&d, &info), int(QR7215_OK));

    quint16 values[20] = {};
    QCOMPARE(sim.command(QStringLiteral("fault delay 400")), QStringLiteral("ok"));
    const auto sent = std::chrono::steady_clock::now();
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, values), int(QR7215_E_TIMEOUT));
    // The module's value changes, and it answers at once again; A's answer
    // with the old value is still on its way.
    QVERIFY(sim.set(40016, 22222));
    QCOMPARE(sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(sim.pending(), 1L);

    std::this_thread::sleep_until(sent + std::chrono::milliseconds(430));
    const int rc = UPS_ReadRegisters(&d, 40016, 20, values);
    UPS_DeviceClose(&d);
    qInfo("second read: result %d, register 40016 = %u", rc, unsigned(values[0]));

    // A failure is honest; the new value is right; the old one is not.
    QVERIFY2(rc != QR7215_OK || values[0] == 22222, qPrintable(QString::number(values[0])));
}

QR_TEST_GUILESS_MAIN(tst_sdkFaults)
#include "tst_sdkfaults.moc"
