// The device adapter over the fake device library: the descriptor it builds,
// the connected flag, and every line and version text it reports.
#include "comadapter.h"
#include "comsettings.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "testenv.h"

#include <memory>

class tst_comAdapter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failedOpenReportsCodeAndClearsVersions_data();
    void failedOpenReportsCodeAndClearsVersions();
    void failedOpenDropsAnEarlierConnection();
    void openSuccessReportsDevice();
    void descriptorTakesRecord_data();
    void descriptorTakesRecord();
    void nullRecordOpensWithInitialDescriptor();
    void closeReportsPortAndSlave();
    void failedCloseChangesNothing();
    void readStatusFillsBufferSilently();
    void readBelowFirstRegisterIsRefused_data();
    void readBelowFirstRegisterIsRefused();
    void readFailureIsReported();
    void writeSuccessIsReported();
    void writeBelowFirstRegisterIsRefused();
    void writeFailureIsReported();

private:
    void disconnectAdapter();
    std::unique_ptr<LogCapture> m_log;
};

void tst_comAdapter::disconnectAdapter()
{
    if (g_comAdapter.isConnected()) {
        fakesdk::setCloseResult(0);
        g_comAdapter.slotCloseDevice();
    }
    QVERIFY(!g_comAdapter.isConnected());
}

void tst_comAdapter::init()
{
    disconnectAdapter();
    fakesdk::reset();
    g_comAdapter.initDescriptor();
    m_log = std::make_unique<LogCapture>();
}

void tst_comAdapter::cleanup()
{
    m_log.reset();
    disconnectAdapter();
}

void tst_comAdapter::failedOpenReportsCodeAndClearsVersions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("extra");

    QTest::newRow("port not found") << int(QR7215_E_PORT_NOT_FOUND) << QString();
    QTest::newRow("not open (-3 as it is)") << int(QR7215_E_NOT_OPEN) << QString();
    QTest::newRow("no permission names the group") << int(QR7215_E_PERMISSION) << QStringLiteral("dialout");
    QTest::newRow("exception answer") << int(QR7215_E_EXCEPTION_BASE - 2) << QString();
}

void tst_comAdapter::failedOpenReportsCodeAndClearsVersions()
{
    QFETCH(int, code);
    QFETCH(QString, extra);

    fakesdk::setOpenResult(code);
    comSettings record;
    record.comPort = QStringLiteral("ttyUSB4");

    QCOMPARE(g_comAdapter.slotOpenDevice(&record), code);
    QVERIFY(!g_comAdapter.isConnected());
    QCOMPARE(m_log->lines.size(), 2);
    QCOMPARE(m_log->lines.at(0), QStringLiteral("Open device error:") + QString::number(code));
    // The second line explains the number in words and names the port.
    QVERIFY(m_log->lines.at(1).contains(QLatin1String(UPS_ErrorText(code))));
    QVERIFY(m_log->lines.at(1).contains(QLatin1String("ttyUSB4")));
    if (!extra.isEmpty())
        QVERIFY(m_log->lines.at(1).contains(extra));
    QCOMPARE(m_log->hwVersions, QStringList{QStringLiteral("0000")});
    QCOMPARE(m_log->fwVersions, QStringList{QStringLiteral("0000")});
    QCOMPARE(m_log->drvVersions, QStringList{QStringLiteral("0000")});
}

void tst_comAdapter::failedOpenDropsAnEarlierConnection()
{
    comSettings record;
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    QVERIFY(g_comAdapter.isConnected());

    fakesdk::setOpenResult(QR7215_E_TIMEOUT);
    m_log->clear();
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), int(QR7215_E_TIMEOUT));
    QVERIFY(!g_comAdapter.isConnected());
    QCOMPARE(m_log->lines.value(0), QStringLiteral("Open device error:-8"));
    QCOMPARE(m_log->hwVersions, QStringList{QStringLiteral("0000")});
}

void tst_comAdapter::openSuccessReportsDevice()
{
    fakesdk::setInfo(deviceInfo{0x7215, 65535, 7, 0});
    comSettings record;

    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    QVERIFY(g_comAdapter.isConnected());
    QCOMPARE(m_log->lines, QStringList{QStringLiteral(
                               "Open device success > Device Type:29205 Hardware version:65535 Firmware version:7")});
    QCOMPARE(m_log->hwVersions, QStringList{QStringLiteral("65535")});
    QCOMPARE(m_log->fwVersions, QStringList{QStringLiteral("7")});
    QCOMPARE(m_log->drvVersions, QStringList{QStringLiteral("0")});
}

