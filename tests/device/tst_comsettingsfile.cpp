// The connection settings file: the exact bytes written, how odd files are
// read, and that a save which cannot complete keeps the old file.
#include "comsettings.h"
#include "comsettingsfile.h"
#include "logcapture.h"
#include "savefailurelog.h"
#include "settingslocation.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <csignal>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every field by its file name, so two records compare in one go and a
// failure names the field.
QMap<QString, QString> fields(const comSettings& s)
{
    return {
        {"ComMode", QString::number(s.comMode)},
        {"SlaveId", QString::number(s.slaveId)},
        {"ComPort", s.comPort},
        {"BaudRate", QString::number(s.baudRate)},
        {"DataLen", QString::number(s.dataLen)},
        {"StopBits", QString::number(s.stopBits)},
        {"Parity", QString::number(s.parity)},
        {"ResponseTimeout", QString::number(s.responseTimeout)},
        {"NumOfRetries", QString::number(s.numOfRetries)},
        {"PollDelay", QString::number(s.pollDelay)},
        {"AutoBoot", QString::number(s.autoBoot)},
        {"AutoConnect", QString::number(s.autoConnect)},
        {"AutoHide", QString::number(s.autoHide)},
        {"comPortNumber", QString::number(s.comPortNumber)},
    };
}

void compareFields(const comSettings& actual, const QMap<QString, QString>& expected)
{
    const QMap<QString, QString> got = fields(actual);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(got.value(it.key()) == it.value(),
                 qPrintable(it.key() + ": " + got.value(it.key()) + " instead of " + it.value()));
}

// A record unlike the defaults, so a field the reader leaves alone shows.
void fillDistinct(comSettings& s)
{
    s.comPort = QStringLiteral("ttyUSB7");
    s.comPortNumber = 7;
    s.slaveId = 42;
    s.baudRate = 38400;
    s.comMode = 0;
    s.dataLen = 7;
    s.stopBits = 2;
    s.parity = 2;
    s.responseTimeout = 4321;
    s.numOfRetries = 6;
    s.pollDelay = 777;
    s.autoBoot = true;
    s.autoConnect = true;
    s.autoHide = true;
}

const QByteArray kDefaultsFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Settings>\n"
    "    <Setting>\n"
    "        <ComMode>0</ComMode>\n"
    "        <SlaveId>1</SlaveId>\n"
    "        <ComPort>COM1</ComPort>\n"
    "        <BaudRate>115200</BaudRate>\n"
    "        <DataLen>8</DataLen>\n"
    "        <StopBits>1</StopBits>\n"
    "        <Parity>0</Parity>\n"
    "        <ResponseTimeout>1000</ResponseTimeout>\n"
    "        <NumOfRetries>3</NumOfRetries>\n"
    "        <PollDelay>10</PollDelay>\n"
    "        <AutoBoot>0</AutoBoot>\n"
    "        <AutoConnect>0</AutoConnect>\n"
    "        <AutoHide>0</AutoHide>\n"
    "    </Setting>\n"
    "</Settings>\n";

} // namespace

class tst_comSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void writesExactLayout_data();
    void writesExactLayout();
    void roundTrip();
    void replacesLongerOldFileWhole();
    void readsOddFiles_data();
    void readsOddFiles();
    void unreadableFileLeavesRecord_data();
    void unreadableFileLeavesRecord();
    void saveIntoMissingFolderFails();
    void portNameXmlCannotCarryIsNotSaved_data();
    void portNameXmlCannotCarryIsNotSaved();
    void fileLivesWhereAppFolderCanHoldIt_data();
    void fileLivesWhereAppFolderCanHoldIt();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void tst_comSettingsFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qr7215-file-XXXXXX"));
    QVERIFY(m_dir->isValid());
    // Reachable for "nobody" in the cases that run as that user.
    QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadOther | QFileDevice::ExeOther
                                             | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
}

