// The simulator's command parser: which lines are commands, what they carry,
// and the reason given for each line that is refused.
#include <QtTest>

#include "commandparser.h"
#include "testenv.h"

using namespace qr7215sim;

Q_DECLARE_METATYPE(qr7215sim::commandKind)

class tst_commandParser : public QObject
{
    Q_OBJECT

private slots:
    void validLines_data();
    void validLines();
    void refusedLines_data();
    void refusedLines();
};

void tst_commandParser::validLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<commandKind>("kind");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");

    QTest::newRow("set 40016 23000") << "set 40016 23000" << commandKind::set << 40016 << 23000;
    QTest::newRow("set read-only 40040 to 0") << "set 40040 0" << commandKind::set << 40040 << 0;
    QTest::newRow("set 65535") << "set 40004 65535" << commandKind::set << 40004 << 65535;
    QTest::newRow("set hexadecimal") << "set 40040 0x7215" << commandKind::set << 40040 << 0x7215;
    QTest::newRow("extra blanks and tabs") << "  set\t40003   4 " << commandKind::set << 40003 << 4;
    QTest::newRow("upper case") << "SET 40003 4" << commandKind::set << 40003 << 4;
    QTest::newRow("get first") << "get 40000" << commandKind::get << 40000 << 0;
    QTest::newRow("get last") << "get 40043" << commandKind::get << 40043 << 0;
    QTest::newRow("power fail") << "power fail" << commandKind::powerFail << 0 << 0;
    QTest::newRow("power restore") << "power restore" << commandKind::powerRestore << 0 << 0;
    QTest::newRow("fault timeout") << "fault timeout" << commandKind::faultTimeout << 0 << 0;
    QTest::newRow("fault delay 250") << "fault delay 250" << commandKind::faultDelay << 0 << 250;
    QTest::newRow("fault delay 0") << "fault delay 0" << commandKind::faultDelay << 0 << 0;
    QTest::newRow("fault crc") << "fault crc" << commandKind::faultCrc << 0 << 0;
    QTest::newRow("fault exception 2") << "fault exception 2" << commandKind::faultException << 0 << 2;
    QTest::newRow("fault exception 255") << "fault exception 255" << commandKind::faultException << 0 << 255;
    QTest::newRow("fault none") << "fault none" << commandKind::faultNone << 0 << 0;
    QTest::newRow("requests") << "requests" << commandKind::requests << 0 << 0;
    QTest::newRow("pending") << "pending" << commandKind::pending << 0 << 0;
    QTest::newRow("quit") << "quit" << commandKind::quit << 0 << 0;
}

void tst_commandParser::validLines()
{
    QFETCH(QString, line);
    QFETCH(commandKind, kind);
    QFETCH(int, reg);
    QFETCH(int, value);
    const parseResult r = parseCommand(line.toStdString());
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(r.command.kind, kind);
    QCOMPARE(r.command.reg, reg);
    QCOMPARE(r.command.value, value);
}

void tst_commandParser::refusedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << "" << "empty command";
    QTest::newRow("blanks only") << "   \t " << "empty command";
    QTest::newRow("unknown command") << "reboot" << "unknown command \"reboot\"";
    QTest::newRow("set without value") << "set 40016" << "usage: set REG VALUE";
    QTest::newRow("set with extra word") << "set 40016 1 2" << "usage: set REG VALUE";
    QTest::newRow("register below the map") << "set 39999 1" << "register 39999 does not exist";
    QTest::newRow("register in the gap") << "get 40036" << "register 40036 does not exist";
    QTest::newRow("register above the map") << "get 40044" << "register 40044 does not exist";
    QTest::newRow("register not a number") << "get abc" << "register \"abc\" is not a number";
    QTest::newRow("negative register") << "get -40000" << "register \"-40000\" is not a number";
    QTest::newRow("value 65536") << "set 40016 65536" << "value 65536 is out of 0..65535";
    QTest::newRow("negative value") << "set 40016 -1" << "value \"-1\" is not a number";
    QTest::newRow("value with a unit") << "set 40016 12V" << "value \"12V\" is not a number";
    QTest::newRow("huge value") << "set 40016 99999999999999999999" << "value \"99999999999999999999\" is not a number";
    QTest::newRow("bare 0x") << "set 40016 0x" << "value \"0x\" is not a number";
    QTest::newRow("get without register") << "get" << "usage: get REG";
    QTest::newRow("power alone") << "power" << "usage: power fail|restore";
    QTest::newRow("power off") << "power off" << "usage: power fail|restore";
    QTest::newRow("fault alone") << "fault" << "usage: fault timeout|delay MS|crc|exception CODE|none";
    QTest::newRow("unknown fault") << "fault noise" << "unknown fault \"noise\" (timeout, delay, crc, exception or none)";
    QTest::newRow("delay without ms") << "fault delay" << "usage: fault delay MS";
    QTest::newRow("delay too long") << "fault delay 60001" << "delay 60001 is out of 0..60000";
    QTest::newRow("exception 0") << "fault exception 0" << "exception code 0 is out of 1..255";
    QTest::newRow("exception 256") << "fault exception 256" << "exception code 256 is out of 1..255";
    QTest::newRow("fault crc with argument") << "fault crc 3" << "usage: fault crc";
    QTest::newRow("quit with argument") << "quit now" << "usage: quit";
}

void tst_commandParser::refusedLines()
{
    QFETCH(QString, line);
    QFETCH(QString, reason);
    const parseResult r = parseCommand(line.toStdString());
    QVERIFY(!r.ok);
    QCOMPARE(QString::fromStdString(r.error), reason);
}

QR_TEST_GUILESS_MAIN(tst_commandParser)
#include "tst_commandparser.moc"
