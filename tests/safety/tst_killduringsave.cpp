// Power cut during a save: a helper saves one of the program's files over and
// over through the program's own code and is killed with SIGKILL at a random
// moment, many times. After every kill the file must be one of the complete
// documents the saves write, byte for byte: never empty, cut short or mixed.
// Temporary files of interrupted saves may stay behind; they must carry the
// temporary name, never the file's own.
//
// QR7215_KILLS sets the number of kills per file (default 100),
// QR7215_KILL_SEED the random seed (printed, so a failing run can be repeated).
#include "comsettings.h"
#include "comsettingsfile.h"
#include "saverecords.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <csignal>
#include <unistd.h>

using saveRecords::target;

Q_DECLARE_METATYPE(saveRecords::target)

namespace {

// Stretches every record to a few pages, so a save takes several writes and
// a kill can land between them.
constexpr int kPadding = 24000;

int envNumber(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The state letter of /proc/PID/stat: T once SIGSTOP has taken hold.
bool waitUntilStopped(qint64 pid)
{
    const QString statPath = QStringLiteral("/proc/%1/stat").arg(pid);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        QFile stat(statPath);
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close > 0 && line.size() > close + 2 && line.at(close + 2) == 'T')
            return true;
        std::this_thread::yield();
    }
    return false;
}

// True when the process has a file in folder open: the file itself, its
// lock, or the unnamed temporary file ("#123 (deleted)") a save writes into.
bool holdsFileIn(qint64 pid, const QString& folder)
{
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& fd : fds) {
        char target[4096];
        const QByteArray link = QFile::encodeName(fdDir + QLatin1Char('/') + fd);
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0 && QByteArray(target, int(length)).startsWith(prefix))
            return true;
    }
    return false;
}

// One running helper in loop mode and the marks it has made.
class saver
{
public:
    saver(target t, const QString& configDir)
    {
        m_process.setProgram(QStringLiteral(SAVELOOP_PATH));
        m_process.setArguments({saveRecords::targetName(t), QStringLiteral("loop"), configDir,
                                QString::number(kPadding)});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    ~saver()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Until the helper has begun saving; false when it never does.
    bool waitUntilSaving()
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_output.contains('R')) {
            if (timer.elapsed() > 10000 || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        return true;
    }

    // Until n saves are complete; false when that takes more than 10 s.
    bool waitForSaves(int n)
    {
        QElapsedTimer timer;
        timer.start();
        while (saves() < n) {
            if (timer.elapsed() > 10000 || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        return true;
    }

    // Freezes the helper where it stands, notes whether it holds a file of
    // folder open (then the kill cuts a save short), and kills it with
    // SIGKILL, as a power cut leaves no time for anything either. False when
    // the helper had already ended by itself.
    bool kill(const QString& folder, bool& cutSaveShort)
    {
        const qint64 pid = m_process.processId();
        if (m_process.state() != QProcess::Running || pid <= 0)
            return false;
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
        const bool frozen = waitUntilStopped(pid);
        cutSaveShort = frozen && holdsFileIn(pid, folder);
        m_process.kill();
        m_process.waitForFinished(5000);
        m_output += m_process.readAllStandardOutput();
        return frozen && m_process.exitStatus() == QProcess::CrashExit;
    }

    int saves() const { return m_output.count('.'); }

private:
    QProcess m_process;
    QByteArray m_output;
};

struct folderState {
    QStringList temps;      // temporary files of interrupted saves
    QStringList strangers;  // anything else that is not the file (or its lock)
};

folderState inspect(const QString& filePath)
{
    const QFileInfo info(filePath);
    const QString name = info.fileName();
    folderState state;
    const QStringList entries = info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry == name)
            continue;
        // QSettings locks its file while it syncs (and locks the lock while it
        // takes over a stale one); a killed writer leaves them behind.
        static const QRegularExpression lockName(QStringLiteral("^\\.lock(\\.rmlock)*$"));
        if (entry.startsWith(name) && lockName.match(entry.mid(name.size())).hasMatch())
            continue;
        if (saveRecords::isSaveTempName(entry, name))
            state.temps << entry;
        else
            state.strangers << entry;
    }
    return state;
}

QString describe(const QByteArray& found, const QList<QByteArray>& valid)
{
    if (found.isEmpty())
        return QStringLiteral("the file is empty or missing");
    QStringList sizes;
    for (const QByteArray& doc : valid)
        sizes << QString::number(doc.size());
    return QStringLiteral("%1 bytes, matching none of the complete documents (%2 bytes)")
        .arg(found.size())
        .arg(sizes.join(QStringLiteral(", ")));
}

} // namespace

class tst_killDuringSave : public QObject
{
    Q_OBJECT

private slots:
    void helperWorks_data();
    void helperWorks();
    void killedSaveLeavesCompleteFile_data();
    void killedSaveLeavesCompleteFile();

private:
    void addTargets();
};

void tst_killDuringSave::addTargets()
{
    QTest::addColumn<target>("file");
    QTest::newRow("config_com.xml") << target::com;
    QTest::newRow("settings store") << target::settings;
    QTest::newRow("autostart entry") << target::autostart;
}

