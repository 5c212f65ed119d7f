// The device library against the simulated module: what each call gives back
// when the module is silent, slow, damaged, refuses, is another device or
// vanishes, when the arguments, line settings or port are wrong, when another
// program holds the port, and when a close cuts a request or an open short.
#include <QtTest>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "childprocess.h"
#include "devicelink.h"
#include "simulatorprocess.h"
#include "testenv.h"

using namespace sdktest;

class tst_sdkFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_sim.stop(); }
    void outcome_data();
    void outcome();
    void lateAnswerIsNotTakenForTheNextOne_data();
    void lateAnswerIsNotTakenForTheNextOne();
    void cutShort_data();
    void cutShort();
    void portHeldOrForbidden_data();
    void portHeldOrForbidden();

private:
    int requests() { return int(m_sim.requests()); }
    SimulatorProcess m_sim;
};

void tst_sdkFaults::init()
{
    QVERIFY2(m_sim.start(), "the simulator did not start");
}

void tst_sdkFaults::outcome_data()
{
    QTest::addColumn<QString>("line");  // descriptor fields, its state, null pointers
    QTest::addColumn<QString>("sim");   // simulator commands before the call
    QTest::addColumn<QString>("call");  // open | close | name | read START COUNT | write START COUNT [VALUES]
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("onWire");  // requests the call sent
    const int timeout = QR7215_E_TIMEOUT, argument = QR7215_E_ARGUMENT, notOpen = QR7215_E_NOT_OPEN;
    const int notFound = QR7215_E_PORT_NOT_FOUND, notQr = QR7215_E_NOT_QR7215, ok = QR7215_OK;
    auto row = [](const char* name, const char* line, const char* sim, const char* call, int rc, int onWire) {
        QTest::newRow(name) << line << sim << call << rc << onWire;
    };
    row("read, no answer, no retry", "timeout=100 retries=0", "fault timeout", "read 40016 20", timeout, 1);
    row("read, no answer, three retries", "timeout=100 retries=3", "fault timeout", "read 40016 20", timeout, 4);
    row("write, no answer, one retry", "timeout=100 retries=1", "fault timeout", "write 40004 1 50", timeout, 2);
    row("open, no answer", "timeout=100 retries=2", "fault timeout", "open", timeout, 3);
    row("read, damaged answers", "timeout=100 retries=2", "fault crc", "read 40040 4", QR7215_E_CRC, 3);
    row("read, slow answer within the time-out", "timeout=400 retries=0", "fault delay 60", "read 40020 1", ok, 1);
    row("read, time-out 0 is raised to one that works", "timeout=0 retries=0", "", "read 40040 4", ok, 1);
    row("read, exception 1, not retried", "retries=2", "fault exception 1", "read 40016 2", -101, 1);
    row("write several, exception 12 keeps its number", "retries=2", "fault exception 12", "write 40004 2", -112, 1);
    row("write one, exception 255", "retries=2", "fault exception 255", "write 40004 1 7", -355, 1);
    row("read 40036, a gap", "", "", "read 40036 1", -102, 1);
    row("read across the gap 40030 x10", "", "", "read 40030 10", -102, 1);
    row("read 65535, beyond the map", "", "", "read 65535 1", -102, 1);
    row("write read-only 40016", "", "", "write 40016 1 5", -102, 1);
    row("write 40004 = 101, out of range", "", "", "write 40004 1 101", -103, 1);
    row("write command 40011 = 4", "", "", "write 40011 1 4", -103, 1);
    row("write several, one read-only: none stored", "", "", "write 40010 3 0 1 2000", -102, 1);
    row("read register table block 40000 x35", "", "", "read 40000 35", ok, 1);
    row("read last register 40043", "", "", "read 40043 1", ok, 1);
    row("write 40000 = 247", "", "", "write 40000 1 247", ok, 1);
    row("write several 40004 x3", "", "", "write 40004 3 33 120 45", ok, 1);
    row("open, versions come from the module", "", "set 40041 321; set 40042 4321; set 40043 7", "open", ok, 1);
    row("open, another device type", "", "set 40040 4660", "open", notQr, 1);
    row("open, exception 2: not a QR-7215", "", "fault exception 2", "open", notQr, 1);
    row("open, exception 1: not a QR-7215", "", "fault exception 1", "open", notQr, 1);
    row("open, exception 6: busy, may well be one", "", "fault exception 6", "open", -106, 1);
    row("open twice", "opened", "", "open", QR7215_E_ALREADY_OPEN, 0);
    row("read after close", "closed", "", "read 40040 1", notOpen, 0);
    row("write after close", "closed", "", "write 40004 1 30", notOpen, 0);
    row("close twice", "closed", "", "close", notOpen, 0);
    row("read, a handle the library never gave", "closed bogus", "", "read 40000 1", notOpen, 0);
    row("open, a handle the library never gave", "bogus", "", "open", ok, 1);
    row("read through a copy of an open descriptor", "copy", "", "read 40000 1", notOpen, 0);
    row("read count 0", "", "", "read 40000 0", argument, 0);
    row("read count 126", "", "", "read 40000 126", argument, 0);
    row("read start 39999", "", "", "read 39999 1", argument, 0);
    row("read past 65535", "", "", "read 65500 40", argument, 0);
    row("read null values", "nullbuf", "", "read 40000 1", argument, 0);
    row("read null descriptor", "nulldesc", "", "read 40000 1", argument, 0);
    row("write count 0", "", "", "write 40004 0", argument, 0);
    row("write count 124", "", "", "write 40000 124", argument, 0);
    row("write start 65536", "", "", "write 65536 1", argument, 0);
    row("write past 65535", "", "", "write 65530 10", argument, 0);
    row("write start near 2^32 wraps", "", "", "write 0xFFFFFFF0 100", argument, 0);
    row("write null values", "nullbuf", "", "write 40004 1", argument, 0);
    row("open null info", "nullbuf", "", "open", argument, 0);
    row("open null descriptor", "nulldesc", "", "open", argument, 0);
    row("close null descriptor", "nulldesc", "", "close", argument, 0);
    row("set port name null descriptor", "nulldesc", "", "name", argument, 0);
    row("communication mode 1", "mode=1", "", "open", argument, 0);
    row("slave address 0", "slave=0", "", "open", argument, 0);
    row("slave address 248", "slave=248", "", "open", argument, 0);
    row("parity 3", "parity=3", "", "open", argument, 0);
    row("stop bits 3", "stop=3", "", "open", argument, 0);
    row("data bits 9", "data=9", "", "open", argument, 0);
    row("baud rate 0", "baud=0", "", "open", argument, 0);
    row("baud rate 12345 the port cannot take", "baud=12345", "", "open", QR7215_E_PORT_SETUP, 0);
    row("7 data bits, even parity", "data=7 parity=1", "", "open", ok, 1);
    row("2 stop bits", "stop=2", "", "open", ok, 1);
    row("port path that does not exist", "port=/nonexistent/ttyUSB9", "", "open", notFound, 0);
    row("port name under /dev: null is no tty", "port=null", "", "open", QR7215_E_PORT_SETUP, 0);
    row("port name that /dev lacks", "port=ttyQR7215none", "", "open", notFound, 0);
    row("no port name, port 0", "port= comport=0", "", "open", argument, 0);
    row("no port name, port 250 is /dev/ttyS249", "port= comport=250", "", "open", notFound, 0);
}

