// A disk that refuses a save: the folder or the file may not be written, the
// file system is full (or has room for only part of the new document), or it
// is mounted read-only. Each time the previous file must stay exactly as it
// was, no temporary file may be left, and once the disk takes writes again
// the next save must go through.
//
// Root may write anywhere, so the permission cases run the save helper as
// the user nobody. The disk cases mount a small tmpfs; without root and
// mount permission they are skipped, saying so.
#include "saverecords.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using saveRecords::target;

Q_DECLARE_METATYPE(saveRecords::target)

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct helperRun {
    bool finished = false;
    int exitCode = -1;
};

// One save of record 'b' by the helper; as the user nobody when asked.
helperRun saveB(target t, const QString& configDir, int padding, bool asNobody)
{
    QStringList args{saveRecords::targetName(t), QStringLiteral("b"), configDir, QString::number(padding)};
    if (asNobody)
        args << QStringLiteral("--as-nobody");
    QProcess helper;
    helper.start(QStringLiteral(SAVELOOP_PATH), args);
    helperRun run;
    run.finished = helper.waitForFinished(15000) && helper.exitStatus() == QProcess::NormalExit;
    run.exitCode = helper.exitCode();
    return run;
}

const QString kFiller = QStringLiteral("filler");

// Entries beside the file other than the file itself (and the filler that
// takes up the disk): a refused save must leave none, no temporary file and
// no lock.
QStringList leftovers(const QString& filePath)
{
    const QFileInfo info(filePath);
    QStringList entries = info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    entries.removeAll(info.fileName());
    entries.removeAll(kFiller);
    return entries;
}

bool setOwner(const QString& path, bool toNobody)
{
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        return false;
    const uid_t uid = toNobody ? nobody->pw_uid : 0;
    const gid_t gid = toNobody ? nobody->pw_gid : 0;
    return ::chown(QFile::encodeName(path).constData(), uid, gid) == 0;
}

// Writes a filler file until the file system has no room left, then gives
// back `room` bytes (rounded to whole pages by tmpfs).
bool fillUp(const QString& mountPoint, qint64 room)
{
    const QByteArray name = QFile::encodeName(mountPoint + QLatin1Char('/') + kFiller);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'x');
    qint64 size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
        if (n <= 0)
            break;
        size += n;
    }
    const bool full = errno == ENOSPC;
    const bool ok = full && ::ftruncate(fd, qMax<qint64>(0, size - room)) == 0;
    ::close(fd);
    return ok;
}

// A small tmpfs mounted for one test and gone with it.
class smallDisk
{
public:
    smallDisk()
    {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary folder");
            return;
        }
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=64k,mode=0755") != 0)
            m_error = QString::fromLocal8Bit(strerror(errno));
        else
            m_mounted = true;
    }
    ~smallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    QString path() const { return m_dir.path(); }
    bool remount(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", flags, "size=64k") == 0;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

class tst_refusedWrite : public QObject
{
    Q_OBJECT

private slots:
    void notPermitted_data();
    void notPermitted();
    void diskRefuses_data();
    void diskRefuses();
};

void tst_refusedWrite::notPermitted_data()
{
    QTest::addColumn<target>("file");
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("fileWritable");

    const QList<QPair<const char*, target>> files{
        {"config_com.xml", target::com}, {"settings store", target::settings}, {"autostart entry", target::autostart}};
    for (const auto& f : files) {
        // The control row proves the helper really runs as nobody and saves.
        QTest::addRow("%s: folder and file writable (control)", f.first) << f.second << true << true;
        // A save that wrote in place would succeed here and could be cut short.
        QTest::addRow("%s: folder not writable, file writable", f.first) << f.second << false << true;
        QTest::addRow("%s: file not writable", f.first) << f.second << true << false;
        QTest::addRow("%s: neither writable", f.first) << f.second << false << false;
    }
}

void tst_refusedWrite::notPermitted()
{
    QFETCH(target, file);
    QFETCH(bool, folderWritable);
    QFETCH(bool, fileWritable);
    if (geteuid() != 0)
        QSKIP("needs root, to run the save as the user nobody");
    if (!getpwnam("nobody"))
        QSKIP("this system has no user nobody");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // nobody has to reach the folder to be refused by it.
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                  | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                  | QFile::ExeOther));
    const int padding = 100;
    const QString path = saveRecords::filePath(file, dir.path());
    QVERIFY(saveRecords::save(file, 'a', dir.path(), padding));
    const QByteArray before = contents(path);
    QCOMPARE(before, saveRecords::documentOf(file, 'a', padding));

    QVERIFY(setOwner(QFileInfo(path).absolutePath(), folderWritable));
    QVERIFY(setOwner(path, fileWritable));

    const helperRun run = saveB(file, dir.path(), padding, true);
    QVERIFY(run.finished);
    QVERIFY2(run.exitCode != 3, "the helper could not become nobody");
    const bool permitted = folderWritable && fileWritable;
    if (permitted) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(contents(path), saveRecords::documentOf(file, 'b', padding));
    } else {
        // Only config_com.xml's writer reports; the other two are silent by design.
        if (file == target::com)
            QCOMPARE(run.exitCode, 1);
        QCOMPARE(contents(path), before);
    }
    QCOMPARE(leftovers(path), QStringList());
}

