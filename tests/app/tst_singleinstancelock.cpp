// The lock-file guard behind the single-instance check: who may take the
// lock, which leftovers are taken over, and where the lock lives.
#include "singleinstance.h"
#include "singleinstance_lockfile.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// What a genuine QLockFile of this process writes, with its pid replaced.
QByteArray lockContentFor(qint64 pid, const QString& scratch)
{
    const QString templatePath = scratch + QStringLiteral("/template.lock");
    QByteArray content;
    {
        QLockFile genuine(templatePath);
        if (!genuine.tryLock(0))
            return QByteArray();
        QFile file(templatePath);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        content = file.readAll();
    }
    const int firstNewline = content.indexOf('\n');
    return QByteArray::number(pid) + content.mid(firstNewline);
}

bool writeLeftover(const QString& path, const QByteArray& content, qint64 ageSeconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(content);
    file.flush();
    return file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                            QFileDevice::FileModificationTime);
}

qint64 deadPid()
{
    QProcess child;
    child.start(QStringLiteral("true"), QStringList());
    if (!child.waitForStarted())
        return -1;
    const qint64 pid = child.processId();
    child.waitForFinished();
    return pid;
}

} // namespace

class tst_singleInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void secondTakerIsRefusedWhileTheFirstHolds();
    void releasedLockCanBeTakenAgain();
    void lockOfADeadProcessIsTakenOver();
    void liveHolderIsNeverStaleHoweverOld();
    void lockNamingNoProcess_data();
    void lockNamingNoProcess();
    void firstUsableDirectory_data();
    void firstUsableDirectory();
    void lockLivesInTheRuntimeFolder();
    void acquireUsesTheRuntimeFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_lockPath;
};

void tst_singleInstanceLock::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_lockPath = m_dir->filePath(QStringLiteral("QR-7215_UTILITY.lock"));
}

void tst_singleInstanceLock::secondTakerIsRefusedWhileTheFirstHolds()
{
    auto first = platform::takeInstanceLock(m_lockPath);
    QVERIFY(first);
    QVERIFY(QFile::exists(m_lockPath));
    QVERIFY(!platform::takeInstanceLock(m_lockPath));
    // The refused attempt must not have disturbed the holder's file.
    QVERIFY(QFile::exists(m_lockPath));
    QVERIFY(first->isLocked());
}

void tst_singleInstanceLock::releasedLockCanBeTakenAgain()
{
    auto first = platform::takeInstanceLock(m_lockPath);
    QVERIFY(first);
    first.reset();
    QVERIFY(!QFile::exists(m_lockPath));
    QVERIFY(platform::takeInstanceLock(m_lockPath));
}