void tst_comSettingsFile::writesExactLayout_data()
{
    QTest::addColumn<bool>("distinct");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("defaults") << false << kDefaultsFile;

    QByteArray distinct = kDefaultsFile;
    distinct.replace("<SlaveId>1<", "<SlaveId>42<")
        .replace("<ComPort>COM1<", "<ComPort>/dev/serial/by-id/usb-A&amp;B_&lt;1>-port0<")
        .replace("<BaudRate>115200<", "<BaudRate>4294967295<")
        .replace("<DataLen>8<", "<DataLen>7<")
        .replace("<StopBits>1<", "<StopBits>2<")
        .replace("<Parity>0<", "<Parity>2<")
        .replace("<ResponseTimeout>1000<", "<ResponseTimeout>10000<")
        .replace("<NumOfRetries>3<", "<NumOfRetries>100<")
        .replace("<PollDelay>10<", "<PollDelay>20<")
        .replace("<AutoBoot>0<", "<AutoBoot>1<")
        .replace("<AutoConnect>0<", "<AutoConnect>1<")
        .replace("<AutoHide>0<", "<AutoHide>1<");
    QTest::newRow("every field changed, markup in the port name") << true << distinct;
}

void tst_comSettingsFile::writesExactLayout()
{
    QFETCH(bool, distinct);
    QFETCH(QByteArray, expected);

    comSettings s;
    if (distinct) {
        s.slaveId = 42;
        s.comPort = QStringLiteral("/dev/serial/by-id/usb-A&B_<1>-port0");
        s.baudRate = 4294967295u;
        s.dataLen = 7;
        s.stopBits = 2;
        s.parity = 2;
        s.responseTimeout = 10000;
        s.numOfRetries = 100;
        s.pollDelay = 20;
        s.autoBoot = s.autoConnect = s.autoHide = true;
    }
    QVERIFY(comSettingsFile::write(path("config_com.xml"), s));
    QCOMPARE(readAll(path("config_com.xml")), expected);
    QCOMPARE(expected.count('\n'), 18);
}

void tst_comSettingsFile::roundTrip()
{
    comSettings written;
    fillDistinct(written);
    written.comPort = QStringLiteral("/tmp/a b/\"x\" & <y>/ttySIM");
    QVERIFY(comSettingsFile::write(path("config_com.xml"), written));

    comSettings read;
    QVERIFY(comSettingsFile::read(path("config_com.xml"), read));
    QMap<QString, QString> expected = fields(written);
    // The port number is derived by the page, never stored.
    expected.insert("comPortNumber", QStringLiteral("1"));
    compareFields(read, expected);
}

void tst_comSettingsFile::replacesLongerOldFileWhole()
{
    QVERIFY(writeBytes(path("config_com.xml"), QByteArray(20000, 'x')));
    comSettings s;
    QVERIFY(comSettingsFile::write(path("config_com.xml"), s));
    QCOMPARE(readAll(path("config_com.xml")), kDefaultsFile);
    // Nothing of the temporary file is left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"config_com.xml"});
}

void tst_comSettingsFile::readsOddFiles_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("changes");   // "Field=value" over the distinct record

    QTest::newRow("root of another name")
        << QByteArray("<Config><Setting><SlaveId>9</SlaveId><ComPort>COM4</ComPort></Setting></Config>")
        << QStringList{"SlaveId=9", "ComPort=COM4"};
    QTest::newRow("BaudRate abc reads 0")
        << QByteArray("<Settings><Setting><BaudRate>abc</BaudRate></Setting></Settings>")
        << QStringList{"BaudRate=0"};
    QTest::newRow("DataLen 264 keeps its low 8 bits")
        << QByteArray("<Settings><Setting><DataLen>264</DataLen></Setting></Settings>")
        << QStringList{"DataLen=8"};
    QTest::newRow("SlaveId 65537 keeps its low 16 bits")
        << QByteArray("<Settings><Setting><SlaveId>65537</SlaveId></Setting></Settings>")
        << QStringList{"SlaveId=1"};
    QTest::newRow("negative number reads 0")
        << QByteArray("<Settings><Setting><PollDelay>-5</PollDelay></Setting></Settings>")
        << QStringList{"PollDelay=0"};
    QTest::newRow("lone PollDelay 500 changes only that")
        << QByteArray("<Settings><Setting><PollDelay>500</PollDelay></Setting></Settings>")
        << QStringList{"PollDelay=500"};
    QTest::newRow("flags: non-zero is true, text is false")
        << QByteArray("<Settings><Setting><AutoBoot>2</AutoBoot><AutoConnect>0</AutoConnect>"
                      "<AutoHide>yes</AutoHide></Setting></Settings>")
        << QStringList{"AutoBoot=1", "AutoConnect=0", "AutoHide=0"};
    QTest::newRow("later Setting wins, earlier fields stay")
        << QByteArray("<Settings><Setting><SlaveId>5</SlaveId><ResponseTimeout>300</ResponseTimeout></Setting>"
                      "<Setting><SlaveId>6</SlaveId></Setting></Settings>")
        << QStringList{"SlaveId=6", "ResponseTimeout=300"};
    QTest::newRow("empty port element gives an empty port")
        << QByteArray("<Settings><Setting><ComPort/></Setting></Settings>")
        << QStringList{"ComPort="};
    QTest::newRow("unknown elements, comments and case-different names ignored")
        << QByteArray("<?xml version=\"1.0\"?><Settings><!-- c --><Other><SlaveId>3</SlaveId></Other>"
                      "<Setting><slaveid>4</slaveid><Baud>1</Baud><NumOfRetries>0</NumOfRetries></Setting>"
                      "</Settings>")
        << QStringList{"NumOfRetries=0"};
    QTest::newRow("Setting deeper than the root's children is ignored")
        << QByteArray("<Settings><Group><Setting><SlaveId>3</SlaveId></Setting></Group></Settings>")
        << QStringList{};
    QTest::newRow("no Setting at all") << QByteArray("<Settings/>") << QStringList{};
}

