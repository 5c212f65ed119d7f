// The real program started twice in one session: the second start leaves at
// once with exit code 0, asking the first to show itself; after the first was
// killed, a new start runs.
#include "instancechannel.h"
#include "instancechannelname.h"
#include "testenv.h"

#include <QLockFile>
#include <QSignalSpy>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

class tst_singleInstanceProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void secondStartLeavesAtOnce();
    void startAfterAKilledInstanceRuns();
    void secondStartAsksTheFirstToShow();

private:
    std::unique_ptr<QProcess> start();
    qint64 lockHolderPid() const;

    QTemporaryDir m_session;
    QString m_runtimeDir;
    QString m_lockPath;
    QProcessEnvironment m_env;
    QString m_configsDir;
    bool m_configsDirExisted = false;
    std::unique_ptr<QProcess> m_first;
};

void tst_singleInstanceProcess::initTestCase()
{
    QVERIFY(QFileInfo(QStringLiteral(QR7215_UTILITY_PATH)).isExecutable());
    QVERIFY(m_session.isValid());
    m_runtimeDir = m_session.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(m_runtimeDir));
    QVERIFY(QFile::setPermissions(m_runtimeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QVERIFY(QDir().mkpath(m_session.filePath(QStringLiteral("config"))));
    m_lockPath = m_runtimeDir + QStringLiteral("/QR-7215_UTILITY.lock");

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_session.filePath(QStringLiteral("config")));

    // The program keeps its connection settings beside itself; whatever these
    // runs add there is removed again afterwards.
    m_configsDir = QFileInfo(QStringLiteral(QR7215_UTILITY_PATH)).absolutePath() + QStringLiteral("/configs");
    m_configsDirExisted = QFileInfo::exists(m_configsDir);
}

void tst_singleInstanceProcess::cleanupTestCase()
{
    for (QProcess* p : {m_first.get()}) {
        if (p && p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished();
        }
    }
    if (!m_configsDirExisted)
        QDir(m_configsDir).removeRecursively();
}

std::unique_ptr<QProcess> tst_singleInstanceProcess::start()
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(m_env);
    process->setWorkingDirectory(m_session.path());
    process->start(QStringLiteral(QR7215_UTILITY_PATH), QStringList());
    return process;
}

qint64 tst_singleInstanceProcess::lockHolderPid() const
{
    QFile lock(m_lockPath);
    if (!lock.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 pid = lock.readLine().trimmed().toLongLong(&ok);
    return ok ? pid : -1;
}

void tst_singleInstanceProcess::secondStartLeavesAtOnce()
{
    m_first = start();
    QVERIFY(m_first->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(lockHolderPid(), m_first->processId(), 15000);

    auto second = start();
    QVERIFY(second->waitForStarted());
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    QCOMPARE(second->readAllStandardError(), QByteArray());

    QCOMPARE(m_first->state(), QProcess::Running);
    QCOMPARE(lockHolderPid(), m_first->processId());
}

void tst_singleInstanceProcess::startAfterAKilledInstanceRuns()
{
    QVERIFY(m_first && m_first->state() == QProcess::Running);
    m_first->kill();
    QVERIFY(m_first->waitForFinished());
    QCOMPARE(m_first->exitStatus(), QProcess::CrashExit);
    // SIGKILL left its lock behind.
    QVERIFY(QFile::exists(m_lockPath));

    auto next = start();
    QVERIFY(next->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(lockHolderPid(), next->processId(), 15000);
    QCOMPARE(next->state(), QProcess::Running);

    // And it is the one instance now.
    auto another = start();
    QVERIFY(another->waitForFinished(15000));
    QCOMPARE(another->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);

    next->terminate();
    QVERIFY(next->waitForFinished());
}

void tst_singleInstanceProcess::secondStartAsksTheFirstToShow()
{
    // This test stands in for the running instance: it holds the lock and
    // listens where the program's first instance would.
    QLockFile lock(m_lockPath);
    QVERIFY(lock.tryLock(0));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir));
    instanceChannel first;
    QVERIFY(first.listen(platform::instanceChannelName("QR-7215_UTILITY")));
    QSignalSpy asked(&first, &instanceChannel::signalShowRequested);

    auto second = start();
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitCode(), 0);
    QTRY_COMPARE(asked.count(), 1);
}

QR_TEST_GUILESS_MAIN(tst_singleInstanceProcess)
#include "tst_singleinstanceprocess.moc"