void tst_comAdapter::descriptorTakesRecord_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<int>("slaveId");
    QTest::addColumn<int>("expectedPort");
    QTest::addColumn<int>("expectedSlave");

    QTest::newRow("COM3 slave 1") << "COM3" << 3 << 1 << 3 << 1;
    QTest::newRow("number 65535 keeps its low byte") << "" << 65535 << 99 << 255 << 99;
    QTest::newRow("number 259 gives 3, slave 300 gives 44") << "ttyS258" << 259 << 300 << 3 << 44;
    QTest::newRow("pseudo-terminal path") << "/tmp/sim/ttySIM" << 65535 << 247 << 255 << 247;
}

void tst_comAdapter::descriptorTakesRecord()
{
    QFETCH(QString, port);
    QFETCH(int, portNumber);
    QFETCH(int, slaveId);
    QFETCH(int, expectedPort);
    QFETCH(int, expectedSlave);

    comSettings record;
    record.comPort = port;
    record.comPortNumber = static_cast<quint16>(portNumber);
    record.slaveId = static_cast<quint16>(slaveId);
    record.comMode = 0;
    record.baudRate = 19200;
    record.dataLen = 7;
    record.stopBits = 2;
    record.parity = 1;
    record.responseTimeout = 2500;
    record.numOfRetries = 9;

    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);

    const std::vector<fakesdk::Call> calls = fakesdk::calls();
    QCOMPARE(int(calls.size()), 2);
    // The name is bound before the open that uses it.
    QCOMPARE(QString::fromStdString(calls[0].function), QStringLiteral("setPortName"));
    QCOMPARE(QString::fromStdString(calls[1].function), QStringLiteral("open"));
    QCOMPARE(QString::fromStdString(calls[1].portName), port);

    const deviceDescriptor& d = calls[1].descriptor;
    QCOMPARE(int(d.comMode), 0);
    QCOMPARE(int(d.comPort), expectedPort);
    QCOMPARE(int(d.slaveAddress), expectedSlave);
    QCOMPARE(int(d.parity), 1);
    QCOMPARE(int(d.stopBits), 2);
    QCOMPARE(int(d.dataBits), 7);
    QCOMPARE(d.baudRate, 19200u);
    QCOMPARE(d.responseTimeout, 2500u);
    QCOMPARE(d.retries, 9u);
    QCOMPARE(d.reserved2, 0u);
}

void tst_comAdapter::nullRecordOpensWithInitialDescriptor()
{
    comSettings record;
    record.baudRate = 9600;
    record.slaveId = 5;
    record.comPortNumber = 8;
    record.parity = 2;
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    disconnectAdapter();

    g_comAdapter.initDescriptor();
    fakesdk::reset();
    QCOMPARE(g_comAdapter.slotOpenDevice(nullptr), 0);

    const std::vector<fakesdk::Call> calls = fakesdk::calls();
    QCOMPARE(int(calls.size()), 1);
    QCOMPARE(QString::fromStdString(calls[0].function), QStringLiteral("open"));
    const deviceDescriptor& d = calls[0].descriptor;
    QCOMPARE(int(d.comMode), 0);
    QCOMPARE(int(d.comPort), 1);
    QCOMPARE(int(d.slaveAddress), 1);
    QCOMPARE(int(d.parity), 0);
    QCOMPARE(int(d.dataBits), 8);
    QCOMPARE(d.baudRate, 115200u);
}

void tst_comAdapter::closeReportsPortAndSlave()
{
    comSettings record;
    record.comPort = QStringLiteral("COM3");
    record.comPortNumber = 3;
    record.slaveId = 1;
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    m_log->clear();

    QCOMPARE(g_comAdapter.slotCloseDevice(), 0);
    QVERIFY(!g_comAdapter.isConnected());
    QCOMPARE(m_log->lines, QStringList{QStringLiteral("Close port 3 slave address 1 is success")});
    QCOMPARE(m_log->hwVersions, QStringList{QStringLiteral("0000")});
    QCOMPARE(m_log->fwVersions, QStringList{QStringLiteral("0000")});
    QCOMPARE(m_log->drvVersions, QStringList{QStringLiteral("0000")});
}