void tst_sdkFaults::outcome()
{
    QFETCH(QString, line);
    QFETCH(QString, sim);
    QFETCH(QString, call);
    QFETCH(int, rc);
    QFETCH(int, onWire);
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QString port = m_sim.linkPath();
    const QStringList flags = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& f : flags) {
        const QString key = f.section(QLatin1Char('='), 0, 0);
        const uint v = f.section(QLatin1Char('='), 1).toUInt();
        const std::map<QString, uint32_t*> wide{
            {"timeout", &d.responseTimeout}, {"retries", &d.retries}, {"baud", &d.baudRate}};
        const std::map<QString, uint8_t*> narrow{{"mode", &d.comMode},   {"slave", &d.slaveAddress}, {"parity", &d.parity},
                                                {"stop", &d.stopBits},  {"data", &d.dataBits},      {"comport", &d.comPort}};
        if (key == QLatin1String("port"))
            port = f.section(QLatin1Char('='), 1);
        else if (wide.count(key))
            *wide.at(key) = v;
        else if (narrow.count(key))
            *narrow.at(key) = uint8_t(v);
    }
    const QStringList words = call.split(QLatin1Char(' '));
    const QString what = words[0];
    if (what != QLatin1String("open") || flags.contains(QStringLiteral("opened")))
        QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    if (flags.contains(QStringLiteral("closed")))
        QCOMPARE(UPS_DeviceClose(&d), int(QR7215_OK));
    if (flags.contains(QStringLiteral("bogus")))
        d.handle = 0x12345678;
    deviceDescriptor copy = d;
    deviceDescriptor* dp = flags.contains(QStringLiteral("nulldesc")) ? nullptr
                           : flags.contains(QStringLiteral("copy"))   ? &copy
                                                                      : &d;
    const bool nullBuffer = flags.contains(QStringLiteral("nullbuf"));
    for (const QString& c : sim.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        QCOMPARE(m_sim.command(c.simplified()), QStringLiteral("ok"));
    const uint32_t start = words.size() > 1 ? words[1].toUInt(nullptr, 0) : 0;
    const int count = words.size() > 2 ? words[2].toInt() : 0;
    std::vector<uint16_t> values(256, 1);
    QVector<int> around;  // the registers from start - 1 to start + count, as they were
    const bool inMap = start >= 40000 && start + uint32_t(count) <= 40044;
    for (int i = -1; inMap && i <= count; ++i) {
        // Each register read gets a value of its own, so a shifted address shows.
        if (what == QLatin1String("read") && i >= 0 && i < count && start + uint32_t(i) != 40040)
            m_sim.set(int(start) + i, 1000 + (int(start) + i) % 1000 * 7);
        around.append(m_sim.get(int(start) + i));
    }
    for (int i = 3; i < words.size(); ++i)
        values[size_t(i - 3)] = uint16_t(words[i].toUInt());

    const int before = requests();
    deviceInfo info{};
    int got = 0;
    if (what == QLatin1String("read"))
        got = UPS_ReadRegisters(dp, uint16_t(start), uint8_t(count), nullBuffer ? nullptr : values.data());
    else if (what == QLatin1String("write"))
        got = UPS_WriteRegisters(dp, start, uint8_t(count), nullBuffer ? nullptr : values.data());
    else if (what == QLatin1String("open")) {
        UPS_SetPortName(&d, "ttyQR7215stale");  // replaced by the row's name, or removed by an empty one
        if (dp)
            UPS_SetPortName(dp, port.toUtf8().constData());
        got = UPS_DeviceOpen(dp, nullBuffer ? nullptr : &info);
    } else if (what == QLatin1String("close"))
        got = UPS_DeviceClose(dp);
    else
        got = UPS_SetPortName(dp, "ttyS0");
    QCOMPARE(got, rc);
    QCOMPARE(requests() - before, onWire);
    const QString text = QString::fromUtf8(UPS_ErrorText(got));
    QVERIFY2(text != QLatin1String("unknown result code"), qPrintable(text));
    if (got < QR7215_E_EXCEPTION_BASE)
        QVERIFY2(text.contains(QStringLiteral("exception %1 (").arg(QR7215_E_EXCEPTION_BASE - got)), qPrintable(text));

    if (what == QLatin1String("open") && !flags.contains(QStringLiteral("opened"))) {
        QCOMPARE(d.handle != 0, got == QR7215_OK);
        if (got == QR7215_OK) {
            const uint16_t* fields = &info.deviceType;
            for (int i = 0; i < 4; ++i)
                QCOMPARE(int(fields[i]), m_sim.get(40040 + i));
        }
    }
    for (int i = -1; inMap && i <= count; ++i) {
        const int reg = int(start) + i;
        const bool inside = i >= 0 && i < count;
        if (what == QLatin1String("read") && inside && got == QR7215_OK)
            QCOMPARE(int(values[size_t(i)]), m_sim.get(reg));
        else if (what == QLatin1String("write") && inside && got == QR7215_OK)
            QCOMPARE(m_sim.get(reg), int(values[size_t(i)]));
        else if (what == QLatin1String("write") && reg != 40011)  // the command register always reads 0
            QCOMPARE(m_sim.get(reg), around[i + 1]);
    }
    if (what == QLatin1String("read") && got == QR7215_OK)
        QCOMPARE(int(values[size_t(count)]), 1);  // nothing beyond count is written

    // Whatever went wrong, the link or the port is fit for use once the module is.
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(40040, QR7215_DEVICE_TYPE));
    uint16_t id = 0;
    if (d.handle == 0 || (flags.contains(QStringLiteral("bogus")) && got != QR7215_OK)) {
        deviceDescriptor fresh = lineDescriptor();
        closeAtExit freshGuard(fresh);
        QCOMPARE(openOn(fresh, m_sim.linkPath()), int(QR7215_OK));
        QCOMPARE(UPS_ReadRegisters(&fresh, 40040, 1, &id), int(QR7215_OK));
    } else {
        QCOMPARE(UPS_ReadRegisters(&d, 40040, 1, &id), int(QR7215_OK));
    }
    QCOMPARE(int(id), QR7215_DEVICE_TYPE);
}

