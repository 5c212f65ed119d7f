// qr7215ctl as a script runs it: arguments in, exit code, standard output
// and the module's registers out, against the simulator. And the NUT data
// file: what a block becomes, a lost link, and the once-a-second limit.
#include "nutdatafile.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using testsupport::fileBytes;
using testsupport::putFile;

class tst_ctl : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void commands_data();
    void commands();
    void monitorStopsWhileItOpens();
    void nutFile_data();
    void nutFile();
    void nutFileStaleAndRate();

private:
    int run(const QStringList& args, QByteArray* out, QByteArray* err);
    SimulatorProcess m_sim;
    QTemporaryDir m_dir;
    QString m_config;
};

void tst_ctl::initTestCase()
{
    QVERIFY(m_sim.start());
    // The settings a row does not override: the simulator's port, and a
    // short time-out so that the rows without an answer end soon.
    m_config = m_dir.filePath(QStringLiteral("config_com.xml"));
    QVERIFY(putFile(m_config, QStringLiteral("<Settings><Setting><ComPort>%1</ComPort><SlaveId>1</SlaveId>"
                                             "<ResponseTimeout>200</ResponseTimeout><NumOfRetries>0</NumOfRetries>"
                                             "</Setting></Settings>")
                                  .arg(m_sim.linkPath())
                                  .toUtf8()));
}

void tst_ctl::cleanupTestCase()
{
    m_sim.stop();
}

