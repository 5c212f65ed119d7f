// The link to the module over the fake device library: what the adapter
// returns and logs for each outcome, the descriptor it builds, when it calls a
// link lost, and the connection page where it adds logic of its own (values
// fitted to its controls, ports it shows, what each edit saves, Auto Boot,
// Auto Connect's retries).
#include "autostart.h"
#include "comadapter.h"
#include "comportnames.h"
#include "comsettingsfile.h"
#include "comsettingswidget.h"
#include "fakelink.h"
#include "logcapture.h"
#include "testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTimer>

#include <memory>

namespace {

enum class act { open, reopen, close, read, write };

const char kEntryName[] = "QR-7215";

QString configFile()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/configs/config_com.xml");
}

QString entryFile()
{
    return QString::fromStdString(platform::autoStartEntry(kEntryName));
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One field of a config_com.xml document, by its element name.
QString field(const QByteArray& xml, const QString& name)
{
    QDomDocument doc;
    doc.setContent(xml);
    const QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("Setting")).firstChildElement(name);
    return e.isNull() ? QStringLiteral("<missing>") : e.text();
}

// The record's field as the file would spell it.
QString recordField(const comSettings& s, const QString& name)
{
    QTemporaryDir dir;
    comSettingsFile::write(dir.filePath(QStringLiteral("r.xml")), s);
    return field(contents(dir.filePath(QStringLiteral("r.xml"))), name);
}

} // namespace

Q_DECLARE_METATYPE(act)

class tst_device : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void adapterReports_data();
    void adapterReports();
    void linkLost_data();
    void linkLost();
    void portNumberFromName_data();
    void portNumberFromName();
    void pageKeepsWhatItShows_data();
    void pageKeepsWhatItShows();
    void autoConnectKeepsTrying();

private:
    std::unique_ptr<LogCapture> m_log;
};

void tst_device::init()
{
    fakeLink::closeAny();
    fakesdk::reset();
    QDir(QFileInfo(configFile()).absolutePath()).removeRecursively();
    QFile::remove(entryFile());
    m_log = std::make_unique<LogCapture>();
}

void tst_device::cleanup()
{
    m_log.reset();
    fakesdk::setCloseResult(0);
    fakeLink::closeAny();
}

void tst_device::adapterReports_data()
{
    QTest::addColumn<act>("action");
    QTest::addColumn<int>("address");      // of the read or write
    QTest::addColumn<int>("fakeResult");   // what the library returns
    QTest::addColumn<QStringList>("lines");      // each line starts so
    QTest::addColumn<QStringList>("versions");   // hardware, firmware, driver; empty: none shown

    const auto row = [](const char* name, act a, int address, int fake, const QStringList& lines,
                        const QStringList& versions = {}) {
        QTest::newRow(name) << a << address << fake << lines << versions;
    };
    const QStringList none{"0000", "0000", "0000"};
    const auto openFailed = [](int code, const QString& more = QString()) {
        return QStringList{"Open device error:" + QString::number(code),
                           "Port ttyUSB4: " + QString::fromUtf8(UPS_ErrorText(code)) + more};
    };
    const int exception = QR7215_E_EXCEPTION_BASE - 2;
    row("open: port not found", act::open, 0, QR7215_E_PORT_NOT_FOUND, openFailed(QR7215_E_PORT_NOT_FOUND), none);
    row("open: no permission names the group", act::open, 0, QR7215_E_PERMISSION,
        openFailed(QR7215_E_PERMISSION, ". Your user must be a member of the group that owns the port (usually dialout"),
        none);
    row("open: exception answer", act::open, 0, exception, openFailed(exception), none);
    row("open: success", act::open, 0, 0,
        {"Open device success > Device Type:29205 Hardware version:65535 Firmware version:7"}, {"65535", "7", "0"});
    row("open fails on an open link: it is dropped", act::reopen, 0, QR7215_E_TIMEOUT, openFailed(QR7215_E_TIMEOUT), none);
    row("close", act::close, 0, 0, {"Close port 4 slave address 9 is success"}, none);
    row("close fails: link kept, nothing told", act::close, 0, QR7215_E_LINK_LOST, {});
    row("read: silent", act::read, 40016, 0, {});
    row("read: below the first register", act::read, 39999, 0,
        {"ERR: Register start address 39999 is invalid!", "ERR:-1:When reading register start from 39999"});
    row("read: time-out", act::read, 40016, QR7215_E_TIMEOUT, {"ERR:-8:When reading register start from 40016"});
    // A Disconnect closed the link under the read.
    row("read without a link: no failure", act::read, 40016, QR7215_E_NOT_OPEN, {});
    row("write", act::write, 40010, 0, {"SUCCESS: Setting register 40010 to value 65535"});
    row("write: below the first register", act::write, 39999, 0,
        {"ERR: Register start address 39999 is invalid!", "ERR:-1:When Setting register 39999 to value 65535"});
    row("write: exception", act::write, 40010, exception, {"ERR:-102:When Setting register 40010 to value 65535"});
}

