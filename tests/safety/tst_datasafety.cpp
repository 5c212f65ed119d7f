// The files the program rewrites while it runs (config_com.xml, the settings
// store, the autostart entry) under every fault a disk or a power cut brings:
// the old file stays whole and the next save goes through. And what they hold.
//
// Root may write anywhere, so the permission rows save as the user nobody;
// the read-only rows mount a tmpfs. Without root those rows are skipped.
// QR7215_KILLS sets the kills per file (default 100), QR7215_KILL_SEED the
// random seed (printed, so a failing run can be repeated).
#include "autostart.h"
#include "childprocess.h"
#include "comsettings.h"
#include "comsettingsfile.h"
#include "datafolder.h"
#include "dataobject.h"
#include "logcapture.h"
#include "savefailurelog.h"
#include "settingslocation.h"
#include "settingsstore.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QDomDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include <chrono>
#include <csignal>
#include <thread>

#include <poll.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const char kEntryName[] = "QR-7215";

// Points XDG_CONFIG_HOME at a folder for as long as it lives.
struct configHome {
    explicit configHome(const QString& dir) : previous(qgetenv("XDG_CONFIG_HOME")) { qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir)); }
    ~configHome() { qputenv("XDG_CONFIG_HOME", previous); }
    const QByteArray previous;
};

// Two records of each file, apart from the defaults and from each other;
// padding stretches their free text so that a save takes several writes.
enum class target { com, settings, autostart };

QString padded(const char* head, char fill, int padding, const char* tail)
{
    return QLatin1String(head) + QString(padding, QLatin1Char(fill)) + QLatin1String(tail);
}

void fillCom(comSettings& s, char record, int padding)
{
    if (record == 'a') {
        s.comPort = padded("/dev/serial/by-id/usb-A-", 'a', padding, "-port0");
        s.pollDelay = 20;
        s.autoConnect = true;
        return;
    }
    s.slaveId = 247;
    s.comPort = padded("/dev/ttyUSB-B-", 'b', padding, "-1");
    s.baudRate = 9600;
    s.dataLen = 7;
    s.stopBits = 2;
    s.parity = 2;
    s.responseTimeout = 250;
    s.numOfRetries = 9;
    s.pollDelay = 500;
    s.autoBoot = true;
    s.autoHide = true;
}

QString scriptPath(char record, int padding)
{
    return record == 'a' ? padded("/opt/ups/", 'a', padding, "/shutdown.sh")
                         : padded("/srv/scripts b/", 'b', padding, "/power lost.sh");
}

QString filePath(target t, const QString& configDir)
{
    return configDir + (t == target::com        ? QStringLiteral("/config_com.xml")
                        : t == target::settings ? QStringLiteral("/Tarvolt/UPS/QR-7215.conf")
                                                : QStringLiteral("/autostart/QR-7215.desktop"));
}

// Through the program's own code. False only where that code reports a
// failure (config_com.xml); the other two are silent by design.
bool save(target t, char record, const QString& configDir, int padding)
{
    if (t == target::com) {
        comSettings s;
        fillCom(s, record, padding);
        return comSettingsFile::write(filePath(t, configDir), s);
    }
    configHome home(configDir);
    if (t == target::settings) {
        settingsStore::setBatPath(scriptPath(record, padding));
        settingsStore::setBatExecutePolicy(record == 'a' ? 1u : 2u);
    } else {
        platform::registerAutoStart(kEntryName, (record == 'a' ? padded("/opt/qr7215-", 'a', padding, "/qr7215-utility")
                                                               : padded("/usr/local/UPS tools/", 'b', padding, "/qr \"u\" 100%"))
                                                    .toStdString());
    }
    return true;
}

// The document a record leaves when saved on its own into an empty folder.
QByteArray documentOf(target t, char record, int padding)
{
    QTemporaryDir scratch;
    save(t, record, scratch.path(), padding);
    return fileBytes(filePath(t, scratch.path()));
}

// Every complete document a run of alternating saves may leave: the store's
// two keys are saved one after the other, so its mixes are whole documents too.
QList<QByteArray> validDocuments(target t, int padding)
{
    if (t != target::settings)
        return {documentOf(t, 'a', padding), documentOf(t, 'b', padding)};
    QTemporaryDir scratch;
    configHome home(scratch.path());
    QList<QByteArray> documents;
    settingsStore::setBatExecutePolicy(1u);
    for (const char record : {'a', 'b', 'a'}) {
        settingsStore::setBatPath(scriptPath(record, padding));
        documents << fileBytes(filePath(t, scratch.path()));
        settingsStore::setBatExecutePolicy(record == 'a' ? 1u : 2u);
        documents << fileBytes(filePath(t, scratch.path()));
    }
    return documents;
}