// Modbus RTU has no transaction number: the answer to a timed-out read, once
// it comes, must never be taken for the next request's, whether it already
// waits in the input when that request goes out or arrives while it waits.
void tst_sdkFaults::lateAnswerIsNotTakenForTheNextOne_data()
{
    QTest::addColumn<unsigned>("baud");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("nextAfterMs");  // from the first request; 0: once the late answer is out
    QTest::newRow("waiting in the input") << 0u << 100 << 300 << 0;
    // 9600 baud: the late answer lands 36 ms into the next request.
    QTest::newRow("arriving during the next request") << 9600u << 300 << 400 << 430;
}

void tst_sdkFaults::lateAnswerIsNotTakenForTheNextOne()
{
    QFETCH(unsigned, baud);
    QFETCH(int, timeoutMs);
    QFETCH(int, delayMs);
    QFETCH(int, nextAfterMs);
    SimulatorProcess sim;
    QVERIFY(sim.start(baud));
    deviceDescriptor d = lineDescriptor(uint32_t(timeoutMs), 0);
    d.baudRate = baud ? baud : d.baudRate;
    closeAtExit guard(d);
    QCOMPARE(openOn(d, sim.linkPath()), int(QR7215_OK));
    QVERIFY(sim.set(40016, 11111));
    QCOMPARE(sim.command(QStringLiteral("fault delay %1").arg(delayMs)), QStringLiteral("ok"));
    uint16_t v[20] = {};
    const auto sent = std::chrono::steady_clock::now();
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, v), int(QR7215_E_TIMEOUT));
    QVERIFY(sim.set(40016, 22222));
    QCOMPARE(sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    if (nextAfterMs)
        std::this_thread::sleep_until(sent + std::chrono::milliseconds(nextAfterMs));  // the timing is the case
    else
        QTRY_COMPARE(sim.pending(), 0L);
    const int rc = UPS_ReadRegisters(&d, 40016, 20, v);
    // A failure is honest, the new value is right, the old one never is.
    QVERIFY2(rc != QR7215_OK || v[0] == 22222, qPrintable(QString::number(v[0])));
    if (!nextAfterMs)
        QCOMPARE(rc, int(QR7215_OK));
    // And the line is in step afterwards.
    QVERIFY(sim.set(40016, 3333));
    QCOMPARE(UPS_ReadRegisters(&d, 40016, 20, v), int(QR7215_OK));
    QCOMPARE(int(v[0]), 3333);
}

