// The device library and the serial port itself: a port that is missing,
// one another program or connection holds, and one the user may not open.
#include <QtTest>

#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "devicelink.h"
#include "simulatorprocess.h"
#include "testenv.h"

#ifndef SDK_OPEN_HELPER
#error "SDK_OPEN_HELPER must name the helper executable"
#endif
#ifndef SDK_LIBRARY
#error "SDK_LIBRARY must name the device library"
#endif

using namespace sdktest;

class tst_sdkPorts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void missingPort_data();
    void missingPort();
    void busyPort();
    void anotherUsersOpen_data();
    void anotherUsersOpen();

private:
    int requests() { return m_sim.requests(); }
    QString runHelper(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    SimulatorProcess m_sim;
};

QString tst_sdkPorts::runHelper(const QString& program, const QStringList& args,
                                 const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("hung");
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void tst_sdkPorts::initTestCase()
{
    QVERIFY2(m_sim.start(), "the simulator did not start");
}

void tst_sdkPorts::cleanupTestCase()
{
    m_sim.stop();
}

void tst_sdkPorts::missingPort_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("no such file") << "missing";
    QTest::newRow("dangling link") << "dangling";
}

void tst_sdkPorts::missingPort()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString port = dir.filePath(QStringLiteral("ttyNONE"));
    if (kind == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), port));
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, port), int(QR7215_E_PORT_NOT_FOUND));
    QCOMPARE(d.handle, 0u);
}

void tst_sdkPorts::busyPort()
{
    deviceDescriptor first = lineDescriptor();
    deviceDescriptor second = lineDescriptor();
    closeAtExit guardFirst(first);
    closeAtExit guardSecond(second);
    QCOMPARE(openOn(first, m_sim.linkPath()), int(QR7215_OK));
    const int before = requests();
    QCOMPARE(openOn(second, m_sim.linkPath()), int(QR7215_E_PORT_BUSY));
    // Another program is refused as well.
    QCOMPARE(runHelper(QStringLiteral(SDK_OPEN_HELPER), {m_sim.linkPath()}),
             QString::number(QR7215_E_PORT_BUSY));
    QCOMPARE(requests(), before);  // neither said a word on the line
    uint16_t v = 0;
    QCOMPARE(UPS_ReadRegisters(&first, 40040, 1, &v), int(QR7215_OK));

    QCOMPARE(UPS_DeviceClose(&first), int(QR7215_OK));
    QCOMPARE(runHelper(QStringLiteral(SDK_OPEN_HELPER), {m_sim.linkPath()}), QStringLiteral("0"));
    QCOMPARE(openOn(second, m_sim.linkPath()), int(QR7215_OK));
}

void tst_sdkPorts::anotherUsersOpen_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("heldByUs");
    QTest::addColumn<int>("expected");
    QTest::newRow("port 0600: no permission") << 0600 << false << int(QR7215_E_PERMISSION);
    QTest::newRow("port 0666, free: opens") << 0666 << false << int(QR7215_OK);
    QTest::newRow("port 0666, open here: busy") << 0666 << true << int(QR7215_E_PORT_BUSY);
}

void tst_sdkPorts::anotherUsersOpen()
{
    QFETCH(int, mode);
    QFETCH(bool, heldByUs);
    QFETCH(int, expected);
    // Root opens any device and is not stopped by TIOCEXCL, so the second
    // open is made by user nobody.
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv is missing: cannot open the port as an unprivileged user");
    if (geteuid() != 0)
        QSKIP("not root: cannot run the open as another user");

    // The helper and the library go where nobody can reach them, whatever
    // the permissions of the build folder.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString helper = dir.filePath(QStringLiteral("sdk-open-helper"));
    const QString library = dir.filePath(QFileInfo(QStringLiteral(SDK_LIBRARY)).fileName());
    QVERIFY(QFile::copy(QStringLiteral(SDK_OPEN_HELPER), helper));
    QVERIFY(QFile::copy(QStringLiteral(SDK_LIBRARY), library));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(helper).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(library).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(m_sim.linkPath()).path()).constData(), 0755), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), dir.path());
    const QStringList asNobody{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                               QStringLiteral("--clear-groups"), helper};
    const QString probe = runHelper(setpriv, asNobody + QStringList{QStringLiteral("--probe")}, env);
    if (probe != QLatin1String("probe"))
        QSKIP(qPrintable(QStringLiteral("user nobody cannot run the helper in %1 (%2)").arg(dir.path(), probe)));

    // Opened and closed here first: the port must not stay exclusive after us.
    deviceDescriptor d = lineDescriptor();
    closeAtExit guard(d);
    QCOMPARE(openOn(d, m_sim.linkPath()), int(QR7215_OK));
    if (!heldByUs)
        QCOMPARE(UPS_DeviceClose(&d), int(QR7215_OK));

    const QByteArray slave = QFile::encodeName(QFileInfo(m_sim.linkPath()).symLinkTarget());
    QVERIFY(!slave.isEmpty());
    struct stat st {};
    QCOMPARE(::stat(slave.constData(), &st), 0);
    QCOMPARE(::chmod(slave.constData(), mode_t(mode)), 0);
    const QString result = runHelper(setpriv, asNobody + QStringList{m_sim.linkPath()}, env);
    ::chmod(slave.constData(), st.st_mode & 07777);
    QCOMPARE(result, QString::number(expected));
}

QR_TEST_GUILESS_MAIN(tst_sdkPorts)
#include "tst_sdkports.moc"