void tst_refusedWrite::diskRefuses_data()
{
    QTest::addColumn<target>("file");
    QTest::addColumn<int>("padding");
    QTest::addColumn<int>("room");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("mustRefuse");

    const QList<QPair<const char*, target>> files{
        {"config_com.xml", target::com}, {"settings store", target::settings}, {"autostart entry", target::autostart}};
    for (const auto& f : files) {
        QTest::addRow("%s: no space left", f.first) << f.second << 100 << 0 << false << true;
        // Enough for the new document alone; the settings store's lock takes it first.
        QTest::addRow("%s: one free block", f.first) << f.second << 100 << 4096 << false << false;
        // The new document is 20 kB; the disk takes its first 8 kB.
        QTest::addRow("%s: room for part of the new document", f.first) << f.second << 20000 << 8192 << false << true;
        QTest::addRow("%s: read-only file system", f.first) << f.second << 100 << 0 << true << true;
    }
}

void tst_refusedWrite::diskRefuses()
{
    QFETCH(target, file);
    QFETCH(int, padding);
    QFETCH(int, room);
    QFETCH(bool, readOnly);
    QFETCH(bool, mustRefuse);

    smallDisk disk;
    if (!disk.mounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here (needs root with mount permission): ") + disk.error()));

    const QString path = saveRecords::filePath(file, disk.path());
    QVERIFY(saveRecords::save(file, 'a', disk.path(), padding));
    const QByteArray before = contents(path);
    QCOMPARE(before, saveRecords::documentOf(file, 'a', padding));
    const QByteArray after = saveRecords::documentOf(file, 'b', padding);
    // A save that goes through part of the way: for the settings store that
    // is one key of the two, each whole.
    const QList<QByteArray> whole = saveRecords::validDocuments(file, padding);

    if (readOnly)
        QVERIFY(disk.remount(true));
    else
        QVERIFY(fillUp(disk.path(), room));

    const helperRun tried = saveB(file, disk.path(), padding, false);
    QVERIFY(tried.finished);
    const QByteArray found = contents(path);
    if (mustRefuse) {
        if (file == target::com)
            QCOMPARE(tried.exitCode, 1);
        QCOMPARE(found, before);
    } else {
        QVERIFY2(whole.contains(found), qPrintable(QStringLiteral("%1 bytes, not a whole document").arg(found.size())));
        if (file == target::com)
            QCOMPARE(tried.exitCode == 0, found == after);
    }
    QCOMPARE(leftovers(path), QStringList());

    // Room again: nothing the refused save left stands in the way.
    if (readOnly)
        QVERIFY(disk.remount(false));
    else
        QVERIFY(QFile::remove(disk.path() + QLatin1Char('/') + kFiller));
    const helperRun saved = saveB(file, disk.path(), padding, false);
    QVERIFY(saved.finished);
    QCOMPARE(saved.exitCode, 0);
    QCOMPARE(contents(path), after);
    QCOMPARE(leftovers(path), QStringList());
}

QR_TEST_GUILESS_MAIN(tst_refusedWrite)
#include "tst_refusedwrite.moc"
