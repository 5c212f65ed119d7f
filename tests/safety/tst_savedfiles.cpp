// What the program's saved files hold: the bytes of config_com.xml, how odd
// or damaged ones are read, the port names it refuses to save, where it lives
// when the program's folder cannot hold it and where the read-only files are
// read from when installed; and the autostart entry, its Exec
// quoting, and that Auto Boot off removes only this program's own entry.
#include "autostart.h"
#include "comsettings.h"
#include "comsettingsfile.h"
#include "datafolder.h"
#include "logcapture.h"
#include "savefailurelog.h"
#include "saverecords.h"
#include "settingslocation.h"
#include "testenv.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sys/mount.h>

using saveRecords::contents;

namespace {

const std::string kEntryName = "QR-7215";

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every field of config_com.xml by its element name, as the writer puts a record.
QMap<QString, QString> fieldsOf(const comSettings& s)
{
    QTemporaryDir dir;
    comSettingsFile::write(dir.filePath(QStringLiteral("f.xml")), s);
    QDomDocument doc;
    doc.setContent(contents(dir.filePath(QStringLiteral("f.xml"))));
    QMap<QString, QString> out;
    const QDomElement setting = doc.documentElement().firstChildElement(QStringLiteral("Setting"));
    for (QDomElement e = setting.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        out.insert(e.tagName(), e.text());
    return out;
}

const QByteArray kDefaultsFile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
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

QStringList entryLines(const QString& path)
{
    return QString::fromUtf8(contents(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool mountTmpfs(const QString& dir, unsigned long flags)
{
    return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", flags, "size=256k") == 0;
}

} // namespace

class tst_savedFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writesExactLayout_data();
    void writesExactLayout();
    void reads_data();
    void reads();
    void portNameXmlCannotCarryIsNotSaved_data();
    void portNameXmlCannotCarryIsNotSaved();
    void fileLivesWhereAppFolderCanHoldIt_data();
    void fileLivesWhereAppFolderCanHoldIt();
    void autostartEntry_data();
    void autostartEntry();
    void autostartOffRemovesOnlyOwnEntry_data();
    void autostartOffRemovesOnlyOwnEntry();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void tst_savedFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir(QFileInfo(QString::fromStdString(platform::autoStartEntry(kEntryName))).absolutePath()).removeRecursively();
}

void tst_savedFiles::writesExactLayout_data()
{
    QTest::addColumn<bool>("distinct");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("defaults") << false << kDefaultsFile;
    QByteArray distinct = kDefaultsFile;
    distinct.replace("<SlaveId>1<", "<SlaveId>247<")
        .replace("<ComPort>COM1<", "<ComPort>/dev/serial/by-id/usb-A&amp;B_&lt;1>-port0<")
        .replace("<BaudRate>115200<", "<BaudRate>4294967295<")
        .replace("<DataLen>8<", "<DataLen>7<")
        .replace("<StopBits>1<", "<StopBits>2<")
        .replace("<Parity>0<", "<Parity>2<")
        .replace("<ResponseTimeout>1000<", "<ResponseTimeout>250<")
        .replace("<NumOfRetries>3<", "<NumOfRetries>9<")
        .replace("<PollDelay>10<", "<PollDelay>500<")
        .replace("<AutoBoot>0<", "<AutoBoot>1<")
        .replace("<AutoHide>0<", "<AutoHide>1<");
    QTest::newRow("every field changed, markup in the port name") << true << distinct;
}

// The bytes other tools and older versions read; and what is written reads back the same.
void tst_savedFiles::writesExactLayout()
{
    QFETCH(bool, distinct);
    QFETCH(QByteArray, expected);

    comSettings s;
    if (distinct) {
        saveRecords::fillCom(s, 'b', 0);
        s.comPort = QStringLiteral("/dev/serial/by-id/usb-A&B_<1>-port0");
        s.baudRate = 4294967295u;
    }
    QVERIFY(comSettingsFile::write(path("config_com.xml"), s));
    QCOMPARE(contents(path("config_com.xml")), expected);
    comSettings back;
    QVERIFY(comSettingsFile::read(path("config_com.xml"), back));
    QCOMPARE(fieldsOf(back), fieldsOf(s));
}

void tst_savedFiles::reads_data()
{
    QTest::addColumn<QByteArray>("xml");        // null: no file at all
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("changes");   // "Field=value" over the record; unreadable: none

    const auto doc = [](const char* body) { return "<Settings><Setting>" + QByteArray(body) + "</Setting></Settings>"; };
    QTest::newRow("root of another name") << QByteArray("<Config><Setting><SlaveId>9</SlaveId><ComPort>COM4</ComPort></Setting></Config>")
                                          << true << QStringList{"SlaveId=9", "ComPort=COM4"};
    QTest::newRow("text reads 0") << doc("<BaudRate>abc</BaudRate>") << true << QStringList{"BaudRate=0"};
    QTest::newRow("numbers keep their low bits") << doc("<DataLen>264</DataLen><SlaveId>65537</SlaveId>") << true
                                                 << QStringList{"DataLen=8", "SlaveId=1"};
    QTest::newRow("flags: non-zero is true, text is false")
        << doc("<AutoBoot>0</AutoBoot><AutoConnect>2</AutoConnect><AutoHide>yes</AutoHide>") << true
        << QStringList{"AutoBoot=0", "AutoConnect=1", "AutoHide=0"};
    QTest::newRow("later Setting wins, earlier fields stay")
        << QByteArray("<Settings><Setting><SlaveId>5</SlaveId><ResponseTimeout>300</ResponseTimeout></Setting>"
                      "<Setting><SlaveId>6</SlaveId></Setting></Settings>")
        << true << QStringList{"SlaveId=6", "ResponseTimeout=300"};
    QTest::newRow("empty port element gives an empty port") << doc("<ComPort/>") << true << QStringList{"ComPort="};
    QTest::newRow("unknown elements, comments and case-different names ignored")
        << QByteArray("<?xml version=\"1.0\"?><Settings><!-- c --><Other><SlaveId>3</SlaveId></Other>"
                      "<Setting><slaveid>4</slaveid><Baud>1</Baud><NumOfRetries>0</NumOfRetries></Setting></Settings>")
        << true << QStringList{"NumOfRetries=0"};
    QTest::newRow("Setting deeper than the root's children is ignored")
        << QByteArray("<Settings><Group><Setting><SlaveId>3</SlaveId></Setting></Group></Settings>") << true << QStringList();
    QTest::newRow("missing file") << QByteArray() << false << QStringList();
    QTest::newRow("empty file") << QByteArray("") << false << QStringList();
    QTest::newRow("malformed XML") << QByteArray("<Settings><Setting><SlaveId>9</SlaveId></Setting>") << false << QStringList();
    // Qt's reader accepts the reference, and the saved file that followed
    // could never be read again (found with the fuzz target).
    QTest::newRow("port name refers to U+FFFF, after a good field")
        << doc("<SlaveId>9</SlaveId><ComPort>COM&#65535;</ComPort>") << false << QStringList();
}

// A file is read over the record field by field; one that cannot be read
// leaves the record as it was.
void tst_savedFiles::reads()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, ok);
    QFETCH(QStringList, changes);

    if (!xml.isNull())
        QVERIFY(writeBytes(path("config_com.xml"), xml));
    comSettings s;
    saveRecords::fillCom(s, 'b', 0);
    QMap<QString, QString> expected = fieldsOf(s);
    for (const QString& change : changes)
        expected.insert(change.section(QLatin1Char('='), 0, 0), change.section(QLatin1Char('='), 1));
    QCOMPARE(comSettingsFile::read(path("config_com.xml"), s), ok);
    QCOMPARE(fieldsOf(s), expected);
}

void tst_savedFiles::portNameXmlCannotCarryIsNotSaved_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("saved");