void tst_sdkFaults::cutShort_data()
{
    QTest::addColumn<bool>("moduleGone");        // the line hangs up; else the descriptor is closed
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("requestsBeforeCut");  // 0: before the request starts
    QTest::addColumn<QString>("request");
    QTest::newRow("module gone between requests") << true << 2000 << 3 << 0 << "read";
    QTest::newRow("module gone during a request") << true << 2000 << 3 << 1 << "read";
    // Waiting for the first answer: without the cut, 4 x 2 s and more.
    QTest::newRow("close: read, first attempt") << false << 2000 << 3 << 1 << "read";
    QTest::newRow("close: write, first attempt") << false << 2000 << 3 << 1 << "write";
    // Later on, the close falls into an answer wait or into the quiet wait
    // after a time-out, whichever the timing gives.
    QTest::newRow("close: read, a later attempt") << false << 150 << 20 << 3 << "read";
    // The open's identification read, on a link not yet in the table.
    QTest::newRow("close: open, identification") << false << 2000 << 3 << 1 << "open";
}

void tst_sdkFaults::cutShort()
{
    QFETCH(bool, moduleGone);
    QFETCH(int, timeoutMs);
    QFETCH(int, retries);
    QFETCH(int, requestsBeforeCut);
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
    int closed = 0;
    QElapsedTimer t;
    const auto cut = [&] {
        t.start();
        if (moduleGone)
            m_sim.kill();
        else
            closed = UPS_DeviceClose(&d);
    };
    if (requestsBeforeCut == 0)
        cut();
    std::thread worker([&] {
        uint16_t v[20] = {};
        deviceInfo info{};
        rc = open ? UPS_DeviceOpen(&d, &info)
             : request == QLatin1String("write") ? UPS_WriteRegisters(&d, 40004, 1, v)
                                                 : UPS_ReadRegisters(&d, 40016, 20, v);
    });
    if (requestsBeforeCut > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(requests() - before >= requestsBeforeCut, 10000);  // its answer awaited
        cut();
    }
    worker.join();
    const qint64 elapsed = t.elapsed();
    // Far below one time-out, let alone the (retries + 1) of the full request.
    QVERIFY2(elapsed < (moduleGone ? 1500 : 1000), qPrintable(QString::number(elapsed)));
    uint16_t v = 0;
    if (moduleGone) {
        QCOMPARE(rc.load(), int(QR7215_E_LINK_LOST));
        QCOMPARE(UPS_WriteRegisters(&d, 40004, 1, &v), int(QR7215_E_LINK_LOST));
        QCOMPARE(UPS_DeviceClose(&d), int(QR7215_OK));
        return;
    }
    QCOMPARE(closed, int(QR7215_OK));
    QCOMPARE(rc.load(), int(QR7215_E_NOT_OPEN));
    QVERIFY(requests() - before < retries + 1);

    // Closed for good: the port is free again, and the descriptor opens anew.
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_E_NOT_OPEN));
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    QVERIFY(m_sim.set(40020, 4321));
    QCOMPARE(UPS_ReadRegisters(&d, 40020, 1, &v), int(QR7215_OK));
    QCOMPARE(int(v), 4321);
}

