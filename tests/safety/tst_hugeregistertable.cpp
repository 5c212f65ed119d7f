// A register table far larger than any module has: a 50 MB
// config_registers.xml with 100 000 items. The model must read it all (no
// hang, every row) and a refresh must still fill only the rows the block
// read covers. Load time and peak memory are printed, never asserted.
#include "comadapter.h"
#include "comsettings.h"
#include "dataobject.h"
#include "fakesdk.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <malloc.h>
#include <sys/resource.h>

namespace {

constexpr int kItems = 100000;
constexpr qint64 kTargetBytes = 50LL * 1024 * 1024;

QString tablePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs/config_registers.xml");
}

QString nameOf(int i)
{
    return QStringLiteral("Register %1").arg(i);
}

const QByteArray kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Registers>\n"
                        "<Config><Version>1</Version></Config>\n<Items>\n";
const QByteArray kTail = "</Items>\n</Registers>\n";

// The description every item carries, as the file spells it: long enough
// that the whole file comes to about 50 MB.
QByteArray descriptionMarkup()
{
    // Everything but the description, for one item with a six-digit address.
    const int frame = int(QByteArrayLiteral("<Item><Addr>100000</Addr><Name>Register 100000</Name>"
                                            "<RW>RW</RW><Description></Description></Item>\n").size());
    const int length = int((kTargetBytes - kHead.size() - kTail.size()) / kItems) - frame;
    // Cut at a whole sentence, so no entity is split.
    const QByteArray sentence = "Set point, limit or timer of the module; written by the operator &amp; read back. ";
    return sentence.repeated(length / sentence.size());
}

QString descriptionText()
{
    return QString::fromUtf8(descriptionMarkup()).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

// Writes the table a line at a time. Returns the file's size, or -1.
qint64 writeHugeTable()
{
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs"));
    QFile file(tablePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    const QByteArray& head = kHead;
    const QByteArray& tail = kTail;
    const QByteArray words = descriptionMarkup();
    if (file.write(head) != head.size())
        return -1;
    const char* access[] = {"R", "W", "RW", "wr"};
    for (int i = 0; i < kItems; ++i) {
        const QByteArray item = "<Item><Addr>" + QByteArray::number(40000 + i) + "</Addr><Name>"
                                + nameOf(i).toUtf8() + "</Name><RW>" + access[i % 4] + "</RW><Description>"
                                + words + "</Description></Item>\n";
        if (file.write(item) != item.size())
            return -1;
    }
    if (file.write(tail) != tail.size())
        return -1;
    return file.size();
}

// Resident memory now, from /proc/self/status; -1 when it cannot be read.
qint64 currentRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class tst_hugeRegisterTable : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void loadsEveryRowAndRefreshesOnlyTheBlock();
};

void tst_hugeRegisterTable::cleanupTestCase()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    QFile::remove(tablePath());
}

void tst_hugeRegisterTable::loadsEveryRowAndRefreshesOnlyTheBlock()
{
    const qint64 size = writeHugeTable();
    QVERIFY(size > 45LL * 1024 * 1024);
    const qint64 rssBefore = peakRssKiB();

    QElapsedTimer timer;
    timer.start();
    upsDataModel model;
    const qint64 loadMs = timer.elapsed();
    const qint64 peak = peakRssKiB();
    const qint64 resident = currentRssKiB();
    // What the rows themselves keep, once the parser's memory is handed back.
    malloc_trim(0);
    qInfo("%lld bytes, %d items: loaded in %lld ms; peak RSS %lld MiB (%lld MiB before), "
          "%lld MiB resident once loaded, %lld MiB after malloc_trim",
          size, kItems, loadMs, peak / 1024, rssBefore / 1024, resident / 1024, currentRssKiB() / 1024);

    QCOMPARE(model.rowCount(), kItems);
    for (const int row : {0, 1, 34, 35, 50000, kItems - 1}) {
        const DataObject* object = model.getDataObject(static_cast<short>(qMin(row, 32767)));
        if (row > 32767) {
            // getDataObject takes a short; the model's own index reaches every row.
            QCOMPARE(model.data(model.index(row, 0)).toUInt(), 40000u + uint(row));
            QCOMPARE(model.data(model.index(row, 1)).toString(), nameOf(row));
            continue;
        }
        QVERIFY(object);
        QCOMPARE(object->addr, 40000u + uint(row));
        QCOMPARE(object->name, nameOf(row));
        QCOMPARE(object->description, descriptionText());
    }
    QCOMPARE(model.data(model.index(2, 3)).toString(), QStringLiteral("RW"));
    QCOMPARE(model.data(model.index(3, 3)).toString(), QStringLiteral("RW"));

    fakesdk::reset();
    for (int i = 0; i < 60; ++i)
        fakesdk::setRegister(uint32_t(40000 + i), quint16(1000 + i));
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
    model.updateData();

    QCOMPARE(fakesdk::countCalls("read"), 1);
    const QModelIndex first = model.index(0, 2);
    QCOMPARE(model.data(first).toString(), QStringLiteral("1000"));
    QCOMPARE(model.data(model.index(34, 2)).toString(), QStringLiteral("1034"));
    for (const int row : {35, 36, 49, 50, 1000, kItems - 1})
        QCOMPARE(model.data(model.index(row, 2)).toString(), QString());
}

QR_TEST_GUILESS_MAIN(tst_hugeRegisterTable)
#include "tst_hugeregistertable.moc"