void tst_singleInstanceLock::lockOfADeadProcessIsTakenOver()
{
    const qint64 pid = deadPid();
    QVERIFY(pid > 0);
    const QByteArray content = lockContentFor(pid, m_dir->path());
    QVERIFY(!content.isEmpty());
    // A crash a moment ago: the file is young, only its holder is gone.
    QVERIFY(writeLeftover(m_lockPath, content, 0));

    auto lock = platform::takeInstanceLock(m_lockPath);
    QVERIFY(lock);
    QFile file(m_lockPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine().trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
}

void tst_singleInstanceLock::liveHolderIsNeverStaleHoweverOld()
{
    // This live process named as holder, the file an hour old and no native
    // lock on it: only the pid check can keep it, age must not release it.
    const QByteArray content = lockContentFor(QCoreApplication::applicationPid(), m_dir->path());
    QVERIFY(!content.isEmpty());
    QVERIFY(writeLeftover(m_lockPath, content, 3600));

    QVERIFY(!platform::takeInstanceLock(m_lockPath));
    QVERIFY(QFile::exists(m_lockPath));

    // The same file under QLockFile's default 30 s stale time is taken: the
    // age above is real and the guard's setting is what protects the holder.
    QLockFile defaultAged(m_lockPath);
    QVERIFY(defaultAged.staleLockTime() <= 30000);
    QVERIFY(defaultAged.tryLock(0));
}

void tst_singleInstanceLock::lockNamingNoProcess_data()
{
    QTest::addColumn<qint64>("ageSeconds");
    QTest::addColumn<bool>("takenOver");
    QTest::newRow("just made, holder still writing") << qint64(0) << false;
    QTest::newRow("a minute old, left by a crash") << qint64(60) << true;
}

void tst_singleInstanceLock::lockNamingNoProcess()
{
    QFETCH(qint64, ageSeconds);
    QFETCH(bool, takenOver);
    QVERIFY(writeLeftover(m_lockPath, QByteArray(), ageSeconds));
    QCOMPARE(bool(platform::takeInstanceLock(m_lockPath)), takenOver);
}

void tst_singleInstanceLock::firstUsableDirectory_data()
{
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<int>("expected"); // index into candidates, -1 for none

    QTest::newRow("runtime folder usable") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << 0;
    QTest::newRow("runtime folder unknown") << QStringList{QString(), QStringLiteral("b")} << 1;
    QTest::newRow("runtime path is a file") << QStringList{QStringLiteral("file"), QStringLiteral("b")} << 1;
    QTest::newRow("runtime folder read-only") << QStringList{QStringLiteral("ro"), QStringLiteral("b")} << 1;
    QTest::newRow("missing folder is made") << QStringList{QStringLiteral("new/sub")} << 0;
    QTest::newRow("nothing usable") << QStringList{QString(), QStringLiteral("file")} << -1;
}

void tst_singleInstanceLock::firstUsableDirectory()
{
    QFETCH(QStringList, candidates);
    QFETCH(int, expected);

    QDir root(m_dir->path());
    QVERIFY(root.mkpath(QStringLiteral("a")) && root.mkpath(QStringLiteral("b")) && root.mkpath(QStringLiteral("ro")));
    QVERIFY(writeLeftover(root.filePath(QStringLiteral("file")), "x", 0));
    QVERIFY(QFile::setPermissions(root.filePath(QStringLiteral("ro")), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (QFileInfo(root.filePath(QStringLiteral("ro"))).isWritable() && candidates.contains(QStringLiteral("ro")))
        QSKIP("running with rights that ignore folder permissions");

    QStringList paths;
    for (const QString& c : candidates)
        paths << (c.isEmpty() ? QString() : root.filePath(c));
    const QString chosen = platform::firstUsableDirectory(paths);
    QCOMPARE(chosen, expected < 0 ? QString() : QFileInfo(paths[expected]).absoluteFilePath());
    if (expected >= 0)
        QVERIFY(QFileInfo(chosen).isDir());
    QFile::setPermissions(root.filePath(QStringLiteral("ro")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void tst_singleInstanceLock::lockLivesInTheRuntimeFolder()
{
    // testsupport gave this process a private runtime folder. (Qt itself
    // replaces an unusable one by /tmp/runtime-<user>; the folders after it
    // are covered by firstUsableDirectory.)
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    QVERIFY(!runtime.isEmpty());
    QCOMPARE(platform::instanceLockDirectory(), QFileInfo(runtime).absoluteFilePath());
}

void tst_singleInstanceLock::acquireUsesTheRuntimeFolder()
{
    const QString lockPath = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")) + QStringLiteral("/QR-7215_UTILITY.lock");
    QVERIFY(!QFile::exists(lockPath));
    QVERIFY(platform::acquireSingleInstance("QR-7215_UTILITY"));
    QVERIFY(QFile::exists(lockPath));
    // Another taker, as a second process would be, is refused.
    QVERIFY(!platform::takeInstanceLock(lockPath));
}

QR_TEST_GUILESS_MAIN(tst_singleInstanceLock)
#include "tst_singleinstancelock.moc"