enum class fault { killed, staleLock, asNobody, folderNotWritable, fileNotWritable, sizeLimit, readOnlyFileSystem };

// Entries beside the file other than the file itself. A kill may leave the
// temporary file of a save ("<name>.XXXXXX") and QSettings' locks; nothing else.
QStringList leftovers(const QString& filePath, bool killed)
{
    const QFileInfo info(filePath);
    static const QRegularExpression killRemains(QStringLiteral("^(\\.lock(\\.rmlock)*|\\.[A-Za-z0-9]{6})$"));
    QStringList out;
    for (const QString& entry : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const bool remains = entry.startsWith(info.fileName()) && killRemains.match(entry.mid(info.fileName().size())).hasMatch();
        if (entry != info.fileName() && !(killed && remains))
            out << entry;
    }
    return out;
}

bool giveTo(const QString& path, bool nobody)
{
    const passwd* user = getpwnam("nobody");
    return user && ::chown(QFile::encodeName(path).constData(), nobody ? user->pw_uid : 0, nobody ? user->pw_gid : 0) == 0;
}

bool mountTmpfs(const QString& dir, unsigned long flags)
{
    return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", flags, "size=256k") == 0;
}

// A child that saves the file over and over (records b, a, b, ...) and marks
// the pipe before ('S') and after ('.') each save, until it is killed.
class saver
{
public:
    saver(target t, const QString& dir, int padding)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            for (unsigned n = 0;; ++n) {
                if (::write(fds[1], "S", 1) != 1)
                    ::_exit(1);
                save(t, n % 2 ? 'a' : 'b', dir, padding);
                if (::write(fds[1], ".", 1) != 1)
                    ::_exit(1);
            }
        }
        ::close(fds[1]);
        m_fd = fds[0];
    }
    ~saver()
    {
        kill();
        ::close(m_fd);
    }
    // Until n saves are complete; false when the child stops saving.
    bool waitForSaves(int n)
    {
        while (m_pid > 0 && m_marks.count('.') < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1 || !take())
                return false;
        }
        return m_pid > 0;
    }
    // With SIGKILL, as a power cut leaves no time for anything either. True
    // when the kill came in the middle of a save.
    bool kill()
    {
        if (m_pid <= 0)
            return false;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = 0;
        while (take()) {
        }
        return m_marks.endsWith('S');
    }
    int saves() const { return m_marks.count('.'); }

private:
    bool take()
    {
        char buffer[256];
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0)
            m_marks.append(buffer, int(got));
        return got > 0;
    }
    pid_t m_pid = -1;
    int m_fd = -1;
    QByteArray m_marks;
};

int envNumber(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Kills a saving child many times, each after a counted number of complete
// saves and at a random point within one save as measured here, so neither a
// fast nor a slow machine leaves every kill between two saves. After every
// kill the file is one of the complete documents the saves write.
void killRepeatedly(target file, const QString& folder, int padding)
{
    const int kills = envNumber("QR7215_KILLS", 100);
    const quint32 seed = quint32(envNumber("QR7215_KILL_SEED", int(QRandomGenerator::global()->bounded(1, 1 << 30))));
    QRandomGenerator random(seed);
    const QString path = filePath(file, folder);
    const QList<QByteArray> valid = validDocuments(file, padding);
    qint64 saveUs = 0;
    {
        QElapsedTimer timer;
        timer.start();
        saver calibration(file, folder, padding);
        QVERIFY2(calibration.waitForSaves(10), "the child does not save");
        saveUs = qMax<qint64>(timer.nsecsElapsed() / 10000, 1);
    }
    int cut = 0;
    int saves = 0;
    int k = 0;
    // Until the planned kills are done and one of them cut a save short.
    for (; k < kills || (cut == 0 && k < 20 * kills); ++k) {
        saver child(file, folder, padding);
        QVERIFY2(child.waitForSaves(k % 3), qPrintable(QStringLiteral("kill %1: the child stopped saving").arg(k)));
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(int(saveUs) + 1)));
        cut += child.kill() ? 1 : 0;
        saves += child.saves();
        const QByteArray found = fileBytes(path);
        QVERIFY2(valid.contains(found), qPrintable(QStringLiteral("kill %1 (seed %2): %3 bytes, not a whole document")
                                                       .arg(k).arg(seed).arg(found.size())));
        QCOMPARE(leftovers(path, true), QStringList());
    }
    qInfo("%s: %d kills (seed %u, one save %lld us), 0 damaged files, %d saves completed, %d cut short",
          qPrintable(QFileInfo(path).fileName()), k, seed, saveUs, saves, cut);
    QVERIFY2(cut > 0, "no kill landed inside a save");
    QVERIFY(saves > 0);
}

