// The device library's checks before anything reaches the line: arguments,
// line settings and port names, and the text of every result code.
#include <QtTest>

#include <QSet>

#include <vector>

#include "devicelink.h"
#include "simulatorprocess.h"
#include "testenv.h"

using namespace sdktest;

class tst_sdkArguments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void badLineSettingsAreRefused_data();
    void badLineSettingsAreRefused();
    void portNames_data();
    void portNames();
    void everyCodeHasATextOfItsOwn();

private:
    SimulatorProcess m_sim;
};

void tst_sdkArguments::initTestCase()
{
    QVERIFY2(m_sim.start(), "the simulator did not start");
}

void tst_sdkArguments::cleanupTestCase()
{
    m_sim.stop();
}

void tst_sdkArguments::badArgumentsAreRefused_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("nullValues");
    QTest::addColumn<bool>("nullDescriptor");
    QTest::newRow("read count 0") << "read" << 40000 << 0 << false << false;
    QTest::newRow("read count 126") << "read" << 40000 << 126 << false << false;
    QTest::newRow("read start 39999") << "read" << 39999 << 1 << false << false;
    QTest::newRow("read start 0") << "read" << 0 << 1 << false << false;
    QTest::newRow("read past 65535") << "read" << 65500 << 40 << false << false;
    QTest::newRow("read null values") << "read" << 40000 << 1 << true << false;
    QTest::newRow("read null descriptor") << "read" << 40000 << 1 << false << true;
    QTest::newRow("write count 0") << "write" << 40004 << 0 << false << false;
    QTest::newRow("write count 124") << "write" << 40000 << 124 << false << false;
    QTest::newRow("write start 39999") << "write" << 39999 << 1 << false << false;
    QTest::newRow("write start 65536") << "write" << 65536 << 1 << false << false;
    QTest::newRow("write past 65535") << "write" << 65530 << 10 << false << false;
    QTest::newRow("write start near 2^32 wraps") << "write" << int(0xFFFFFFF0u) << 100 << false << false;
    QTest::newRow("write null values") << "write" << 40004 << 1 << true << false;
    QTest::newRow("write null descriptor") << "write" << 40004 << 1 << false << true;
    QTest::newRow("open null info") << "open" << 0 << 0 << true << false;
    QTest::newRow("open null descriptor") << "open" << 0 << 0 << false << true;
    QTest::newRow("close null descriptor") << "close" << 0 << 0 << false << true;
    QTest::newRow("set port name null descriptor") << "name" << 0 << 0 << false << true;
}

void tst_sdkArguments::badArgumentsAreRefused()
{
    QFETCH(QString, call);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, nullValues);
    QFETCH(bool, nullDescriptor);
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    if (call != QLatin1String("open"))
        QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    const int requests = m_sim.requests();
    std::vector<uint16_t> values(256, 1);
    deviceDescriptor* dp = nullDescriptor ? nullptr : &d;
    uint16_t* vp = nullValues ? nullptr : values.data();
    deviceInfo info{};
    int rc = 0;
    if (call == QLatin1String("read"))
        rc = UPS_ReadRegisters(dp, uint16_t(start), uint8_t(count), vp);
    else if (call == QLatin1String("write"))
        rc = UPS_WriteRegisters(dp, uint32_t(start), uint8_t(count), vp);
    else if (call == QLatin1String("open"))
        rc = UPS_DeviceOpen(dp, nullValues ? nullptr : &info);
    else if (call == QLatin1String("close"))
        rc = UPS_DeviceClose(dp);
    else
        rc = UPS_SetPortName(dp, "ttyS0");
    QCOMPARE(rc, int(QR7215_E_ARGUMENT));
    QCOMPARE(m_sim.requests(), requests);  // nothing went out
}