void tst_comAdapter::failedCloseChangesNothing()
{
    comSettings record;
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    m_log->clear();

    fakesdk::setCloseResult(QR7215_E_LINK_LOST);
    QCOMPARE(g_comAdapter.slotCloseDevice(), int(QR7215_E_LINK_LOST));
    QVERIFY(g_comAdapter.isConnected());
    QVERIFY(m_log->lines.isEmpty());
    QVERIFY(m_log->hwVersions.isEmpty());
    QVERIFY(m_log->fwVersions.isEmpty());
    QVERIFY(m_log->drvVersions.isEmpty());
}

void tst_comAdapter::readStatusFillsBufferSilently()
{
    comSettings record;
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    for (uint r = 40016; r < 40036; ++r)
        fakesdk::setRegister(r, static_cast<uint16_t>(r * 3));
    m_log->clear();

    ushort buffer[20] = {};
    QCOMPARE(g_comAdapter.slotReadStatus(40016, 20, buffer), 0);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(uint(buffer[i]), uint(static_cast<uint16_t>((40016 + i) * 3)));
    QVERIFY(m_log->lines.isEmpty());

    const std::vector<fakesdk::Call> calls = fakesdk::calls();
    QCOMPARE(QString::fromStdString(calls.back().function), QStringLiteral("read"));
    QCOMPARE(calls.back().start, 40016u);
    QCOMPARE(calls.back().count, 20u);
}

void tst_comAdapter::readBelowFirstRegisterIsRefused_data()
{
    QTest::addColumn<int>("start");
    QTest::newRow("39999") << 39999;
    QTest::newRow("0") << 0;
}

void tst_comAdapter::readBelowFirstRegisterIsRefused()
{
    QFETCH(int, start);
    ushort buffer[4] = {1, 2, 3, 4};

    QCOMPARE(g_comAdapter.slotReadStatus(static_cast<ushort>(start), 4, buffer), -1);
    const QString n = QString::number(start);
    QCOMPARE(m_log->lines, (QStringList{QStringLiteral("ERR: Register start address ") + n + QStringLiteral(" is invalid!"),
                                        QStringLiteral("ERR:-1:When reading register start from ") + n}));
    QCOMPARE(fakesdk::countCalls("read"), 0);
    QCOMPARE(uint(buffer[0]), 1u);

    // The first valid register reaches the library.
    m_log->clear();
    QCOMPARE(g_comAdapter.slotReadStatus(40000, 4, buffer), 0);
    QCOMPARE(fakesdk::countCalls("read"), 1);
    QVERIFY(m_log->lines.isEmpty());
}

void tst_comAdapter::readFailureIsReported()
{
    fakesdk::setReadResult(QR7215_E_TIMEOUT);
    ushort buffer[20] = {};
    QCOMPARE(g_comAdapter.slotReadStatus(40016, 20, buffer), int(QR7215_E_TIMEOUT));
    QCOMPARE(m_log->lines, QStringList{QStringLiteral("ERR:-8:When reading register start from 40016")});
}

void tst_comAdapter::writeSuccessIsReported()
{
    QCOMPARE(g_comAdapter.slotWriteRegister(40010, 65535), 0);
    QCOMPARE(m_log->lines, QStringList{QStringLiteral("SUCCESS: Setting register 40010 to value 65535")});
    QCOMPARE(uint(fakesdk::reg(40010)), 65535u);
    const std::vector<fakesdk::Call> calls = fakesdk::calls();
    QCOMPARE(calls.back().start, 40010u);
    QCOMPARE(calls.back().count, 1u);
}

void tst_comAdapter::writeBelowFirstRegisterIsRefused()
{
    QCOMPARE(g_comAdapter.slotWriteRegister(39999, 7), -1);
    QCOMPARE(m_log->lines, (QStringList{QStringLiteral("ERR: Register start address 39999 is invalid!"),
                                        QStringLiteral("ERR:-1:When Setting register 39999 to value 7")}));
    QCOMPARE(fakesdk::countCalls("write"), 0);
}

void tst_comAdapter::writeFailureIsReported()
{
    fakesdk::setWriteResult(QR7215_E_EXCEPTION_BASE - 3);
    QCOMPARE(g_comAdapter.slotWriteRegister(40010, 1), -103);
    QCOMPARE(m_log->lines, QStringList{QStringLiteral("ERR:-103:When Setting register 40010 to value 1")});
    QCOMPARE(uint(fakesdk::reg(40010)), 0u);
}

QR_TEST_GUILESS_MAIN(tst_comAdapter)
#include "tst_comadapter.moc"