void tst_sdkFaults::portHeldOrForbidden_data()
{
    QTest::addColumn<bool>("heldHere");
    QTest::addColumn<QString>("opener");  // here, or the user a second program runs as
    QTest::addColumn<int>("mode");        // of the port for the second program
    QTest::addColumn<int>("rc");
    const int busy = QR7215_E_PORT_BUSY;
    QTest::newRow("held, a second connection here") << true << "here" << 0 << busy;
    // flock: root is stopped as well.
    QTest::newRow("held, another program") << true << "root" << 0 << busy;
    QTest::newRow("held, another user's program") << true << "nobody" << 0666 << busy;
    // Closed here first: the port must not stay exclusive after us.
    QTest::newRow("closed here, another user's program opens") << false << "nobody" << 0666 << int(QR7215_OK);
    QTest::newRow("port 0600, another user: no permission") << false << "nobody" << 0600 << int(QR7215_E_PERMISSION);
}

void tst_sdkFaults::portHeldOrForbidden()
{
    QFETCH(bool, heldHere);
    QFETCH(QString, opener);
    QFETCH(int, mode);
    QFETCH(int, rc);
    if (opener != QLatin1String("here") && !testsupport::canChangeUser())
        QSKIP("not root: cannot run the second program as another user");
    deviceDescriptor first = lineDescriptor();
    closeAtExit guard(first);
    QCOMPARE(openOn(first, m_sim.linkPath()), int(QR7215_OK));
    if (!heldHere)
        QCOMPARE(UPS_DeviceClose(&first), int(QR7215_OK));
    const int before = requests();
    int got = 0;
    if (opener == QLatin1String("here")) {
        deviceDescriptor second = lineDescriptor();
        closeAtExit secondGuard(second);
        got = openOn(second, m_sim.linkPath());
    } else {
        const QByteArray slave = QFile::encodeName(QFileInfo(m_sim.linkPath()).symLinkTarget());
        struct stat st {};
        QCOMPARE(::stat(slave.constData(), &st), 0);
        if (mode)
            QCOMPARE(::chmod(slave.constData(), mode_t(mode)), 0);
        got = -testsupport::runAs(opener.toUtf8().constData(), [&] {
            deviceDescriptor d = lineDescriptor();
            deviceInfo info{};
            UPS_SetPortName(&d, slave.constData());
            const int r = UPS_DeviceOpen(&d, &info);
            UPS_DeviceClose(&d);
            return -r;  // an exit code is one byte
        });
        ::chmod(slave.constData(), st.st_mode & 07777);
    }
    QCOMPARE(got, rc);
    if (rc != QR7215_OK)
        QCOMPARE(requests(), before);  // the refused open said not a word on the line
    uint16_t v = 0;
    if (heldHere)
        QCOMPARE(UPS_ReadRegisters(&first, 40040, 1, &v), int(QR7215_OK));
}

QR_TEST_GUILESS_MAIN(tst_sdkFaults)
#include "tst_sdkfaults.moc"