void tst_device::adapterReports()
{
    QFETCH(act, action);
    QFETCH(int, address);
    QFETCH(int, fakeResult);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, versions);
    const int result = address > 0 && address < 40000 ? -1 : fakeResult;
    const bool openFirst = action != act::open && fakeResult != QR7215_E_NOT_OPEN;

    comSettings record;
    record.comPort = QStringLiteral("ttyUSB4");
    record.comPortNumber = 260;
    record.slaveId = 265;
    record.baudRate = 19200;
    record.dataLen = 7;
    record.stopBits = 2;
    record.parity = 1;
    record.responseTimeout = 2500;
    record.numOfRetries = 9;
    fakesdk::setInfo(deviceInfo{0x7215, 65535, 7, 0});
    if (openFirst)
        QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    for (uint r = 40000; r < 40040; ++r)
        fakesdk::setRegister(r, quint16(r * 3));
    m_log->clear();
    fakesdk::setOpenResult(fakeResult);
    fakesdk::setCloseResult(fakeResult);
    fakesdk::setReadResult(fakeResult);
    fakesdk::setWriteResult(fakeResult);

    ushort buffer[20] = {};
    bool connected = openFirst;
    switch (action) {
    case act::open:
    case act::reopen:
        QCOMPARE(g_comAdapter.slotOpenDevice(&record), result);
        connected = result == 0;
        {
            // The name is bound before the open that uses it; the numbers keep their low byte.
            const std::vector<fakesdk::Call> calls = fakesdk::calls();
            QCOMPARE(calls.at(calls.size() - 2).function, std::string("setPortName"));
            QCOMPARE(calls.back().portName, std::string("ttyUSB4"));
            const deviceDescriptor& d = calls.back().descriptor;
            QCOMPARE((QList<uint>{d.comPort, d.slaveAddress, d.baudRate, d.dataBits, d.stopBits, d.parity,
                                  d.responseTimeout, d.retries}),
                     (QList<uint>{4, 9, 19200, 7, 2, 1, 2500, 9}));
        }
        break;
    case act::close:
        QCOMPARE(g_comAdapter.slotCloseDevice(), result);
        connected = result != 0;
        break;
    case act::read:
        QCOMPARE(g_comAdapter.slotReadStatus(ushort(address), 20, buffer), result);
        QCOMPARE(fakesdk::countCalls("read"), address >= 40000 ? 1 : 0);
        QCOMPARE(uint(buffer[19]), result == 0 ? uint(quint16((address + 19) * 3)) : 0u);
        break;
    case act::write:
        QCOMPARE(g_comAdapter.slotWriteRegister(uint(address), 65535), result);
        QCOMPARE(fakesdk::countCalls("write"), address >= 40000 ? 1 : 0);
        QCOMPARE(uint(fakesdk::reg(40010)), result == 0 ? 65535u : 40010u * 3 % 65536);
        break;
    }
    QCOMPARE(g_comAdapter.isConnected(), connected);
    QCOMPARE(m_log->lines.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(m_log->lines.at(i).startsWith(lines.at(i)), qPrintable(m_log->lines.at(i)));
    const QStringList shown = m_log->hwVersions + m_log->fwVersions + m_log->drvVersions;
    QCOMPARE(shown, versions);
}

void tst_device::linkLost_data()
{
    QTest::addColumn<int>("poll");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("failure");    // what every read returns; 0: the time alone
    QTest::addColumn<int>("lostAfter");  // ms of silence; -1: lost at once

    QTest::newRow("three poll cycles") << 1000 << 100 << 0 << 0 << 3000;
    QTest::newRow("hang-up: at once") << 20 << 100 << 0 << int(QR7215_E_LINK_LOST) << -1;
    QTest::newRow("I/O error: at once") << 20 << 100 << 0 << int(QR7215_E_IO) << -1;
    QTest::newRow("time-outs: at least two seconds") << 20 << 100 << 0 << int(QR7215_E_TIMEOUT) << 2000;
    QTest::newRow("bad CRCs: a request with all its retries") << 20 << 700 << 2 << int(QR7215_E_CRC) << 2100;
}

