// Locks left beside the settings store by writers killed inside QSettings'
// locking (a crash, a power cut): QSettings alone takes an empty lock for
// live until it is 30 s old, and would hold up the next save that long.
#include "saverecords.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

using saveRecords::target;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_settingsStoreLocks : public QObject
{
    Q_OBJECT

private slots:
    void leftLocksDoNotBlockSettings_data();
    void leftLocksDoNotBlockSettings();
};

void tst_settingsStoreLocks::leftLocksDoNotBlockSettings_data()
{
    // Lock files beside the store by suffix; "dead" ones name a writer that
    // is gone, the others are empty (killed before they were filled in).
    QTest::addColumn<QStringList>("locks");

    QTest::newRow("empty lock") << QStringList{".lock"};
    QTest::newRow("lock of a writer that is gone") << QStringList{".lock=dead"};
    QTest::newRow("empty lock and empty lock of the lock") << QStringList{".lock", ".lock.rmlock"};
    QTest::newRow("lock of a writer that is gone, empty lock of the lock")
        << QStringList{".lock=dead", ".lock.rmlock"};
    // Repeated kills while stale locks were being taken over.
    QTest::newRow("chain of four")
        << QStringList{".lock", ".lock.rmlock=dead", ".lock.rmlock.rmlock=dead", ".lock.rmlock.rmlock.rmlock"};
}

// What writers killed inside QSettings' locking leave behind, made fresh:
// the next save must go through, not wait for the locks to grow old.
void tst_settingsStoreLocks::leftLocksDoNotBlockSettings()
{
    QFETCH(QStringList, locks);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = saveRecords::filePath(target::settings, dir.path());
    QVERIFY(saveRecords::save(target::settings, 'a', dir.path(), 0));
    const QByteArray deadWriter = "2147483646\nqr7215-saveloop\n" + QSysInfo::machineHostName().toUtf8() + "\n";
    for (const QString& lock : locks) {
        const QStringList parts = lock.split(QLatin1Char('='));
        QFile file(path + parts.at(0));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (parts.value(1) == QLatin1String("dead"))
            QCOMPARE(file.write(deadWriter), qint64(deadWriter.size()));
    }

    QProcess next;
    next.start(QStringLiteral(SAVELOOP_PATH), {QStringLiteral("settings"), QStringLiteral("b"), dir.path(), QStringLiteral("0")});
    // QSettings alone would wait until each empty lock is 30 s old.
    QVERIFY2(next.waitForFinished(15000), "the save is still waiting for a lock nobody holds");
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(contents(path), saveRecords::documentOf(target::settings, 'b', 0));
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
}

QR_TEST_GUILESS_MAIN(tst_settingsStoreLocks)
#include "tst_settingsstorelocks.moc"