void tst_killDuringSave::helperWorks_data()
{
    addTargets();
}

// The judge below is only as good as its documents: they must differ, and a
// helper left alone must write exactly them.
void tst_killDuringSave::helperWorks()
{
    QFETCH(target, file);
    const QList<QByteArray> valid = saveRecords::validDocuments(file, kPadding);
    for (int i = 0; i < valid.size(); ++i) {
        QVERIFY(valid.at(i).size() > kPadding);
        for (int j = i + 1; j < valid.size(); ++j)
            QVERIFY(valid.at(i) != valid.at(j));
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess helper;
    helper.start(QStringLiteral(SAVELOOP_PATH),
                 {saveRecords::targetName(file), QStringLiteral("b"), dir.path(), QString::number(kPadding)});
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(contents(saveRecords::filePath(file, dir.path())), saveRecords::documentOf(file, 'b', kPadding));
    QVERIFY(inspect(saveRecords::filePath(file, dir.path())).temps.isEmpty());
}

void tst_killDuringSave::killedSaveLeavesCompleteFile_data()
{
    addTargets();
}

void tst_killDuringSave::killedSaveLeavesCompleteFile()
{
    QFETCH(target, file);
    const int kills = envNumber("QR7215_KILLS", 100);
    const quint32 seed = static_cast<quint32>(envNumber("QR7215_KILL_SEED", int(QRandomGenerator::global()->bounded(1, 1 << 30))));
    QRandomGenerator random(seed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = saveRecords::filePath(file, dir.path());
    const QList<QByteArray> valid = saveRecords::validDocuments(file, kPadding);
    QVERIFY(saveRecords::save(file, 'a', dir.path(), kPadding));
    QCOMPARE(contents(path), valid.first());

    // How long one save takes here, measured: a kill lands at a random point
    // within one save, after a counted number of complete saves, so neither
    // a fast nor a slow machine can leave every kill before the first save
    // or between two saves.
    qint64 saveMicroseconds = 0;
    {
        saver calibration(file, dir.path());
        QVERIFY(calibration.waitUntilSaving());
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(calibration.waitForSaves(10), "the helper does not save");
        saveMicroseconds = qMax<qint64>(timer.nsecsElapsed() / 10000, 1);
    }

    const QString folder = QFileInfo(path).absolutePath();
    int interrupted = 0;
    int saves = 0;
    // Until the planned kills are done and one of them cut a save short,
    // counting attempts, never time.
    int k = 0;
    for (; k < kills || (interrupted == 0 && k < 20 * kills); ++k) {
        saver helper(file, dir.path());
        QVERIFY2(helper.waitUntilSaving(), qPrintable(QStringLiteral("kill %1: the helper did not start").arg(k)));
        QVERIFY2(helper.waitForSaves(k % 3), qPrintable(QStringLiteral("kill %1: the helper stopped saving").arg(k)));
        // The moment of the cut inside the save is chosen at random.
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(int(saveMicroseconds) + 1)));
        bool cutSaveShort = false;
        QVERIFY2(helper.kill(folder, cutSaveShort), qPrintable(QStringLiteral("kill %1: the helper ended by itself").arg(k)));
        if (cutSaveShort)
            ++interrupted;
        saves += helper.saves();

        const QByteArray found = contents(path);
        QVERIFY2(valid.contains(found),
                 qPrintable(QStringLiteral("kill %1 (seed %2): %3").arg(k).arg(seed).arg(describe(found, valid))));
        const folderState state = inspect(path);
        QVERIFY2(state.strangers.isEmpty(), qPrintable(state.strangers.join(QLatin1Char(' '))));
    }
    const int temps = inspect(path).temps.size();

    qInfo("%s: %d kills (seed %u, one save %lld us), 0 damaged files, %d saves completed, "
          "%d saves cut off mid-way, %d temporary files left",
          qPrintable(saveRecords::targetName(file)), k, seed, saveMicroseconds, saves, interrupted, temps);
    // Otherwise the kills never met a save at work and proved nothing.
    QVERIFY2(interrupted > 0, "no kill landed inside a save");
    // Two kills in three came after at least one complete save.
    QVERIFY(saves > 0);

    // Whatever the kills left (temporary files, a stale lock) does not stand
    // in the way of the next save, nor of reading the file.
    QProcess last;
    last.start(QStringLiteral(SAVELOOP_PATH),
               {saveRecords::targetName(file), QStringLiteral("b"), dir.path(), QString::number(kPadding)});
    QVERIFY(last.waitForFinished(10000));
    QCOMPARE(last.exitCode(), 0);
    QCOMPARE(contents(path), saveRecords::documentOf(file, 'b', kPadding));
    if (file == target::com) {
        comSettings read;
        QVERIFY(comSettingsFile::read(path, read));
        QCOMPARE(read.slaveId, quint16(247));
        QVERIFY(read.comPort.startsWith(QStringLiteral("/dev/ttyUSB-B-")));
    }
}

QR_TEST_GUILESS_MAIN(tst_killDuringSave)
#include "tst_killduringsave.moc"
