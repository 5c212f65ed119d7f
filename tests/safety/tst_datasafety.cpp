// The files the program rewrites while it runs (config_com.xml, the settings
// store, the autostart entry) under every fault a disk or a power cut brings:
// the old file stays whole and the next save goes through. And a register
// table far larger than any module has.
//
// Root may write anywhere, so the permission rows save as the user nobody;
// the read-only rows mount a tmpfs. Without root those rows are skipped.
// QR7215_KILLS sets the kills per file (default 100), QR7215_KILL_SEED the
// random seed (printed, so a failing run can be repeated).
#include "childprocess.h"
#include "dataobject.h"
#include "saverecords.h"
#include "testenv.h"
#include "upsdatamodel.h"

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

using saveRecords::contents;
using saveRecords::target;
using namespace testsupport;

namespace {

enum class fault { killed, staleLock, asNobody, folderNotWritable, fileNotWritable, sizeLimit, readOnlyFileSystem };

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

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
                saveRecords::save(t, n % 2 ? 'a' : 'b', dir, padding);
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
    const QString path = saveRecords::filePath(file, folder);
    const QList<QByteArray> valid = saveRecords::validDocuments(file, padding);
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
        const QByteArray found = contents(path);
        QVERIFY2(valid.contains(found), qPrintable(QStringLiteral("kill %1 (seed %2): %3 bytes, not a whole document")
                                                       .arg(k).arg(seed).arg(found.size())));
        QCOMPARE(leftovers(path, true), QStringList());
    }
    qInfo("%s: %d kills (seed %u, one save %lld us), 0 damaged files, %d saves completed, %d cut short",
          qPrintable(QFileInfo(path).fileName()), k, seed, saveUs, saves, cut);
    QVERIFY2(cut > 0, "no kill landed inside a save");
    QVERIFY(saves > 0);
}

} // namespace

Q_DECLARE_METATYPE(saveRecords::target)
Q_DECLARE_METATYPE(fault)

class tst_dataSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void oldFileStaysWhole_data();
    void oldFileStaysWhole();
    void hugeRegisterTable();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_dataSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
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
    row(store, target::settings, "empty lock and empty lock of the lock", fault::staleLock, 0, 0, false,
        {".lock", ".lock.rmlock"});
    row(store, target::settings, "lock of a writer that is gone, empty lock of the lock", fault::staleLock, 0, 0, false,
        {".lock=dead", ".lock.rmlock"});
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

    const QString path = saveRecords::filePath(file, folder);
    QVERIFY(saveRecords::save(file, 'a', folder, padding));
    const QByteArray before = contents(path);
    const QByteArray after = saveRecords::documentOf(file, 'b', padding);
    QCOMPARE(before, saveRecords::documentOf(file, 'a', padding));
    QVERIFY(before != after);

    const auto saveB = [&] { return saveRecords::save(file, 'b', folder, padding) ? 0 : 1; };
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
            QVERIFY(writeBytes(path + lock.section(QLatin1Char('='), 0, 0), lock.endsWith("=dead") ? dead : QByteArray()));
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
        const QByteArray found = contents(path);
        if (!refused) {
            QCOMPARE(code, 0);
            QCOMPARE(found, after);
        } else if (limit < 0) {
            QVERIFY2(saveRecords::validDocuments(file, padding).contains(found) && found != after,
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
    const char next = contents(path) == after ? 'a' : 'b';
    QCOMPARE(runWithTimeLimit(15, [&] { return saveRecords::save(file, next, folder, padding) ? 0 : 1; }), 0);
    QCOMPARE(contents(path), saveRecords::documentOf(file, next, padding));
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

QR_TEST_GUILESS_MAIN(tst_dataSafety)
#include "tst_datasafety.moc"
