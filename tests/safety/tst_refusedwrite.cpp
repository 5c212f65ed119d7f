// A disk that refuses a save, for each file the program rewrites: the folder
// or the file may not be written, the disk is full (or has room for only part
// of the new document) or the file system is read-only. Each time the
// previous file must stay exactly as it was, with nothing left beside it, and
// once the disk takes writes again the next save must go through.
//
// A full disk is a file size limit on the saving child, so it needs no disk
// of its own. Root may write anywhere, so the permission rows save as the
// user nobody and need root; the read-only row mounts a small tmpfs and needs
// mount permission. Without them those rows are skipped, saying so.
#include "childprocess.h"
#include "saverecords.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using saveRecords::target;
using namespace testsupport;

Q_DECLARE_METATYPE(saveRecords::target)

namespace {

enum class fault { readOnlyFolder, readOnlyFile, writableAsNobody, sizeLimit, readOnlyFileSystem };

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Entries beside the file other than the file itself: a refused save must
// leave none, no temporary file and no lock.
QStringList leftovers(const QString& filePath)
{
    const QFileInfo info(filePath);
    QStringList entries = info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    entries.removeAll(info.fileName());
    return entries;
}

bool giveTo(const QString& path, bool nobody)
{
    const passwd* user = getpwnam("nobody");
    return user && ::chown(QFile::encodeName(path).constData(), nobody ? user->pw_uid : 0,
                           nobody ? user->pw_gid : 0) == 0;
}

// A small tmpfs for the read-only row, gone with the test.
class smallDisk
{
public:
    smallDisk()
    {
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        m_mounted = m_dir.isValid()
                    && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=256k") == 0;
        if (!m_mounted)
            m_error = QString::fromLocal8Bit(strerror(errno));
    }
    ~smallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool remount(bool readOnly)
    {
        return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                       MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=256k") == 0;
    }
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

Q_DECLARE_METATYPE(fault)

class tst_refusedWrite : public QObject
{
    Q_OBJECT

private slots:
    void refusedSaveKeepsTheOldFile_data();
    void refusedSaveKeepsTheOldFile();
};

void tst_refusedWrite::refusedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<target>("file");
    QTest::addColumn<fault>("kind");
    QTest::addColumn<int>("padding");     // stretches the record's free text
    QTest::addColumn<int>("limit");       // file size limit for sizeLimit rows; -1: the old document's size
    QTest::addColumn<bool>("refused");

    const QList<QPair<const char*, target>> files{
        {"config_com.xml", target::com}, {"settings store", target::settings}, {"autostart entry", target::autostart}};
    for (const auto& f : files) {
        // The control rows prove the child really saves under the condition.
        QTest::addRow("%s: as nobody, all writable (control)", f.first) << f.second << fault::writableAsNobody << 100 << 0 << false;
        // A save that wrote in place would succeed here and could be cut short.
        QTest::addRow("%s: folder not writable", f.first) << f.second << fault::readOnlyFolder << 100 << 0 << true;
        QTest::addRow("%s: file not writable", f.first) << f.second << fault::readOnlyFile << 100 << 0 << true;
        QTest::addRow("%s: disk full", f.first) << f.second << fault::sizeLimit << 100 << 0 << true;
        if (f.second == target::settings) {
            // Its two keys are saved one after the other and a cut-short
            // write is put back, so the limit leaves room for the old
            // document: the store ends as a whole document, never cut off.
            QTest::addRow("%s: room for part of the new document", f.first) << f.second << fault::sizeLimit << 20000 << -1 << true;
        } else {
            QTest::addRow("%s: room for part of the new document", f.first) << f.second << fault::sizeLimit << 20000 << 8192 << true;
        }
        QTest::addRow("%s: room for all of it (control)", f.first) << f.second << fault::sizeLimit << 20000 << (1 << 20) << false;
        QTest::addRow("%s: read-only file system", f.first) << f.second << fault::readOnlyFileSystem << 100 << 0 << true;
    }
}

void tst_refusedWrite::refusedSaveKeepsTheOldFile()
{
    QFETCH(target, file);
    QFETCH(fault, kind);
    QFETCH(int, padding);
    QFETCH(int, limit);
    QFETCH(bool, refused);

    const bool asNobody = kind == fault::readOnlyFolder || kind == fault::readOnlyFile || kind == fault::writableAsNobody;
    if (asNobody && !canChangeUser())
        QSKIP("needs root, to save as the user nobody");
    QTemporaryDir dir;
    smallDisk disk;
    if (kind == fault::readOnlyFileSystem && !disk.m_mounted)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: ") + disk.m_error));
    const QString folder = kind == fault::readOnlyFileSystem ? disk.m_dir.path() : dir.path();
    // nobody has to reach the folder to be refused by it.
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));

    const QString path = saveRecords::filePath(file, folder);
    QVERIFY(saveRecords::save(file, 'a', folder, padding));
    const QByteArray before = contents(path);
    QCOMPARE(before, saveRecords::documentOf(file, 'a', padding));
    const QByteArray after = saveRecords::documentOf(file, 'b', padding);

    const auto saveB = [&] { return saveRecords::save(file, 'b', folder, padding) ? 0 : 1; };
    int code = 0;
    if (asNobody) {
        QVERIFY(giveTo(QFileInfo(path).absolutePath(), kind != fault::readOnlyFolder));
        QVERIFY(giveTo(path, kind != fault::readOnlyFile));
        code = runAs("nobody", saveB);
        QVERIFY2(code != kChildNoSuchUser, "this system has no user nobody");
    } else if (kind == fault::sizeLimit) {
        code = runWithFileSizeLimit(limit < 0 ? before.size() : limit, saveB);
    } else {
        QVERIFY(disk.remount(true));
        code = saveB();
    }
    QVERIFY2(code == 0 || code == 1, qPrintable(QStringLiteral("the saving child ended with %1").arg(code)));
    if (refused) {
        // Only config_com.xml's writer reports; the other two are silent by design.
        if (file == target::com)
            QCOMPARE(code, 1);
        if (limit < 0) {
            const QByteArray found = contents(path);
            QVERIFY2(saveRecords::validDocuments(file, padding).contains(found) && found != after,
                     qPrintable(QStringLiteral("%1 bytes, not a whole older document").arg(found.size())));
        } else {
            QCOMPARE(contents(path), before);
        }
    } else {
        QCOMPARE(code, 0);
        QCOMPARE(contents(path), after);
    }
    QCOMPARE(leftovers(path), QStringList());

    // Writable again: nothing the refused save left stands in the way.
    if (kind == fault::readOnlyFileSystem)
        QVERIFY(disk.remount(false));
    QVERIFY(giveTo(QFileInfo(path).absolutePath(), false) || !asNobody);
    QVERIFY(saveRecords::save(file, refused ? 'b' : 'a', folder, padding));
    QCOMPARE(contents(path), refused ? after : before);
    QCOMPARE(leftovers(path), QStringList());
}

QR_TEST_GUILESS_MAIN(tst_refusedWrite)
#include "tst_refusedwrite.moc"
