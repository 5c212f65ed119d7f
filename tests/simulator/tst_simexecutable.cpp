// qr7215-sim as a program: its command line, the "ready" line, the link it
// makes and removes, one answer line per command, and a pseudo-terminal that
// keeps working while clients open and close it.
#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "rtuframe.h"
#include "simulatorprocess.h"
#include "testenv.h"

class tst_simExecutable : public QObject
{
    Q_OBJECT

private slots:
    void servesUntilQuit();
    void endsWhenInputCloses();
    void endsOnSigterm();
    void replacesAStaleLink();
    void refusesToReplaceAFile();
    void badCommandLines_data();
    void badCommandLines();
    void everyCommandGetsOneLine();
    void clientsComeAndGo();
    void answersOnlyItsSlaveAddress();

private:
    bool startSim(QProcess& p, const QString& link, const QStringList& extra = {});
};

namespace {

QByteArray readLine(QProcess& p, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!p.canReadLine() && t.elapsed() < timeoutMs && p.state() == QProcess::Running)
        p.waitForReadyRead(50);
    return p.canReadLine() ? p.readLine().trimmed() : QByteArray();
}

// One request over the pseudo-terminal the way a client does it: open, send,
// wait for the answer, close. Returns the answer bytes.
QByteArray exchange(const QString& link, const QByteArray& requestHex)
{
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return QByteArray("open failed");
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const QByteArray raw = QByteArray::fromHex(requestHex);
    std::vector<uint8_t> f(raw.begin(), raw.end());
    qr7215sim::appendCrc(f);
    QByteArray answer;
    if (::write(fd, f.data(), f.size()) == ssize_t(f.size())) {
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 300) > 0) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            answer.append(buf, int(n));
        }
    }
    ::close(fd);
    return answer.toHex();
}

} // namespace

bool tst_simExecutable::startSim(QProcess& p, const QString& link, const QStringList& extra)
{
    p.start(SimulatorProcess::executable(), QStringList{QStringLiteral("--link"), link} + extra);
    if (!p.waitForStarted(5000))
        return false;
    return readLine(p) == QByteArray("ready ") + QFile::encodeName(link);
}

void tst_simExecutable::servesUntilQuit()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tty"));
    QProcess p;
    QVERIFY(startSim(p, link));
    const QString target = QFileInfo(link).symLinkTarget();
    QVERIFY2(target.startsWith(QLatin1String("/dev/pts/")), qPrintable(target));
    p.write("quit\n");
    QCOMPARE(readLine(p), QByteArray("ok"));
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void tst_simExecutable::endsWhenInputCloses()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tty"));
    QProcess p;
    QVERIFY(startSim(p, link));
    p.write("get 40040");  // a last line without its newline still counts
    p.closeWriteChannel();
    QCOMPARE(readLine(p), QByteArray("29205"));
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_simExecutable::endsOnSigterm()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tty"));
    QProcess p;
    QVERIFY(startSim(p, link));
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_simExecutable::replacesAStaleLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tty"));
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/stale-one"), link));
    QProcess p;
    QVERIFY(startSim(p, link));
    QVERIFY(QFileInfo(link).symLinkTarget() != QLatin1String("/dev/pts/stale-one"));
    QVERIFY(QFileInfo::exists(link));
    p.write("quit\n");
    QVERIFY(p.waitForFinished(5000));
}

void tst_simExecutable::refusesToReplaceAFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    QProcess p;
    p.start(SimulatorProcess::executable(), {QStringLiteral("--link"), path});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("not a symbolic link"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

void tst_simExecutable::badCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no arguments") << QStringList{};
    QTest::newRow("no link") << QStringList{QStringLiteral("--slave"), QStringLiteral("2")};
    QTest::newRow("slave 0") << QStringList{QStringLiteral("--link"), QStringLiteral("x"), QStringLiteral("--slave"), QStringLiteral("0")};
    QTest::newRow("slave 248") << QStringList{QStringLiteral("--link"), QStringLiteral("x"), QStringLiteral("--slave"), QStringLiteral("248")};
    QTest::newRow("baud not a number") << QStringList{QStringLiteral("--link"), QStringLiteral("x"), QStringLiteral("--baud"), QStringLiteral("fast")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--link"), QStringLiteral("x"), QStringLiteral("--parity"), QStringLiteral("E")};
    QTest::newRow("value missing") << QStringList{QStringLiteral("--link")};
}

void tst_simExecutable::badCommandLines()
{
    QFETCH(QStringList, args);
    QProcess p;
    p.start(SimulatorProcess::executable(), args);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("usage:"));
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

void tst_simExecutable::everyCommandGetsOneLine()
{
    SimulatorProcess sim;
    QVERIFY(sim.start());
    QCOMPARE(sim.command(QStringLiteral("set 40003 7")), QStringLiteral("ok"));
    QCOMPARE(sim.get(40035), 7);
    QVERIFY(sim.command(QStringLiteral("set 40036 1")).startsWith(QLatin1String("error: ")));
    QVERIFY(sim.command(QStringLiteral("")).startsWith(QLatin1String("error: ")));
    QCOMPARE(sim.command(QStringLiteral("power fail")), QStringLiteral("ok"));
    QCOMPARE(sim.get(40028), 0);
    QCOMPARE(sim.command(QStringLiteral("power restore")), QStringLiteral("ok"));
    QCOMPARE(sim.get(40028), 1);
    // Answers stay in step: the next command gets its own answer.
    QCOMPARE(sim.get(40041), 102);
}

void tst_simExecutable::clientsComeAndGo()
{
    SimulatorProcess sim;
    QVERIFY(sim.start());
    for (int i = 0; i < 4; ++i) {
        QVERIFY(sim.set(40041, 100 + i));
        const QByteArray answer = exchange(sim.linkPath(), "010300290001");
        QCOMPARE(answer.left(10), QByteArray("0103020") + QByteArray::number(100 + i, 16).rightJustified(3, '0'));
    }
    QCOMPARE(sim.command(QStringLiteral("requests")), QStringLiteral("4"));
}

void tst_simExecutable::answersOnlyItsSlaveAddress()
{
    SimulatorProcess sim;
    QVERIFY(sim.start({QStringLiteral("--slave"), QStringLiteral("7")}));
    QCOMPARE(exchange(sim.linkPath(), "010300280001"), QByteArray());
    QCOMPARE(exchange(sim.linkPath(), "070300280001").left(10), QByteArray("0703027215"));
    QCOMPARE(exchange(sim.linkPath(), "000600040021"), QByteArray());  // broadcast: no answer...
    QCOMPARE(sim.get(40004), 0x21);                                    // ...but carried out
}

QR_TEST_GUILESS_MAIN(tst_simExecutable)
#include "tst_simexecutable.moc"
