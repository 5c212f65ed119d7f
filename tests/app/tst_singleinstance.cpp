// One instance per session, with the real program: what a start does with each
// kind of lock it finds (leave with 0 and ask the holder to show, or take a
// dead holder's lock over), and where the lock goes when a folder is unusable.
#include "instancechannel.h"
#include "instancechannelname.h"
#include "singleinstance_lockfile.h"
#include "testenv.h"

#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace {

const char kName[] = "QR-7215_UTILITY";

bool writeFile(const QString& path, const QByteArray& content, qint64 ageSeconds)
{
    QFile file(path);
    return testsupport::putFile(path, content) && file.open(QIODevice::Append)
           && file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}

} // namespace

class tst_singleInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QFile::remove(m_lockPath); }
    void cleanupTestCase();
    void start_data();
    void start();
    void lockFolder_data();
    void lockFolder();

private:
    // In this test's private runtime folder, which the program inherits.
    std::unique_ptr<QProcess> startProgram()
    {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral(QR7215_UTILITY_PATH), QStringList());
        return process;
    }
    qint64 lockHolderPid() const { return testsupport::fileBytes(m_lockPath).split('\n').first().toLongLong(); }

    QString m_lockPath;
    QString m_configsDir;
    bool m_configsDirExisted = false;
};

void tst_singleInstance::initTestCase()
{
    QVERIFY(QFileInfo(QStringLiteral(QR7215_UTILITY_PATH)).isExecutable());
    m_lockPath = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/QR-7215_UTILITY.lock");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program keeps its connection settings beside itself; whatever these
    // runs add there is removed again afterwards.
    m_configsDir = QFileInfo(QStringLiteral(QR7215_UTILITY_PATH)).absolutePath() + QStringLiteral("/configs");
    m_configsDirExisted = QFileInfo::exists(m_configsDir);
}

void tst_singleInstance::cleanupTestCase()
{
    if (!m_configsDirExisted)
        QDir(m_configsDir).removeRecursively();
}

void tst_singleInstance::start_data()
{
    QTest::addColumn<QString>("found");   // the lock the start finds
    QTest::addColumn<bool>("runs");       // false: it leaves at once with 0
    QTest::newRow("a running instance's: leaves and asks it to show") << "held" << false;
    QTest::newRow("a killed instance's: taken over") << "killed" << true;
    QTest::newRow("a live process's, an hour old and not locked: kept") << "live, old" << false;
    QTest::newRow("naming no process, an hour old: taken over") << "empty, old" << true;
    // The holder writes its pid right after making the file.
    QTest::newRow("naming no process, just made: kept") << "empty, new" << false;
}

void tst_singleInstance::start()
{
    QFETCH(QString, found);
    QFETCH(bool, runs);

    QLockFile standIn(m_lockPath);
    instanceChannel channel;
    QSignalSpy asked(&channel, &instanceChannel::signalShowRequested);
    if (found == QLatin1String("held")) {
        QVERIFY(standIn.tryLock(0));
        QVERIFY(channel.listen(platform::instanceChannelName(kName)));
    } else if (found == QLatin1String("killed")) {
        auto first = startProgram();
        QVERIFY(first->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockHolderPid(), first->processId(), 15000);
        first->kill();
        QVERIFY(first->waitForFinished());
        QVERIFY(QFile::exists(m_lockPath));
    } else if (found == QLatin1String("live, old")) {
        // This live process's own lock, without the native lock on it.
        QVERIFY(standIn.tryLock(0));
        const QByteArray genuine = testsupport::fileBytes(m_lockPath);
        standIn.unlock();
        QVERIFY(writeFile(m_lockPath, genuine, 3600));
    } else {
        QVERIFY(writeFile(m_lockPath, QByteArray(), found.endsWith(QLatin1String("old")) ? 3600 : 0));
    }
    const QByteArray before = testsupport::fileBytes(m_lockPath);

    auto program = startProgram();
    QVERIFY(program->waitForStarted());
    if (!runs) {
        QVERIFY(program->waitForFinished(15000));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
        QCOMPARE(testsupport::fileBytes(m_lockPath), before);
        QTRY_COMPARE(asked.count(), found == QLatin1String("held") ? 1 : 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(lockHolderPid(), program->processId(), 15000);
    // It is the one instance now.
    auto another = startProgram();
    QVERIFY(another->waitForFinished(15000));
    QCOMPARE(another->exitCode(), 0);
    QCOMPARE(program->state(), QProcess::Running);
    program->terminate();
    QVERIFY(program->waitForFinished(15000));
    QCOMPARE(program->exitCode(), 0);
    QVERIFY(!QFile::exists(m_lockPath));   // the next start finds none
}

void tst_singleInstance::lockFolder_data()
{
    QTest::addColumn<QStringList>("candidates");   // "ro": a read-only folder
    QTest::addColumn<int>("chosen");               // index into candidates, -1 for none
    QTest::newRow("runtime folder unknown") << QStringList{"", "b"} << 1;
    QTest::newRow("runtime path is a file") << QStringList{"file", "b"} << 1;
    QTest::newRow("runtime folder read-only") << QStringList{"ro", "b"} << 1;
    QTest::newRow("missing folder is made") << QStringList{"new/sub"} << 0;
    QTest::newRow("nothing usable") << QStringList{"", "file"} << -1;
}

void tst_singleInstance::lockFolder()
{
    QFETCH(QStringList, candidates);
    QFETCH(int, chosen);
    QTemporaryDir scratch;
    QDir root(scratch.path());
    QVERIFY(root.mkpath("b") && root.mkpath("ro") && writeFile(root.filePath("file"), "x", 0));
    QVERIFY(QFile::setPermissions(root.filePath("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (candidates.contains("ro") && QFileInfo(root.filePath("ro")).isWritable())
        QSKIP("running with rights that ignore folder permissions");
    QStringList paths;
    for (const QString& c : candidates)
        paths << (c.isEmpty() ? QString() : root.filePath(c));
    const QString result = platform::firstUsableDirectory(paths);
    QCOMPARE(result, chosen < 0 ? QString() : QFileInfo(paths[chosen]).absoluteFilePath());
    QVERIFY(chosen < 0 || QFileInfo(result).isDir());
}

QR_TEST_GUILESS_MAIN(tst_singleInstance)
#include "tst_singleinstance.moc"
