// A late answer taken for the answer to the next request: the fault the
// fault matrix's "answers later than the time-out" row ran into on the Config
// tab (the table showed the value of before the fault again after the fresh
// one). Modbus RTU has no transaction number, so an answer that arrives after
// its request timed out, while the next identical request waits, is taken as
// that request's answer, however old its values are. The library now waits,
// after a time-out, until the line has been quiet for one time-out before
// the next request goes out, and discards what arrives meanwhile.
//
// Made deterministic here with the device library alone: the simulator runs
// at 9600 baud, so every answer leaves 62 ms after its request; request A
// times out and its answer (old value) is held until 466 ms, request B goes
// out at 430 ms and its answer (new value) would leave at 497 ms. A's answer
// arrives first, inside B's wait.
#include "sdk/qr7215sdk.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <chrono>
#include <thread>

class tst_lateAnswer : public QObject
{
    Q_OBJECT

private slots:
    void lateAnswerIsNotTakenForTheNextOne();
};

void tst_lateAnswer::lateAnswerIsNotTakenForTheNextOne()
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

QR_TEST_GUILESS_MAIN(tst_lateAnswer)
#include "tst_lateanswer.moc"