// Every field of config_com.xml by its element name, as the writer puts a record.
QMap<QString, QString> fieldsOf(const comSettings& s)
{
    QTemporaryDir dir;
    comSettingsFile::write(dir.filePath(QStringLiteral("f.xml")), s);
    QDomDocument doc;
    doc.setContent(fileBytes(dir.filePath(QStringLiteral("f.xml"))));
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
    return QString::fromUtf8(fileBytes(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

Q_DECLARE_METATYPE(target)
Q_DECLARE_METATYPE(fault)

class tst_dataSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void oldFileStaysWhole_data();
    void oldFileStaysWhole();
    void hugeRegisterTable();
    void writesExactLayout_data();
    void writesExactLayout();
    void reads_data();
    void reads();
    void fileLivesWhereAppFolderCanHoldIt_data();
    void fileLivesWhereAppFolderCanHoldIt();
    void autostartEntry_data();
    void autostartEntry();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void tst_dataSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir(QFileInfo(QString::fromStdString(platform::autoStartEntry(kEntryName))).absolutePath()).removeRecursively();
    // nobody has to reach the folder to be refused by it.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                     | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
}

void tst_dataSafety::oldFileStaysWhole_data()
{
    QTest::addColumn<target>("file");
    QTest::addColumn<fault>("kind");
    QTest::addColumn<int>("padding");   // stretches the record's free text
    QTest::addColumn<int>("limit");     // file size limit; -1: the old document's size
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QStringList>("locks");   // beside the store, by suffix; "=dead": of a writer that is gone

    const auto row = [](const char* file, target t, const char* name, fault kind, int padding, int limit, bool refused,
                        const QStringList& locks = {}) {
        QTest::addRow("%s: %s", file, name) << t << kind << padding << limit << refused << locks;
    };
    const QList<QPair<const char*, target>> files{
        {"config_com.xml", target::com}, {"settings store", target::settings}, {"autostart entry", target::autostart}};
    for (const auto& f : files) {
        // Records of a few pages: a save takes several writes, a kill can land between them.
        row(f.first, f.second, "killed mid-save", fault::killed, 24000, 0, false);
        // The control rows prove the child really saves under the condition.
        row(f.first, f.second, "as nobody, all writable (control)", fault::asNobody, 100, 0, false);
        // A save that wrote in place would succeed here and could be cut short.
        row(f.first, f.second, "folder not writable", fault::folderNotWritable, 100, 0, true);
        row(f.first, f.second, "file not writable", fault::fileNotWritable, 100, 0, true);
        row(f.first, f.second, "disk full", fault::sizeLimit, 100, 0, true);
        // The store's two keys are saved one after the other and a cut-short
        // write is put back, so it may end as the mix of old and new: whole.
        row(f.first, f.second, "room for part of the new document", fault::sizeLimit, 20000,
            f.second == target::settings ? -1 : 8192, true);
        row(f.first, f.second, "room for all of it (control)", fault::sizeLimit, 20000, 1 << 20, false);
        row(f.first, f.second, "read-only file system", fault::readOnlyFileSystem, 100, 0, true);
    }
    // Writers killed inside QSettings' locking leave these; QSettings alone
    // would wait until each empty one is 30 s old.
    const char* store = "settings store";
    row(store, target::settings, "empty lock", fault::staleLock, 0, 0, false, {".lock"});
    row(store, target::settings, "lock of a writer that is gone", fault::staleLock, 0, 0, false, {".lock=dead"});
    row(store, target::settings, "chain of four", fault::staleLock, 0, 0, false,
        {".lock", ".lock.rmlock=dead", ".lock.rmlock.rmlock=dead", ".lock.rmlock.rmlock.rmlock"});
}

void tst_dataSafety::oldFileStaysWhole()
{
    QFETCH(target, file);
    QFETCH(fault, kind);
    QFETCH(int, padding);
    QFETCH(int, limit);
    QFETCH(bool, refused);
    QFETCH(QStringList, locks);

    const bool nobody = kind == fault::asNobody || kind == fault::folderNotWritable || kind == fault::fileNotWritable;
    if (nobody && !canChangeUser())
        QSKIP("needs root, to save as the user nobody");
    const QString folder = m_dir->path();
    const bool readOnly = kind == fault::readOnlyFileSystem;
    if (readOnly && !mountTmpfs(folder, 0))
        QSKIP("cannot mount a tmpfs here");
    const auto unmount = qScopeGuard([&] {
        if (readOnly)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });

    const QString path = filePath(file, folder);
    QVERIFY(save(file, 'a', folder, padding));
    const QByteArray before = fileBytes(path);
    const QByteArray after = documentOf(file, 'b', padding);
    QCOMPARE(before, documentOf(file, 'a', padding));
    QVERIFY(before != after);

    const auto saveB = [&] { return save(file, 'b', folder, padding) ? 0 : 1; };
    int code = 0;
    switch (kind) {
    case fault::killed:
        killRepeatedly(file, folder, padding);
        if (QTest::currentTestFailed())
            return;
        break;
    case fault::staleLock:
        for (const QString& lock : locks) {
            const QByteArray dead = "2147483646\nqr7215\n" + QSysInfo::machineHostName().toUtf8() + "\n";
            QVERIFY(putFile(path + lock.section(QLatin1Char('='), 0, 0), lock.endsWith("=dead") ? dead : QByteArray()));
        }
        code = runWithTimeLimit(15, saveB);
        break;
    case fault::sizeLimit:
        code = runWithFileSizeLimit(limit < 0 ? before.size() : limit, saveB);
        break;
    case fault::readOnlyFileSystem:
        QVERIFY(mountTmpfs(folder, MS_REMOUNT | MS_RDONLY));
        code = saveB();
        break;
    default:
        QVERIFY(giveTo(QFileInfo(path).absolutePath(), kind != fault::folderNotWritable));
        QVERIFY(giveTo(path, kind != fault::fileNotWritable));
        code = runAs("nobody", saveB);
        QVERIFY2(code != kChildNoSuchUser, "this system has no user nobody");
    }
    if (kind != fault::killed) {
        QVERIFY2(code == 0 || code == 1, qPrintable(QStringLiteral("the saving child ended with %1").arg(code)));
        const QByteArray found = fileBytes(path);
        if (!refused) {
            QCOMPARE(code, 0);
            QCOMPARE(found, after);
        } else if (limit < 0) {
            QVERIFY2(validDocuments(file, padding).contains(found) && found != after,
                     qPrintable(QStringLiteral("%1 bytes, not a whole older document").arg(found.size())));
        } else {
            // Only config_com.xml's writer reports; the other two are silent by design.
            if (file == target::com)
                QCOMPARE(code, 1);
            QCOMPARE(found, before);
        }
        QCOMPARE(leftovers(path, false), QStringList());
    }

    // Writable again: nothing the fault left stands in the way of the next save.
    if (readOnly)
        QVERIFY(mountTmpfs(folder, MS_REMOUNT));
    if (nobody)
        QVERIFY(giveTo(QFileInfo(path).absolutePath(), false));
    const char next = fileBytes(path) == after ? 'a' : 'b';
    QCOMPARE(runWithTimeLimit(15, [&] { return save(file, next, folder, padding) ? 0 : 1; }), 0);
    QCOMPARE(fileBytes(path), documentOf(file, next, padding));
    QCOMPARE(leftovers(path, kind == fault::killed), QStringList());
}

// A 50 MB config_registers.xml with 100 000 items: every row is read, with
// no limit of a short or a buffer on the way.
void tst_dataSafety::hugeRegisterTable()
{
    constexpr int kItems = 100000;
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs");
    QVERIFY(QDir().mkpath(dir));
    const auto removeTable = qScopeGuard([&] { QFile::remove(dir + QStringLiteral("/config_registers.xml")); });
    {
        QFile table(dir + QStringLiteral("/config_registers.xml"));
        QVERIFY(table.open(QIODevice::WriteOnly | QIODevice::Truncate));
        table.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Registers>\n<Config><Version>1</Version></Config>\n<Items>\n");
        const QByteArray words = QByteArray("Set point, limit or timer of the module; written &amp; read back. ").repeated(6);
        for (int i = 0; i < kItems; ++i)
            table.write("<Item><Addr>" + QByteArray::number(40000 + i) + "</Addr><Name>Register " + QByteArray::number(i)
                        + "</Name><RW>RW</RW><Description>" + words + "</Description></Item>\n");
        table.write("</Items>\n</Registers>\n");
        QVERIFY(table.size() > 45LL * 1024 * 1024);
    }
    upsDataModel model;
    QCOMPARE(model.rowCount(), kItems);
    for (const int row : {0, 35, 50000, kItems - 1}) {
        QCOMPARE(model.data(model.index(row, 0)).toUInt(), 40000u + uint(row));
        QCOMPARE(model.data(model.index(row, 1)).toString(), QStringLiteral("Register %1").arg(row));
    }
    QVERIFY(model.getDataObject(2)->description.startsWith(QStringLiteral("Set point, limit or timer of the module; written & read")));
}

void tst_dataSafety::writesExactLayout_data()
{
    QTest::addColumn<bool>("distinct");
    QTest::addColumn<QString>("port");          // null: the record's own
    QTest::addColumn<QByteArray>("expected");   // null: not saved, the old file stays; empty: bytes not checked

    QTest::newRow("defaults") << false << QString() << kDefaultsFile;
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
    QTest::newRow("every field changed, markup in the port name")
        << true << QStringLiteral("/dev/serial/by-id/usb-A&B_<1>-port0") << distinct;
    // What XML cannot carry is not saved: it could never be read back.
    QTest::newRow("port U+FFFF") << false << QStringLiteral("COM\uFFFF") << QByteArray();
    QTest::newRow("port with a lone high surrogate") << false << QString(QChar(0xD800)) << QByteArray();
    QTest::newRow("port with a control character") << false << QStringLiteral("tty\x01") << QByteArray();
    QTest::newRow("port with tab, CR and LF") << false << QStringLiteral("a\tb\rc\nd") << QByteArray("");
    QTest::newRow("port with a surrogate pair (emoji)") << false << QStringLiteral("tty\U0001F600") << QByteArray("");
    QTest::newRow("port U+FFFD") << false << QStringLiteral("\uFFFD") << QByteArray("");
}

// The bytes other tools and older versions read; and what is written reads back the same.
void tst_dataSafety::writesExactLayout()
{
    QFETCH(bool, distinct);
    QFETCH(QString, port);
    QFETCH(QByteArray, expected);

    QVERIFY(putFile(path("config_com.xml"), kDefaultsFile));
    comSettings s;
    if (distinct) {
        fillCom(s, 'b', 0);
        s.baudRate = 4294967295u;
    }
    if (!port.isNull())
        s.comPort = port;
    QCOMPARE(comSettingsFile::write(path("config_com.xml"), s), !expected.isNull());
    if (expected.isNull() || !expected.isEmpty())
        QCOMPARE(fileBytes(path("config_com.xml")), expected.isNull() ? kDefaultsFile : expected);
    comSettings back;
    QVERIFY(comSettingsFile::read(path("config_com.xml"), back));
    QCOMPARE(back.comPort, expected.isNull() ? QStringLiteral("COM1") : s.comPort);
    if (!expected.isNull())
        QCOMPARE(fieldsOf(back), fieldsOf(s));
}

void tst_dataSafety::reads_data()
{
    QTest::addColumn<QByteArray>("xml");        // null: no file at all
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("changes");   // "Field=value" over the record; unreadable: none

    const auto doc = [](const char* body) { return "<Settings><Setting>" + QByteArray(body) + "</Setting></Settings>"; };
    QTest::newRow("root of another name") << QByteArray("<Config><Setting><SlaveId>9</SlaveId><ComPort>COM4</ComPort></Setting></Config>")
                                          << true << QStringList{"SlaveId=9", "ComPort=COM4"};
    QTest::newRow("text reads 0, numbers keep their low bits, a flag is true when non-zero")
        << doc("<BaudRate>abc</BaudRate><DataLen>264</DataLen><SlaveId>65537</SlaveId><AutoBoot>0</AutoBoot>"
               "<AutoConnect>2</AutoConnect><AutoHide>yes</AutoHide>")
        << true << QStringList{"BaudRate=0", "DataLen=8", "SlaveId=1", "AutoBoot=0", "AutoConnect=1", "AutoHide=0"};
    QTest::newRow("later Setting wins, earlier fields stay")
        << QByteArray("<Settings><Setting><SlaveId>5</SlaveId><ResponseTimeout>300</ResponseTimeout></Setting>"
                      "<Setting><SlaveId>6</SlaveId></Setting></Settings>")
        << true << QStringList{"SlaveId=6", "ResponseTimeout=300"};
    QTest::newRow("empty port element gives an empty port") << doc("<ComPort/>") << true << QStringList{"ComPort="};
    QTest::newRow("unknown elements, comments, case-different names and deeper Settings ignored")
        << QByteArray("<?xml version=\"1.0\"?><Settings><!-- c --><Other><SlaveId>3</SlaveId></Other>"
                      "<Group><Setting><SlaveId>3</SlaveId></Setting></Group>"
                      "<Setting><slaveid>4</slaveid><Baud>1</Baud><NumOfRetries>0</NumOfRetries></Setting></Settings>")
        << true << QStringList{"NumOfRetries=0"};
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
void tst_dataSafety::reads()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, ok);
    QFETCH(QStringList, changes);

    if (!xml.isNull())
        QVERIFY(putFile(path("config_com.xml"), xml));
    comSettings s;
    fillCom(s, 'b', 0);
    QMap<QString, QString> expected = fieldsOf(s);
    for (const QString& change : changes)
        expected.insert(change.section(QLatin1Char('='), 0, 0), change.section(QLatin1Char('='), 1));
    QCOMPARE(comSettingsFile::read(path("config_com.xml"), s), ok);
    QCOMPARE(fieldsOf(s), expected);
}

void tst_dataSafety::fileLivesWhereAppFolderCanHoldIt_data()
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

void tst_dataSafety::fileLivesWhereAppFolderCanHoldIt()
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
            QVERIFY(putFile(path(prefixData), ""));
    }
    const QString beside = appDir + QStringLiteral("/configs/config_com.xml");
    const QString userFile = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Tarvolt/UPS/config_com.xml");
    QFile::remove(userFile);
    if (configsIsAFile)
        QVERIFY(putFile(appDir + QStringLiteral("/configs"), ""));
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

