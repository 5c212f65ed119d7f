#include "settingsstore.h"

#include "savefailurelog.h"
#include "settingslocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>

#include <algorithm>

namespace {

const QString kBatPath = QStringLiteral("batPath");
const QString kPolicy = QStringLiteral("batExecutePolicy");
const QString kDelay = QStringLiteral("batDelay");
const QString kLowLevel = QStringLiteral("batLowLevel");
const QString kLowRuntime = QStringLiteral("batLowRuntime");
const QString kOnRestore = QStringLiteral("batOnRestore");
const QString kNotify = QStringLiteral("notify");
const QString kNutFeed = QStringLiteral("nutFeed");
const QString kNutFile = QStringLiteral("nutFile");

bool storeIsFile()
{
    return platform::settingsStoreFormat() == QSettings::IniFormat;
}

// QSettings locks its file while it writes, and a lock it finds empty counts
// as held until it is 30 s old. A writer killed between creating the lock and
// filling it in (a crash, a power cut) leaves such an empty lock, and the next
// write would block the GUI for up to 30 s. Taking over a stale lock takes a
// lock of its own (".lock.rmlock"), which can be left behind the same way,
// and so on. Writes take milliseconds and only one instance runs, so every
// lock older than a second is taken over at once, the innermost first.
constexpr int kStaleLockMs = 1000;

void takeOverStaleLocks(const QString& path)
{
    const QFileInfo info(path);
    const QString lockName = info.fileName() + QStringLiteral(".lock");
    QStringList locks = info.dir().entryList({lockName + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    std::sort(locks.begin(), locks.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& name : qAsConst(locks)) {
        QStringRef rest = name.midRef(lockName.size());
        while (rest.startsWith(QLatin1String(".rmlock")))
            rest = rest.mid(7);
        if (!rest.isEmpty())
            continue;
        QLockFile lock(info.dir().filePath(name));
        lock.setStaleLockTime(kStaleLockMs);
        if (lock.tryLock(3 * kStaleLockMs))
            lock.unlock();
    }
}

// Qt 5's QSettings puts its new file in place even when the disk took only
// part of it (a short write, or a failed flush, goes unnoticed), so a full
// disk can leave the store empty or cut off in the middle of a value. What it
// wrote is checked: every key of the main section on a line of its own and a
// final newline. Values never span lines, since QSettings escapes line breaks.
bool looksWhole(const QByteArray& bytes, const QStringList& keys)
{
    if (!bytes.endsWith('\n'))
        return false;
    const QByteArray text = '\n' + bytes;
    for (const QString& key : keys) {
        if (!text.contains('\n' + key.toUtf8() + '='))
            return false;
    }
    return true;
}

QByteArray readFile(const QString& path, bool& exists)
{
    QFile file(path);
    exists = file.open(QIODevice::ReadOnly);
    return exists ? file.readAll() : QByteArray();
}

// Puts the previous store back after a write the disk cut short.
void restore(const QString& path, const QByteArray& previous, bool existed)
{
    if (!existed) {
        QFile::remove(path);
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    if (file.write(previous) != previous.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

void writeValue(const QString& key, const QVariant& value)
{
    const QString path = platform::settingsStorePath();
    if (!storeIsFile()) {
        QSettings store(path, platform::settingsStoreFormat());
        store.setValue(key, value);
        store.sync();
        saveFailureLog::saved(path, store.status() == QSettings::NoError, QStringLiteral("access denied"));
        return;
    }

    takeOverStaleLocks(path);
    bool existed = false;
    const QByteArray previous = readFile(path, existed);
    QStringList keys;
    QSettings::Status status = QSettings::NoError;
    {
        QSettings store(path, platform::settingsStoreFormat());
        store.setValue(key, value);
        keys = store.childKeys();
        store.sync();
        status = store.status();
    }
    bool exists = false;
    const QByteArray written = readFile(path, exists);
    // A write QSettings refused (it says so) left the file as it was; one
    // the disk cut short is undone.
    const bool cutShort = written != previous && !looksWhole(written, keys);
    if (status == QSettings::NoError && !cutShort) {
        saveFailureLog::saved(path, true);
        return;
    }
    if (cutShort)
        restore(path, previous, existed);
    const QFileInfo folder(QFileInfo(path).absolutePath());
    saveFailureLog::saved(path, false,
                          cutShort ? QStringLiteral("the disk took only part of it")
                          : folder.exists() && !folder.isWritable() ? QStringLiteral("the folder is read-only")
                                                                      : QStringLiteral("it cannot be written"));
}

QVariant readValue(const QString& key, const QVariant& absent)
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    return store.value(key, absent);
}

// A value edited by hand outside its range is taken at the nearest end, and
// text that is no number as absent.
int readBounded(const QString& key, int highest)
{
    bool ok = false;
    const int value = readValue(key, 0).toInt(&ok);
    return ok ? qBound(0, value, highest) : 0;
}

} // namespace

namespace settingsStore {

QString batPath()
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    return store.value(kBatPath, QVariant()).toString();
}

quint32 batExecutePolicy()
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    return store.value(kPolicy, QVariant()).toUInt();
}

void setBatPath(const QString& path)
{
    writeValue(kBatPath, path);
}

void setBatExecutePolicy(quint32 policy)
{
    writeValue(kPolicy, QVariant::fromValue<uint>(policy));
}


int batDelay()
{
    return readBounded(kDelay, kMaxBatDelay);
}

int batLowLevel()
{
    return readBounded(kLowLevel, 100);
}

int batLowRuntime()
{
    return readBounded(kLowRuntime, 65535);
}

bool batOnRestore()
{
    return readValue(kOnRestore, false).toBool();
}

bool notify()
{
    return readValue(kNotify, true).toBool();
}

void setBatDelay(int seconds)
{
    writeValue(kDelay, qBound(0, seconds, kMaxBatDelay));
}

void setBatLowLevel(int percent)
{
    writeValue(kLowLevel, qBound(0, percent, 100));
}

void setBatLowRuntime(int minutes)
{
    writeValue(kLowRuntime, qBound(0, minutes, 65535));
}

void setBatOnRestore(bool on)
{
    writeValue(kOnRestore, on);
}

void setNotify(bool on)
{
    writeValue(kNotify, on);
}

bool nutFeed()
{
    return readValue(kNutFeed, false).toBool();
}

QString nutFilePath()
{
    return readValue(kNutFile, QString()).toString();
}

void setNutFeed(bool on)
{
    writeValue(kNutFeed, on);
}

void setNutFilePath(const QString& path)
{
    writeValue(kNutFile, path);
}

} // namespace settingsStore