void tst_comSettingsFile::readsOddFiles()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, changes);

    QVERIFY(writeBytes(path("config_com.xml"), xml));
    comSettings s;
    fillDistinct(s);
    QMap<QString, QString> expected = fields(s);
    for (const QString& change : changes)
        expected.insert(change.section('=', 0, 0), change.section('=', 1));

    QVERIFY(comSettingsFile::read(path("config_com.xml"), s));
    compareFields(s, expected);
}

void tst_comSettingsFile::unreadableFileLeavesRecord_data()
{
    QTest::addColumn<QByteArray>("content");   // null: no file at all
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("empty file") << QByteArray("");
    QTest::newRow("malformed XML") << QByteArray("<Settings><Setting><SlaveId>9</SlaveId></Setting>");
    QTest::newRow("mismatched tags") << QByteArray("<Settings><Setting><SlaveId>9</Slave></Setting></Settings>");
    // Qt's reader accepts these references, and the saved file that
    // followed could never be read again (found with the fuzz target).
    QTest::newRow("port name refers to U+FFFF, after a good field")
        << QByteArray("<Settings><Setting><SlaveId>9</SlaveId><ComPort>COM&#65535;</ComPort></Setting></Settings>");
    QTest::newRow("port name refers to a lone surrogate")
        << QByteArray("<Settings><Setting><ComPort>&#xD800;</ComPort></Setting></Settings>");
    QTest::newRow("port name refers to a control character")
        << QByteArray("<Settings><Setting><ComPort>tty&#1;</ComPort></Setting></Settings>");
}

void tst_comSettingsFile::unreadableFileLeavesRecord()
{
    QFETCH(QByteArray, content);
    if (!content.isNull())
        QVERIFY(writeBytes(path("config_com.xml"), content));

    comSettings s;
    fillDistinct(s);
    const QMap<QString, QString> before = fields(s);
    QVERIFY(!comSettingsFile::read(path("config_com.xml"), s));
    compareFields(s, before);
}

void tst_comSettingsFile::saveIntoMissingFolderFails()
{
    // A regular file where the folder should be stops even root.
    QVERIFY(writeBytes(path("configs"), "not a folder"));
    comSettings s;
    QVERIFY(!comSettingsFile::write(path("configs/config_com.xml"), s));
    QCOMPARE(readAll(path("configs")), QByteArray("not a folder"));
    QVERIFY(!comSettingsFile::write(path("absent/config_com.xml"), s));
    QVERIFY(!QFile::exists(path("absent")));
}