    QTest::newRow("U+FFFF") << QStringLiteral("COM\uFFFF") << false;
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << false;
    QTest::newRow("control character") << QStringLiteral("tty\x01") << false;
    QTest::newRow("tab, CR and LF are allowed") << QStringLiteral("a\tb\rc\nd") << true;
    QTest::newRow("surrogate pair (emoji)") << QStringLiteral("tty\U0001F600") << true;
    QTest::newRow("U+FFFD") << QStringLiteral("\uFFFD") << true;
}

// Whatever is saved reads back the same; what could not be read back is not
// saved, and the old file stays.
void tst_savedFiles::portNameXmlCannotCarryIsNotSaved()
{
    QFETCH(QString, port);
    QFETCH(bool, saved);

    QVERIFY(writeBytes(path("config_com.xml"), kDefaultsFile));
    comSettings s;
    s.comPort = port;
    QCOMPARE(comSettingsFile::write(path("config_com.xml"), s), saved);
    comSettings back;
    QVERIFY(comSettingsFile::read(path("config_com.xml"), back));
    QCOMPARE(back.comPort, saved ? port : QStringLiteral("COM1"));
    if (!saved)
        QCOMPARE(contents(path("config_com.xml")), kDefaultsFile);
}

void tst_savedFiles::fileLivesWhereAppFolderCanHoldIt_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("withFile");   // an installed config_com.xml beside the program
    QTest::addColumn<bool>("configsIsAFile");
    QTest::addColumn<QString>("prefixData");   // made in the prefix the program's folder is bin/ of
    QTest::addColumn<bool>("dataInPrefix");    // read-only files come from prefix/share/qr7215

    QTest::newRow("writable folder") << false << false << false << QString() << false;
    QTest::newRow("read-only folder") << true << false << false << QString() << false;
    QTest::newRow("read-only folder with a file") << true << true << false << QString() << false;
    QTest::newRow("configs is a file") << false << false << true << QString() << false;
    QTest::newRow("installed, folder writable (root)") << false << true << false << "share/qr7215/" << true;
    QTest::newRow("share/qr7215 is a file") << false << false << false << "share/qr7215" << false;
    QTest::newRow("prefix share of other programs only") << false << false << false << "share/other/" << false;
}

