// The number a serial port name carries.
#include "comsettingswidget.h"
#include "testenv.h"

class tst_portNumber : public QObject
{
    Q_OBJECT

private slots:
    void fromName_data();
    void fromName();
};

void tst_portNumber::fromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    QTest::newRow("COM12") << "COM12" << 12;
    QTest::newRow("COM1") << "COM1" << 1;
    QTest::newRow("COM0 is a single zero") << "COM0" << 0;
    QTest::newRow("COM012 has a leading zero") << "COM012" << -1;
    QTest::newRow("COM00 has a leading zero") << "COM00" << -1;
    QTest::newRow("ttyS has no digits") << "ttyS" << -1;
    QTest::newRow("COM1.5 keeps its dot") << "COM1.5" << -1;
    QTest::newRow("COM3. keeps its dot") << "COM3." << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("ttyUSB3") << "ttyUSB3" << 3;
    QTest::newRow("ttyS0") << "ttyS0" << 0;
    QTest::newRow("ttyACM10") << "ttyACM10" << 10;
    QTest::newRow("digits on both sides join") << "a1b2" << 12;
    QTest::newRow("pseudo-terminal /dev/pts/7") << "/dev/pts/7" << 7;
    QTest::newRow("number beyond a port byte") << "COM65536" << 65536;
    QTest::newRow("too long for an int") << "COM99999999999" << -1;
}

void tst_portNumber::fromName()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(portNumberFromName(name), number);
}

QR_TEST_GUILESS_MAIN(tst_portNumber)
#include "tst_portnumber.moc"