// A link is lost when the port hangs up, or when nothing has been answered
// for longer than the slowest answer could take; never before.
void tst_device::linkLost()
{
    QFETCH(int, poll);
    QFETCH(int, timeout);
    QFETCH(int, retries);
    QFETCH(int, failure);
    QFETCH(int, lostAfter);

    comSettings record;
    record.pollDelay = quint32(poll);
    record.responseTimeout = quint32(timeout);
    record.numOfRetries = quint32(retries);
    if (lostAfter > 0)
        QCOMPARE(comAdapter::lostAfterMs(record), quint32(lostAfter));
    if (failure == 0)
        return;
    QElapsedTimer silence;
    silence.start();
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    fakesdk::setReadResult(failure);
    ushort buffer[20];
    const auto failedRead = [&] { return g_comAdapter.slotReadStatus(40016, 20, buffer) == failure; };
    QVERIFY(failedRead());
    QCOMPARE(g_comAdapter.linkLost(), lostAfter < 0);
    if (lostAfter > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(failedRead() && g_comAdapter.linkLost(), 3 * lostAfter);
        QVERIFY(silence.elapsed() >= lostAfter);
    }
    // The next open that succeeds trusts the link again.
    fakeLink::closeAny();
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    QVERIFY(!g_comAdapter.linkLost());
}

void tst_device::portNumberFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    QTest::newRow("COM12") << "COM12" << 12;
    QTest::newRow("COM0 is a single zero") << "COM0" << 0;
    QTest::newRow("COM012 has a leading zero") << "COM012" << -1;
    QTest::newRow("COM1.5 keeps its dot") << "COM1.5" << -1;
    QTest::newRow("ttyACM10") << "ttyACM10" << 10;
    QTest::newRow("digits on both sides join") << "a1b2" << 12;
    QTest::newRow("pseudo-terminal /dev/pts/7") << "/dev/pts/7" << 7;
    QTest::newRow("number beyond a port byte") << "COM65536" << 65536;
    QTest::newRow("too long for an int") << "COM99999999999" << -1;
}

void tst_device::portNumberFromName()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(::portNumberFromName(name), number);
}

void tst_device::pageKeepsWhatItShows_data()
{
    QTest::addColumn<QByteArray>("file");     // inside the Setting element; null: no file
    QTest::addColumn<QString>("control");   // the one edited; empty: Auto Hide, after a look at the record
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("text");        // in the record and, after the edit, in the file
    QTest::addColumn<bool>("connected");

    // A value the controls cannot show becomes the one they show, in the
    // record at once (a connect uses it) and in the file at the next save.
    const auto fitted = [](const char* name, const QByteArray& element, const QByteArray& value, const QString& text) {
        QTest::newRow(name) << "<" + element + ">" + value + "</" + element + ">" << QString() << QVariant()
                            << QString::fromLatin1(element) << text << false;
    };
    fitted("a port away for now is shown and kept", "ComPort", "COM7", "COM7");
    fitted("poll cycle 0 never spins the poll", "PollDelay", "0", "20");
    fitted("slave address 0", "SlaveId", "0", "1");
    fitted("slave address above 247", "SlaveId", "300", "247");
    fitted("slave address 200 is a Modbus address", "SlaveId", "200", "200");
    fitted("baud rate no item offers", "BaudRate", "12345", "115200");
    fitted("stop bits 3", "StopBits", "3", "1");
    fitted("data bits 7", "DataLen", "7", "8");
    fitted("parity 7", "Parity", "7", "0");
    fitted("mode 2", "ComMode", "2", "0");
    fitted("time-out above the most", "ResponseTimeout", "99999", "10000");
    fitted("retries above the most", "NumOfRetries", "500", "100");
    QTest::newRow("no file: the least poll cycle") << QByteArray() << QString() << QVariant() << "PollDelay" << "20" << false;
    QTest::newRow("no file: COM1 stands for the first port listed")
        << QByteArray() << QString() << QVariant() << "ComPort" << availableComPorts().value(0, "COM1") << false;

    // Every control saves when it changes.
    const auto edit = [](const char* name, const char* control, const QVariant& value, const char* element,
                         const char* text, bool connected = false, const QByteArray& file = QByteArray()) {
        QTest::newRow(name) << file << control << value << element << text << connected;
    };
    edit("Device Id", "m_spinBoxDeviceId", 42, "SlaveId", "42");
    edit("BaudRate", "m_comboBoxBaudRate", "9600", "BaudRate", "9600");
    edit("StopBits", "m_comboBoxStopBits", "2", "StopBits", "2");
    edit("Parity", "m_comboBoxParity", "Odd", "Parity", "2");
    edit("Resp. Timeout", "m_spinBoxRespTimeout", 3000, "ResponseTimeout", "3000");
    edit("Retry Count", "m_spinBoxRetryCount", 0, "NumOfRetries", "0");
    edit("Poll Cycle", "m_spinBoxPollCycle", 500, "PollDelay", "500");
    edit("Auto Connect", "m_checkBoxAutoConnect", true, "AutoConnect", "1");
    edit("Auto Boot on registers the entry", "m_checkBoxAutoBoot", true, "AutoBoot", "1");
    edit("Auto Boot off removes it", "m_checkBoxAutoBoot", false, "AutoBoot", "0", false, "<AutoBoot>1</AutoBoot>");
    edit("Auto Boot stays on through another edit", "m_spinBoxDeviceId", 9, "AutoBoot", "1", false, "<AutoBoot>1</AutoBoot>");
    edit("Auto Hide while connected", "m_checkBoxAutoHide", true, "AutoHide", "1", true);
    edit("Auto Connect while connected", "m_checkBoxAutoConnect", true, "AutoConnect", "1", true);
}