int tst_ctl::run(const QStringList& args, QByteArray* out, QByteArray* err)
{
    QProcess p;
    p.start(QStringLiteral(QR7215CTL_PATH), QStringList{QStringLiteral("--config"), m_config} + args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    *out = p.readAllStandardOutput();
    *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void tst_ctl::commands_data()
{
    // sim: simulator commands before the run; json: path=value checks on the
    // JSON output; after: register=value on the simulator after the run.
    // hold: a watch holds the port during the run.
    QTest::addColumn<QString>("sim");
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("hold");

    QTest::newRow("status --json is the decoded block and its registers")
        << "set 40026 37;set 40016 23456" << "status --json" << 0 << "" << ""
        << "battery_level=37;battery_status=Charging;power_supply=DC;input_voltage_mV=23456;"
           "registers/40026=37;registers/40016=23456;signals/DC_OK=true;policy_mode=PC"
        << "" << false;
    QTest::newRow("status --json on battery") << "power fail" << "status --json" << 0 << "" << ""
                                              << "power_supply=UPS;battery_status=Discharging;signals/DC_OK=false;"
                                                 "signals/Bat.Mode=true"
                                              << "" << false;
    QTest::newRow("status as text") << "power restore;set 40026 100;set 40035 5" << "status" << 0
                                    << "Battery status: +Charge Full\n.*Policy|Policy mode: +\u221E Sec\\."
                                    << "" << "" << "" << false;
    QTest::newRow("read a range as JSON") << "set 40005 77;set 40006 12" << "read 40005 2 --json" << 0 << "" << ""
                                          << "40005=77;40006=12" << "" << false;
    QTest::newRow("read one as text") << "set 40009 0" << "read 40009" << 0 << "^40009 0\n$" << "" << "" << ""
                                      << false;
    QTest::newRow("write lands") << "set 40005 30" << "write 40005 61" << 0 << "40005 set to 61" << "" << ""
                                 << "40005=61" << false;
    QTest::newRow("write not a number") << "set 40005 30" << "write 40005 6x" << 2 << "" << "not a whole number"
                                        << "" << "40005=30" << false;
    QTest::newRow("write past 65535") << "set 40005 30" << "write 40005 65536" << 2 << "" << "not a whole number"
                                      << "" << "40005=30" << false;
    QTest::newRow("write a read-only register") << "" << "write 40012 5" << 2 << "" << "read-only" << "" << "40012=2200"
                                                << false;
    QTest::newRow("write a register the table lacks") << "" << "write 40036 1" << 2 << "" << "not in the register table"
                                                      << "" << "" << false;
    QTest::newRow("module refuses the value") << "set 40007 12000" << "write 40007 100" << 1 << "" << "exception 3"
                                              << "" << "40007=12000" << false;
    QTest::newRow("read below 40000") << "" << "read 39999" << 2 << "" << "START is a register number" << "" << ""
                                      << false;
    QTest::newRow("read 126 registers") << "" << "read 40000 126" << 2 << "" << "COUNT is from 1 to 125" << "" << ""
                                        << false;
    QTest::newRow("no command") << "" << "" << 2 << "" << "no command given" << "" << "" << false;
    QTest::newRow("unknown command") << "" << "stats" << 2 << "" << "unknown command" << "" << "" << false;
    QTest::newRow("slave 0") << "" << "--slave 0 status" << 2 << "" << "--slave takes" << "" << "" << false;
    QTest::newRow("poll below the connection page's least") << "" << "--poll 19 watch" << 2 << "" << "--poll takes"
                                                            << "" << "" << false;
    QTest::newRow("parity by another name") << "" << "--parity mark status" << 2 << "" << "--parity takes" << ""
                                            << "" << false;
    QTest::newRow("--json with write") << "" << "write 40005 1 --json" << 2 << "" << "--json goes with" << "" << ""
                                       << false;
    QTest::newRow("no such port") << "" << "--port /nonexistent/ttyQR status" << 3 << "" << "does not exist" << ""
                                  << "" << false;
    QTest::newRow("port held by another process") << "" << "status" << 3 << "" << "port held by process [0-9]+ \\(qr7215ctl\\)"
                                                  << "" << "" << true;
    QTest::newRow("wrong slave times out") << "" << "--slave 9 status" << 5 << "" << "within the response time-out"
                                           << "" << "" << false;
    QTest::newRow("module exception") << "fault exception 4" << "status" << 1 << "" << "exception" << "" << ""
                                      << false;
    QTest::newRow("--help names the exit codes") << "" << "--help" << 0 << "Exit codes: 0 ok.*5 time-out" << "" << ""
                                                 << "" << false;
}

void tst_ctl::commands()
{
    QFETCH(QString, sim);
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, json);
    QFETCH(QString, after);
    QFETCH(bool, hold);

    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    for (const QString& c : sim.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        QCOMPARE(m_sim.command(c), QStringLiteral("ok"));

    QProcess holder;
    if (hold) {
        holder.start(QStringLiteral(QR7215CTL_PATH), {QStringLiteral("--config"), m_config, QStringLiteral("watch")});
        holder.setReadChannel(QProcess::StandardOutput);
        QVERIFY(holder.waitForReadyRead(10000));
    }
    QByteArray stdOut, stdErr;
    const int code = run(args.split(QLatin1Char(' '), Qt::SkipEmptyParts), &stdOut, &stdErr);
    if (hold) {
        holder.terminate();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(holder.exitCode(), 0);
    }
    QVERIFY2(code == exitCode, qPrintable(QStringLiteral("exit %1, stderr: %2").arg(code).arg(QString::fromUtf8(stdErr))));
    if (!out.isEmpty())
        QVERIFY2(QRegularExpression(out).match(QString::fromUtf8(stdOut)).hasMatch(), stdOut.constData());
    if (!err.isEmpty())
        QVERIFY2(QRegularExpression(err).match(QString::fromUtf8(stdErr)).hasMatch(), stdErr.constData());
    if (!json.isEmpty()) {
        const QJsonDocument doc = QJsonDocument::fromJson(stdOut);
        QVERIFY2(doc.isObject(), stdOut.constData());
        for (const QString& check : json.split(QLatin1Char(';'))) {
            const QStringList kv = check.split(QLatin1Char('='));
            QJsonValue v = doc.object();
            for (const QString& key : kv[0].split(QLatin1Char('/')))
                v = v.toObject().value(key);
            const QString got = v.isBool() ? QString::fromLatin1(v.toBool() ? "true" : "false")
                                : v.isDouble() ? QString::number(v.toDouble()) : v.toString();
            QCOMPARE(kv[0] + QLatin1Char('=') + got, check);
        }
    }
    for (const QString& check : after.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList kv = check.split(QLatin1Char('='));
        QCOMPARE(m_sim.get(kv[0].toInt()), kv[1].toInt());
    }
}

void tst_ctl::monitorStopsWhileItOpens()
{
    // A module that never answers holds the open up for 4 x 2 s.
    QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    const long before = m_sim.requests();
    QProcess monitor;
    monitor.start(QStringLiteral(QR7215CTL_PATH), {QStringLiteral("--config"), m_config, QStringLiteral("--timeout"),
                                                   QStringLiteral("2000"), QStringLiteral("--retries"),
                                                   QStringLiteral("3"), QStringLiteral("monitor")});
    QTRY_VERIFY(m_sim.requests() > before);   // the open is on the line
    monitor.terminate();
    QVERIFY2(monitor.waitForFinished(3000), "still opening after SIGTERM");
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
}

namespace {

statusDecoder::block simulatorStart()
{
    // The simulator's registers at start, from 40016: on DC, full, every reading set.
    statusDecoder::block b{};
    const int values[20] = {24000, 850, 12000, 1200, 12600, 0, 315, 95, 0, 0, 100, 1, 1, 0, 1, 0, 0, 0, 1, 0};
    for (int i = 0; i < 20; ++i)
        b[QR7215_REG_INPUT_VOLTAGE - QR7215_STATUS_BLOCK_START + i] = static_cast<quint16>(values[i]);
    return b;
}

} // namespace

void tst_ctl::nutFile_data()
{
    // Registers changed from the simulator's start -> lines the file must hold.
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("lines");
    QTest::newRow("on DC, full") << "" << "ups.status: OL\nbattery.charge: 100\nbattery.voltage: 12.600\n"
                                          "battery.runtime: 5700\ninput.voltage: 24.000\noutput.voltage: 12.000\n"
                                          "ups.temperature: 31.5\nups.firmware: 215";
    QTest::newRow("on DC, charging") << "40026=37" << "ups.status: OL CHRG\nbattery.charge: 37";
    QTest::newRow("on battery") << "40028=0;40029=1;40027=2;40026=60" << "ups.status: OB DISCHRG\nbattery.charge: 60";
    QTest::newRow("on battery, battery low") << "40028=0;40027=2;40030=0;40026=10" << "ups.status: OB DISCHRG LB";
    QTest::newRow("a level above 100 is a full charge") << "40026=150" << "battery.charge: 100\n";
    QTest::newRow("below freezing") << "40022=65486" << "ups.temperature: -5.0";
}

void tst_ctl::nutFile()
{
    QFETCH(QString, changes);
    QFETCH(QString, lines);
    statusDecoder::block b = simulatorStart();
    for (const QString& c : changes.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList kv = c.split(QLatin1Char('='));
        b[kv[0].toInt() - QR7215_STATUS_BLOCK_START] = static_cast<quint16>(kv[1].toUInt());
    }
    const QString path = m_dir.filePath(QStringLiteral("row.dev"));
    nutDataFile file(path);
    file.setLinkCheck([] { return true; });
    file.slotOnFirmware(QStringLiteral("215"));
    file.slotOnBlock(b);
    const QString written = QString::fromUtf8(fileBytes(path));
    for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(written.contains(QLatin1Char('\n') + line + QLatin1Char('\n')), qPrintable(written));
}

void tst_ctl::nutFileStaleAndRate()
{
    const QString path = m_dir.filePath(QStringLiteral("rate.dev"));
    bool linkUp = true;
    nutDataFile file(path);
    file.setLinkCheck([&linkUp] { return linkUp; });
    statusDecoder::block b = simulatorStart();
    file.slotOnBlock(b);
    QVERIFY(fileBytes(path).contains("ups.status: OL\n"));

    // A change within the second waits for it, and the last one wins.
    b[statusDecoder::kBatteryLevel] = 90;
    file.slotOnBlock(b);
    b[statusDecoder::kBatteryLevel] = 80;
    file.slotOnBlock(b);
    QVERIFY(fileBytes(path).contains("battery.charge: 100\n"));
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(path).contains("battery.charge: 80\n"), 3000);

    // A lost link empties the readings; the next block brings them back.
    linkUp = false;
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(path).contains("\nups.status: \"\"\n"), 3000);
    QVERIFY(fileBytes(path).contains("\nbattery.charge: \"\"\n"));
    QVERIFY(fileBytes(path).contains("device.model: QR-7215\n"));
    linkUp = true;
    file.slotOnBlock(b);
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(path).contains("ups.status: OL CHRG\nbattery.charge: 80\n"), 3000);
    QCOMPARE(file.failedWrites(), 0);

    // A folder that is not there yet: tried again every second until it is.
    const QString later = m_dir.filePath(QStringLiteral("later/rate.dev"));
    nutDataFile pending(later);
    pending.setLinkCheck([] { return true; });
    pending.slotOnBlock(b);
    QCOMPARE(pending.failedWrites(), 1);
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("later"))));
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(later).contains("battery.charge: 80\n"), 3000);
}

QR_TEST_GUILESS_MAIN(tst_ctl)
#include "tst_ctl.moc"
