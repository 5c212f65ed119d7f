// The fault matrix's rows where the link cannot be made: the port is held by
// a second program, the user may not open it, it does not exist, or the
// module is silent when it is opened. Connect is pressed through the
// connection page as an operator would, three times: one clear line (and its
// explanation) per failure text, the repeats counted; then the cause goes away
// and the same button brings live values.
//
// Run as "tst_faultopen --hold-port PORT" it is the second program: it opens
// PORT with the device library, prints the result and holds the port until
// its standard input closes.
#include "comadapter.h"
#include "consoleprint.h"
#include "devicelink.h"
#include "faultfixture.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QLabel>
#include <QProcess>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace faultfixture;

namespace {

int holdPort(const char* port)
{
    deviceDescriptor d = sdktest::lineDescriptor();
    UPS_SetPortName(&d, port);
    deviceInfo info{};
    const int rc = UPS_DeviceOpen(&d, &info);
    std::printf("%d\n", rc);
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    if (rc == 0)
        UPS_DeviceClose(&d);
    return 0;
}

// Runs what follows with the file-access rights of user nobody (the saved
// user stays root, so the rights come back). Lives only as long as a click.
class asNobody
{
public:
    asNobody()
    {
        const passwd* user = getpwnam("nobody");
        const group* nogroup = getgrnam("nogroup");
        if (!user || geteuid() != 0)
            return;
        m_ok = (!nogroup || setegid(nogroup->gr_gid) == 0) && seteuid(user->pw_uid) == 0;
    }
    ~asNobody()
    {
        if (seteuid(0) != 0 || setegid(0) != 0)
            std::abort();
    }
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};

} // namespace

class tst_faultOpen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void openFailsClearlyThenWorks_data();
    void openFailsClearlyThenWorks();

private:
    QPushButton* button(const char* name) const
    {
        return m_window->findChild<QPushButton*>(QLatin1String(name));
    }
    // Pressed from within the event loop, as an operator's click is, so that
    // the stall meter sees how long the press holds the loop up. Returns once
    // the press has been handled.
    bool pressConnect(const LogCapture& log)
    {
        QPushButton* connect = button("m_pushButtonConnect");
        if (!QTest::qWaitFor([connect] { return connect->isEnabled(); }, 2000))
            return false;
        const int before = log.lines.size();
        QMetaObject::invokeMethod(connect, "click", Qt::QueuedConnection);
        return QTest::qWaitFor([&] { return log.lines.size() > before; }, 10000);
    }
    QString inputVoltage() const
    {
        return m_window->findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"))->text();
    }

    SimulatorProcess m_sim;
    lineSetup m_line;
    std::unique_ptr<mainWindow> m_window;
};

void tst_faultOpen::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_line.port = m_sim.linkPath();
    g_consolePrint.throttle().setTimes(800, logThrottle::kDefaultSummaryEveryMs);
}

void tst_faultOpen::init()
{
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    g_consolePrint.throttle().reset();
}