void tst_device::pageKeepsWhatItShows()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, control);
    QFETCH(QVariant, value);
    QFETCH(QString, element);
    QFETCH(QString, text);
    QFETCH(bool, connected);

    if (!file.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(configFile()).absolutePath()));
        QFile f(configFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?><Settings><Setting>" + file + "</Setting></Settings>");
    }
    const bool registered = file.contains("<AutoBoot>1<");
    if (registered)
        QVERIFY(platform::registerAutoStart(kEntryName));
    const QByteArray before = contents(configFile());

    comSettingsWidget page;
    // Showing what was loaded saves nothing and leaves the entry alone.
    QCOMPARE(contents(configFile()), before);
    QCOMPARE(QFile::exists(entryFile()), registered);
    std::unique_ptr<fakeLink> link;
    if (connected) {
        link = std::make_unique<fakeLink>();
        QVERIFY(link->isOpen());
        // The line settings lock while the link is open; the options do not.
        QTRY_VERIFY(!page.findChild<QSpinBox*>(QStringLiteral("m_spinBoxDeviceId"))->isEnabled());
    }
    if (control.isEmpty()) {
        QCOMPARE(recordField(page.settings(), element), text);
        control = QStringLiteral("m_checkBoxAutoHide");
        value = true;
    }

    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    QWidget* w = page.findChild<QWidget*>(control);
    QVERIFY(w && w->isEnabled());
    if (auto* spin = qobject_cast<QSpinBox*>(w))
        spin->setValue(value.toInt());
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentText(value.toString());
    else
        qobject_cast<QCheckBox*>(w)->setChecked(value.toBool());

    QCOMPARE(recordField(page.settings(), element), text);
    QCOMPARE(field(contents(configFile()), element), text);
    QCOMPARE(pollSpy.count(), 1);
    QCOMPARE(pollSpy.at(0).at(0).toUInt(), page.settings().pollDelay);
    QCOMPARE(QFile::exists(entryFile()), page.settings().autoBoot);
    if (connected) {
        // Connect pressed again before the refresh tick disables it: the
        // library would refuse a second open, and the link must stay usable.
        fakesdk::setOpenResult(QR7215_E_ALREADY_OPEN);
        page.slotOnConnect();
        QSignalSpy ticks(page.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 2);
        QCOMPARE(fakesdk::countCalls("open"), 1);
        QCOMPARE(m_log->countStartingWith(QStringLiteral("Open device error:")), 0);
        QVERIFY(g_comAdapter.isConnected());
        link.reset();
        QTRY_VERIFY(page.findChild<QSpinBox*>(QStringLiteral("m_spinBoxDeviceId"))->isEnabled());
    }
}

// Auto Connect at start keeps trying until the module is there (1 s, then
// 2 s later), and tells the failure once.
void tst_device::autoConnectKeepsTrying()
{
    QVERIFY(QDir().mkpath(QFileInfo(configFile()).absolutePath()));
    comSettings record;
    record.autoConnect = true;
    QVERIFY(comSettingsFile::write(configFile(), record));
    fakesdk::setOpenResult(QR7215_E_PORT_NOT_FOUND);
    comSettingsWidget page;
    // The poll thread learns its cycle before it hears of the link.
    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    int announced = 0;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings&) {
        QCOMPARE(pollSpy.count(), 1);
        ++announced;
    });
    QTRY_COMPARE_WITH_TIMEOUT(fakesdk::countCalls("open"), 2, 4000);
    fakesdk::setOpenResult(0);
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 5000);
    QTRY_COMPARE(announced, 1);
    QCOMPARE(fakesdk::countCalls("open"), 3);
    QCOMPARE(m_log->countStartingWith(QStringLiteral("Open device error:")), 1);
}

QR_TEST_MAIN(tst_device)
#include "tst_device.moc"