void tst_savedFiles::fileLivesWhereAppFolderCanHoldIt()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, withFile);
    QFETCH(bool, configsIsAFile);
    QFETCH(QString, prefixData);
    QFETCH(bool, dataInPrefix);

    const QString appDir = path(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(appDir));
    if (!prefixData.isEmpty()) {
        // A trailing slash names a folder, anything else a file.
        QVERIFY(QDir().mkpath(QFileInfo(path(prefixData)).path()));
        if (!prefixData.endsWith(QLatin1Char('/')))
            QVERIFY(writeBytes(path(prefixData), ""));
    }
    const QString beside = appDir + QStringLiteral("/configs/config_com.xml");
    const QString userFile = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Tarvolt/UPS/config_com.xml");
    QFile::remove(userFile);
    if (configsIsAFile)
        QVERIFY(writeBytes(appDir + QStringLiteral("/configs"), ""));
    if (readOnly && !mountTmpfs(appDir, 0))
        QSKIP("no permission to mount a read-only folder");
    const auto unmount = qScopeGuard([&] {
        if (readOnly)
            ::umount2(QFile::encodeName(appDir).constData(), MNT_DETACH);
    });
    comSettings s;
    s.pollDelay = 777;
    if (withFile) {
        QVERIFY(QDir().mkpath(appDir + QStringLiteral("/configs")));
        QVERIFY(comSettingsFile::write(beside, s));
    }
    if (readOnly)
        QVERIFY(mountTmpfs(appDir, MS_REMOUNT | MS_RDONLY));

    const bool besideRefused = readOnly || configsIsAFile;
    const bool perUser = besideRefused || dataInPrefix;
    QCOMPARE(platform::dataFolder(appDir), dataInPrefix ? path(QStringLiteral("share/qr7215")) : appDir);
    const platform::connectionSettingsFiles files = platform::connectionSettingsLocation(appDir);
    QCOMPARE(files.file, perUser ? userFile : beside);
    QCOMPARE(files.firstStartDefault, withFile ? beside : QString());
    comSettings first;
    if (withFile) {
        QVERIFY(comSettingsFile::read(files.firstStartDefault, first));
        QCOMPARE(first.pollDelay, 777u);
    }
    QVERIFY(comSettingsFile::write(files.file, s));

    // A save that fails is told once, with the file and the reason, until one succeeds.
    if (besideRefused) {
        LogCapture log;
        QString reason;
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!comSettingsFile::write(beside, s, &reason));
            saveFailureLog::saved(beside, false, reason);
        }
        QTRY_COMPARE(log.countStartingWith(QStringLiteral("Settings could not be saved to ") + beside + ": "), 1);
        QVERIFY(!reason.isEmpty() && log.lines.first().contains(reason));
    }
}