void tst_faultOpen::cleanup()
{
    m_window.reset();
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_faultOpen::cleanupTestCase()
{
    m_sim.stop();
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

void tst_faultOpen::openFailsClearlyThenWorks_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<int>("code");
    QTest::newRow("a second program holds the port") << QStringLiteral("busy") << int(QR7215_E_PORT_BUSY);
    QTest::newRow("the port has no permission for the user") << QStringLiteral("permission")
                                                              << int(QR7215_E_PERMISSION);
    QTest::newRow("the port does not exist") << QStringLiteral("missing") << int(QR7215_E_PORT_NOT_FOUND);
    QTest::newRow("the module is silent at connect") << QStringLiteral("silent") << int(QR7215_E_TIMEOUT);
}

void tst_faultOpen::openFailsClearlyThenWorks()
{
    QFETCH(QString, cause);
    QFETCH(int, code);

    lineSetup line = m_line;
    if (cause == QLatin1String("missing"))
        line.port = m_sim.linkPath() + QStringLiteral(".gone");
    QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), line));

    QProcess holder;
    const QByteArray slave = QFile::encodeName(QFileInfo(m_sim.linkPath()).symLinkTarget());
    struct stat slaveStat {};
    QCOMPARE(::stat(slave.constData(), &slaveStat), 0);
    if (cause == QLatin1String("busy")) {
        holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-port"), m_sim.linkPath()});
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("0"));
    } else if (cause == QLatin1String("permission")) {
        if (geteuid() != 0)
            QSKIP("not root: cannot open the port as another user");
        QCOMPARE(::chmod(slave.constData(), 0600), 0);
    } else if (cause == QLatin1String("silent")) {
        QCOMPARE(m_sim.command(QStringLiteral("fault timeout")), QStringLiteral("ok"));
    }

    m_window = std::make_unique<mainWindow>();
    m_window->show();
    LogCapture log;
    stallMeter meter;
    meter.start();
    for (int press = 0; press < 3; ++press) {
        if (cause == QLatin1String("permission")) {
            {
                // Pressed directly: the event loop does not run with borrowed
                // rights. The open runs on a worker: they are kept until it is done.
                asNobody nobody;
                QVERIFY2(nobody.ok(), "cannot take the rights of user nobody");
                button("m_pushButtonConnect")->click();
                QElapsedTimer waited;
                waited.start();
                while (g_comAdapter.isOpening() && waited.elapsed() < 10000)
                    QThread::msleep(1);
            }
            QPushButton* again = button("m_pushButtonConnect");
            QVERIFY(QTest::qWaitFor([again] { return again->isEnabled(); }, 5000));
        } else {
            QVERIFY(pressConnect(log));
        }
        QVERIFY(!g_comAdapter.isConnected());
    }
    const qint64 stall = meter.longestMs();

    const QString first = QStringLiteral("Open device error:") + QString::number(code);
    QString why = QStringLiteral("Port ") + line.port + QStringLiteral(": ") + QString::fromUtf8(UPS_ErrorText(code));
    if (code == QR7215_E_PERMISSION)
        why += QStringLiteral(". Your user must be a member of the group that owns the port "
                              "(usually dialout: sudo usermod -aG dialout $USER, then log in again).");
    QTRY_COMPARE_WITH_TIMEOUT(g_consolePrint.throttle().tracked(), 0, 5000);
    qInfo().noquote() << QStringLiteral("ROW|open|%1|stall %2 ms\n    ").arg(QString::fromLatin1(QTest::currentDataTag())).arg(stall)
                             + log.lines.join(QStringLiteral("\n    "));
    // Two presses each give the line and its explanation, the third is counted.
    QCOMPARE(log.lines.mid(0, 4),
             (QStringList{first, why, logThrottle::repeatingLine(first), logThrottle::repeatingLine(why)}));
    QCOMPARE(reportOf(log.lines, first).summaries, QList<int>{1});
    QCOMPARE(reportOf(log.lines, why).summaries, QList<int>{1});
    QCOMPARE(log.lines.size(), 6);
    QCOMPARE(log.hwVersions, (QStringList{QStringLiteral("0000"), QStringLiteral("0000"), QStringLiteral("0000")}));

    // The cause goes away: the same button makes the link.
    if (holder.state() != QProcess::NotRunning) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
    }
    ::chmod(slave.constData(), slaveStat.st_mode & 07777);
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    if (cause == QLatin1String("missing")) {
        m_window.reset();
        QVERIFY(writeComConfig(QCoreApplication::applicationDirPath(), m_line));
        m_window = std::make_unique<mainWindow>();
        m_window->show();
    }
    QVERIFY(m_sim.set(40016, 23456));
    log.clear();
    QVERIFY(pressConnect(log));
    QVERIFY(g_comAdapter.isConnected());
    QTRY_COMPARE(inputVoltage(), QStringLiteral("23456mV"));
    QVERIFY(log.lines.first().startsWith(QLatin1String("Open device success > Device Type:29205")));
    meter.stop();
    QVERIFY2(stall < 3000 + qint64(line.retries + 1) * line.timeoutMs * 3, qPrintable(QString::number(stall)));
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0)
        return holdPort(argv[2]);
    testsupport::prepareEnvironment();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_faultOpen tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_faultopen.moc"