void tst_sdkArguments::badLineSettingsAreRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("communication mode 1") << "comMode" << 1 << int(QR7215_E_ARGUMENT);
    QTest::newRow("slave address 0") << "slaveAddress" << 0 << int(QR7215_E_ARGUMENT);
    QTest::newRow("slave address 248") << "slaveAddress" << 248 << int(QR7215_E_ARGUMENT);
    QTest::newRow("parity 3") << "parity" << 3 << int(QR7215_E_ARGUMENT);
    QTest::newRow("stop bits 0") << "stopBits" << 0 << int(QR7215_E_ARGUMENT);
    QTest::newRow("stop bits 3") << "stopBits" << 3 << int(QR7215_E_ARGUMENT);
    QTest::newRow("data bits 6") << "dataBits" << 6 << int(QR7215_E_ARGUMENT);
    QTest::newRow("data bits 9") << "dataBits" << 9 << int(QR7215_E_ARGUMENT);
    QTest::newRow("baud rate 0") << "baudRate" << 0 << int(QR7215_E_ARGUMENT);
    QTest::newRow("baud rate 12345") << "baudRate" << 12345 << int(QR7215_E_PORT_SETUP);
    QTest::newRow("data bits 7 even parity works") << "dataBits" << 7 << int(QR7215_OK);
    QTest::newRow("2 stop bits works") << "stopBits" << 2 << int(QR7215_OK);
    QTest::newRow("9600 baud works") << "baudRate" << 9600 << int(QR7215_OK);
}

void tst_sdkArguments::badLineSettingsAreRefused()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(int, expected);
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    if (field == QLatin1String("comMode"))
        d.comMode = uint8_t(value);
    else if (field == QLatin1String("slaveAddress"))
        d.slaveAddress = uint8_t(value);
    else if (field == QLatin1String("parity"))
        d.parity = uint8_t(value);
    else if (field == QLatin1String("stopBits"))
        d.stopBits = uint8_t(value);
    else if (field == QLatin1String("dataBits")) {
        d.dataBits = uint8_t(value);
        d.parity = 1;
    } else
        d.baudRate = uint32_t(value);
    QCOMPARE(openOn(d, m_sim.linkPath()), expected);
    QCOMPARE(d.handle != 0, expected == QR7215_OK);
}

void tst_sdkArguments::portNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<int>("expected");
    QTest::newRow("the link's path") << "LINK" << 1 << int(QR7215_OK);
    QTest::newRow("bare name is under /dev: null is no tty") << "null" << 1 << int(QR7215_E_PORT_SETUP);
    QTest::newRow("bare name that /dev lacks") << "ttyQR7215none" << 1 << int(QR7215_E_PORT_NOT_FOUND);
    QTest::newRow("path that does not exist") << "/nonexistent/ttyUSB9" << 1 << int(QR7215_E_PORT_NOT_FOUND);
    QTest::newRow("no name, port 0") << "" << 0 << int(QR7215_E_ARGUMENT);
    QTest::newRow("no name, port 250 is /dev/ttyS249") << "" << 250 << int(QR7215_E_PORT_NOT_FOUND);
}

void tst_sdkArguments::portNames()
{
    QFETCH(QString, name);
    QFETCH(int, portNumber);
    QFETCH(int, expected);
    if (name == QLatin1String("LINK"))
        name = m_sim.linkPath();
    deviceDescriptor d = lineDescriptor();
    d.comPort = uint8_t(portNumber);
    closeAtExit guard(d);
    // A name bound earlier is replaced, and the empty name removes it.
    UPS_SetPortName(&d, "ttyQR7215stale");
    QCOMPARE(openOn(d, name), expected);
}

void tst_sdkArguments::everyCodeHasATextOfItsOwn()
{
    QSet<QString> seen;
    for (int code = 0; code >= -355; --code) {
        if (code == -1 || code == -100 || (code < -14 && code > -100))
            continue;
        const QString text = QString::fromUtf8(UPS_ErrorText(code));
        QVERIFY2(!text.isEmpty() && text != QLatin1String("unknown result code"), qPrintable(QString::number(code)));
        QVERIFY2(!seen.contains(text), qPrintable(text));
        seen.insert(text);
    }
}

QR_TEST_GUILESS_MAIN(tst_sdkArguments)
#include "tst_sdkarguments.moc"