void tst_savedFiles::autostartEntry_data()
{
    QTest::addColumn<QString>("executable");   // empty: the running one
    QTest::addColumn<QString>("exec");         // as it stands in the file

    QTest::newRow("the running executable") << QString() << "\"" + QCoreApplication::applicationFilePath() + "\"";
    QTest::newRow("blanks") << "/home/op/My Programs/QR 7215" << "\"/home/op/My Programs/QR 7215\"";
    QTest::newRow("double quote") << "/tmp/a\"b/QR-7215" << "\"/tmp/a\\\\\"b/QR-7215\"";
    QTest::newRow("dollar and backquote") << "/tmp/$HOME/`id`/x" << "\"/tmp/\\\\$HOME/\\\\`id\\\\`/x\"";
    QTest::newRow("backslash takes four") << "/tmp/a\\b" << "\"/tmp/a\\\\\\\\b\"";
    QTest::newRow("percent is doubled") << "/tmp/100%/x" << "\"/tmp/100%%/x\"";
}

// An entry the session starts, which names the program as one argument; left
// alone while it names this executable, replaced once the program moved.
void tst_savedFiles::autostartEntry()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);

    const QString entry = QString::fromStdString(platform::autoStartEntry(kEntryName));
    const auto add = [&](const QString& program) {
        return program.isEmpty() ? platform::registerAutoStart(kEntryName)
                                 : platform::registerAutoStart(kEntryName, program.toStdString());
    };
    QVERIFY(add(executable));
    const QStringList lines = entryLines(entry);
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("X-GNOME-Autostart-enabled=true")));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^Exec="))), QStringList{"Exec=" + exec});

    const QDateTime old(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    {
        QFile f(entry);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QVERIFY(add(executable));
    QCOMPARE(QFileInfo(entry).lastModified().toUTC(), old);

    QVERIFY(add(QStringLiteral("/opt/moved/QR-7215")));
    QCOMPARE(entryLines(entry).filter(QRegularExpression(QStringLiteral("^(Exec=|\\[)"))),
             (QStringList{"[Desktop Entry]", "Exec=\"/opt/moved/QR-7215\""}));
    QCOMPARE(QFileInfo(entry).dir().entryList(QDir::Files | QDir::Hidden), QStringList{"QR-7215.desktop"});
}

void tst_savedFiles::autostartOffRemovesOnlyOwnEntry_data()
{
    QTest::addColumn<QString>("registered");   // empty: the running executable
    QTest::addColumn<bool>("removed");

    QTest::newRow("this executable's entry") << QString() << true;
    QTest::newRow("another copy's entry") << "/opt/qr7215/bin/QR-7215" << false;
    QTest::newRow("a copy beside this one") << QCoreApplication::applicationFilePath() + QStringLiteral("-demo") << false;
}

void tst_savedFiles::autostartOffRemovesOnlyOwnEntry()
{
    QFETCH(QString, registered);
    QFETCH(bool, removed);

    const QString entry = QString::fromStdString(platform::autoStartEntry(kEntryName));
    QVERIFY(registered.isEmpty() ? platform::registerAutoStart(kEntryName)
                                 : platform::registerAutoStart(kEntryName, registered.toStdString()));
    QVERIFY(platform::registerAutoStart("other", "/usr/bin/other"));
    const QByteArray before = contents(entry);
    for (int i = 0; i < 2; ++i) {
        // Off again stays quiet and harmless.
        QVERIFY(platform::unregisterAutoStart(kEntryName));
        QCOMPARE(contents(entry), removed ? QByteArray() : before);
    }
    QVERIFY(QFile::exists(QFileInfo(entry).absolutePath() + QStringLiteral("/other.desktop")));
}

QR_TEST_GUILESS_MAIN(tst_savedFiles)
#include "tst_savedfiles.moc"