void tst_dataSafety::autostartEntry_data()
{
    QTest::addColumn<QString>("executable");   // empty: the running one
    QTest::addColumn<QString>("exec");         // as it stands in the file

    QTest::newRow("the running executable") << QString() << "\"" + QCoreApplication::applicationFilePath() + "\"";
    // A backslash takes four, a quote, dollar or backquote two and one, a percent two.
    QTest::newRow("blanks, quote, dollar, backquote, backslash and percent")
        << "/home/op/My Programs/a\"b $HOME `id` a\\b 100%/QR 7215"
        << "\"/home/op/My Programs/a\\\\\"b \\\\$HOME \\\\`id\\\\` a\\\\\\\\b 100%%/QR 7215\"";
    QTest::newRow("a copy beside this one") << QCoreApplication::applicationFilePath() + QStringLiteral("-demo")
                                            << "\"" + QCoreApplication::applicationFilePath() + "-demo\"";
}

// An entry the session starts, which names the program as one argument; left
// alone while it names this executable, replaced once the program moved.
// Auto Boot off removes it only while it names this executable, and never
// another program's entry.
void tst_dataSafety::autostartEntry()
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

    QVERIFY(platform::registerAutoStart("other", "/usr/bin/other"));
    const QByteArray before = fileBytes(entry);
    for (int i = 0; i < 2; ++i) {
        // Off again stays quiet and harmless.
        QVERIFY(platform::unregisterAutoStart(kEntryName));
        QCOMPARE(fileBytes(entry), executable.isEmpty() ? QByteArray() : before);
    }
    QVERIFY(QFile::remove(QFileInfo(entry).absolutePath() + QStringLiteral("/other.desktop")));

    QVERIFY(add(QStringLiteral("/opt/moved/QR-7215")));
    QCOMPARE(entryLines(entry).filter(QRegularExpression(QStringLiteral("^(Exec=|\\[)"))),
             (QStringList{"[Desktop Entry]", "Exec=\"/opt/moved/QR-7215\""}));
    QCOMPARE(QFileInfo(entry).dir().entryList(QDir::Files | QDir::Hidden), QStringList{"QR-7215.desktop"});
}

QR_TEST_GUILESS_MAIN(tst_dataSafety)
#include "tst_datasafety.moc"