void tst_comSettingsFile::portNameXmlCannotCarryIsNotSaved_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("saved");

    QTest::newRow("U+FFFF") << QStringLiteral("COM\uFFFF") << false;
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << false;
    QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) << false;
    QTest::newRow("control character") << QStringLiteral("tty\x01") << false;
    QTest::newRow("NUL") << QString(QChar(0)) << false;
    QTest::newRow("tab, CR and LF are allowed") << QStringLiteral("a\tb\rc\nd") << true;
    QTest::newRow("surrogate pair (emoji)") << QStringLiteral("tty\U0001F600") << true;
    QTest::newRow("U+FFFD") << QStringLiteral("\uFFFD") << true;
}

// Whatever is saved reads back the same; what could not be read back is not
// saved, and the old file stays.
void tst_comSettingsFile::portNameXmlCannotCarryIsNotSaved()
{
    QFETCH(QString, port);
    QFETCH(bool, saved);
    QVERIFY(writeBytes(path("config_com.xml"), kDefaultsFile));
    comSettings s;
    fillDistinct(s);
    s.comPort = port;
    QCOMPARE(comSettingsFile::write(path("config_com.xml"), s), saved);
    if (!saved) {
        QCOMPARE(readAll(path("config_com.xml")), kDefaultsFile);
        return;
    }
    comSettings read;
    QVERIFY(comSettingsFile::read(path("config_com.xml"), read));
    QCOMPARE(read.comPort, port);
}

void tst_comSettingsFile::fileLivesWhereAppFolderCanHoldIt_data()
{
    QTest::addColumn<QString>("app");   // "writable", "read-only", "read-only with file", "configs is a file"
    QTest::addColumn<bool>("perUser");

    QTest::newRow("writable folder") << "writable" << false;
    QTest::newRow("read-only folder") << "read-only" << true;
    QTest::newRow("read-only folder with a file") << "read-only with file" << true;
    QTest::newRow("configs is a file") << "configs is a file" << true;
}

void tst_comSettingsFile::fileLivesWhereAppFolderCanHoldIt()
{
    QFETCH(QString, app);
    QFETCH(bool, perUser);

    QTemporaryDir dir(testsupport::tempRoot() + QStringLiteral("/app-XXXXXX"));
    const QString appDir = dir.path();
    const QString beside = appDir + QStringLiteral("/configs/config_com.xml");
    const QString userFile = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Tarvolt/UPS/config_com.xml");
    const bool withFile = app == QLatin1String("read-only with file");
    if (app == QLatin1String("configs is a file")) {
        QFile file(appDir + QStringLiteral("/configs"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (app.startsWith(QLatin1String("read-only"))) {
        // Root writes through every mode bit: only a read-only mount stops it.
        const QByteArray path = QFile::encodeName(appDir);
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no permission to mount a read-only folder");
        if (withFile) {
            comSettings s;
            s.pollDelay = 777;
            QVERIFY(QDir().mkpath(appDir + QStringLiteral("/configs")));
            QVERIFY(comSettingsFile::write(beside, s));
        }
        const int ro = ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
        if (ro != 0)
            ::umount(path.constData());
        QCOMPARE(ro, 0);
    }

    const platform::connectionSettingsFiles files = platform::connectionSettingsLocation(appDir);
    QCOMPARE(files.file, perUser ? userFile : beside);
    QCOMPARE(files.firstStartDefault, withFile ? beside : QString());
    if (withFile) {
        comSettings first;
        QVERIFY(comSettingsFile::read(files.firstStartDefault, first));
        QCOMPARE(first.pollDelay, 777u);
    }
    comSettings s;
    QVERIFY(comSettingsFile::write(files.file, s));

    // A save that fails is told once, with the file and the reason, until one succeeds.
    if (perUser) {
        LogCapture log;
        QString reason;
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!comSettingsFile::write(beside, s, &reason));
            saveFailureLog::saved(beside, false, reason);
        }
        QTRY_COMPARE(log.countStartingWith(QStringLiteral("Settings could not be saved to ") + beside + ": "), 1);
        QVERIFY(!reason.isEmpty());
        QVERIFY(log.lines.first().contains(reason));
    }
    if (app.startsWith(QLatin1String("read-only")))
        QCOMPARE(::umount(QFile::encodeName(appDir).constData()), 0);
    QFile::remove(userFile);
}

QR_TEST_GUILESS_MAIN(tst_comSettingsFile)
#include "tst_comsettingsfile.moc"
