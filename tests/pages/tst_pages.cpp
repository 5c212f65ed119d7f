// The pages and the logic right below them, over the fake device library:
// the adapter, the connection page, the register table and its worker, the
// failure-line throttle and the message bus, the dialog and the event log.
#include "autostart.h"
#include "comadapter.h"
#include "comportnames.h"
#include "comsettingsfile.h"
#include "comsettingswidget.h"
#include "configdialog.h"
#include "configwidget.h"
#include "childprocess.h"
#include "consoleprint.h"
#include "dataobject.h"
#include "eventlogfile.h"
#include "fakelink.h"
#include "inforwidget.h"
#include "logcapture.h"
#include "logthrottle.h"
#include "registermap.h"
#include "registerworker.h"
#include "scripthelper.h"
#include "settingslocation.h"
#include "settingsstore.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>

using testsupport::fileBytes;
using testsupport::putFile;

namespace {

// Puts xml in place as the register table beside the test executable; a null
// xml leaves no table at all.
bool writeTable(const QByteArray& xml)
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs/config_registers.xml");
    QFile::remove(path);
    return xml.isNull() || putFile(path, xml);
}

// One <Item> per entry "addr|name|rw|description"; an empty part is left out.
QByteArray tableOf(const QStringList& items)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<Registers><Config><Version>1</Version></Config><Items>\n";
    const char* const tags[] = {"Addr", "Name", "RW", "Description"};
    for (const QString& item : items) {
        const QStringList parts = item.split(QLatin1Char('|'));
        xml += "<Item>";
        for (int i = 0; i < 4 && i < parts.size(); ++i) {
            if (!parts.at(i).isEmpty())
                xml += QByteArray("<") + tags[i] + ">" + parts.at(i).toUtf8() + "</" + tags[i] + ">";
        }
        xml += "</Item>\n";
    }
    return xml + "</Items></Registers>\n";
}

QString valueText(const QAbstractItemModel& model, int row)
{
    return model.data(model.index(row, 2), Qt::DisplayRole).toString();
}

// The page with its file dialog replaced by a chosen answer.
class scriptChoosingConfigWidget : public configWidget
{
public:
    QString nextChoice;

protected:
    QString chooseScriptFile() override { return nextChoice; }
};

QPushButton* dialogButton(QObject* dialog, QDialogButtonBox::StandardButton which)
{
    return dialog->findChild<QDialogButtonBox*>("m_buttonBox")->button(which);
}

constexpr qint64 kGapMs = 5000;
const QString kRead = QStringLiteral("ERR:-8:When reading register start from 40016");
const QString kPoll = QStringLiteral("Read error: -8");
const QString kOther = QStringLiteral("ERR:-11:When reading register start from 40016");

// Advance the clock by `after` ms, then submit `text`, or flush when it is null.
struct step {
    qint64 after;
    QString text;
};

QVector<step> repeat(const QString& text, int times, qint64 every)
{
    QVector<step> steps;
    for (int i = 0; i < times; ++i)
        steps << step{i == 0 ? 0 : every, text};
    return steps;
}

const auto again = &logThrottle::repeatingLine;

enum class act { open, reopen, close, read, write };

const char kEntryName[] = "QR-7215";

QString configFile()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/configs/config_com.xml");
}

QString entryFile()
{
    return QString::fromStdString(platform::autoStartEntry(kEntryName));
}

// One field of a config_com.xml document, by its element name.
QString field(const QByteArray& xml, const QString& name)
{
    QDomDocument doc;
    doc.setContent(xml);
    const QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("Setting")).firstChildElement(name);
    return e.isNull() ? QStringLiteral("<missing>") : e.text();
}

// The record's field as the file would spell it.
QString recordField(const comSettings& s, const QString& name)
{
    QTemporaryDir dir;
    comSettingsFile::write(dir.filePath(QStringLiteral("r.xml")), s);
    return field(fileBytes(dir.filePath(QStringLiteral("r.xml"))), name);
}

} // namespace

Q_DECLARE_METATYPE(QVector<step>)
Q_DECLARE_METATYPE(act)

class tst_pages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // First: the bus's timer is armed by nothing before them.
    void sequences_data();
    void sequences();
    void threadsCountEveryOccurrence();
    void busThrottlesFailuresOnlyAndFlushesByItself();
    void loadsTable_data();
    void loadsTable();
    void exampleTableMatchesRegisterMap();
    void refresh_data();
    void refresh();
    void dialogCloses_data();
    void dialogCloses();
    void policyFromTheStore_data();
    void policyFromTheStore();
    void scriptFromTheFileDialog_data();
    void scriptFromTheFileDialog();
    void doubleClickWritesThroughTheDialog_data();
    void doubleClickWritesThroughTheDialog();
    void logFileHoldsThePagesLines();
    void logFileRotates_data();
    void logFileRotates();
    void logFileRefusedThenWritten();
    void logSavedWholeOrNotAtAll_data();
    void logSavedWholeOrNotAtAll();
    void adapterReports_data();
    void adapterReports();
    void linkLost_data();
    void linkLost();
    void pageKeepsWhatItShows_data();
    void pageKeepsWhatItShows();
    void autoConnectKeepsTrying();
};

void tst_pages::init()
{
    fakeLink::closeAny();
    fakesdk::reset();
    QDir(QFileInfo(configFile()).absolutePath()).removeRecursively();
    QFile::remove(entryFile());
    QFile::remove(platform::settingsStorePath());
    QVERIFY(writeTable(tableOf(
        {"40000|Slave address|RW|a", "40011|Command|W|b", "40012|Battery capacity|R|c", "40013|Odd|X|d"})));
}

void tst_pages::cleanup()
{
    fakesdk::setCloseResult(0);
    fakeLink::closeAny();
}

void tst_pages::loadsTable_data()
{
    QTest::addColumn<QByteArray>("xml");   // null: no file, nor its folder
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("rows"); // cells, "edit" if writable, the range if any

    QTest::newRow("missing file and folder") << QByteArray() << -1 << QStringList();
    QTest::newRow("not well-formed") << QByteArray("<Registers><Items><Item></Items>") << -2 << QStringList();
    QTest::newRow("every Items, Item only directly in it, names case-sensitive")
        << QByteArray("<R><Item><Addr>1</Addr></Item><Items><Item><Addr>40001</Addr></Item><item><Addr>4</Addr></item>"
                      "<Group><Item><Addr>2</Addr></Item></Group><!-- c -->text</Items><items><Item/></items>"
                      "<Config><Item><Addr>3</Addr></Item></Config><Items><Item><Addr>40003</Addr></Item></Items></R>")
        << 0 << QStringList{"40001|NULL||R|NULL", "40003|NULL||R|NULL"};
    QTest::newRow("empty Item") << QByteArray("<R><Items><Item/></Items></R>") << 0 << QStringList{"0|NULL||R|NULL"};
    QTest::newRow("full Item") << tableOf({"40005|Shutdown delay|RW|Seconds"}) << 0
                               << QStringList{"40005|Shutdown delay||RW|Seconds|edit"};
    QTest::newRow("access in any case") << tableOf({"1|a|rw", "2|b|wr", "3|c|w", "4|d|r"}) << 0
                                        << QStringList{"1|a||RW|NULL|edit", "2|b||RW|NULL|edit",
                                                       "3|c||W|NULL|edit", "4|d||R|NULL"};
    QTest::newRow("access with a blank, unknown or empty is none")
        << QByteArray("<R><Items><Item><RW> RW</RW></Item><Item><RW>RWX</RW></Item><Item><RW/></Item></Items></R>")
        << 0 << QStringList{"0|NULL|||NULL", "0|NULL|||NULL", "0|NULL|||NULL"};
    QTest::newRow("address not decimal is 0") << tableOf({"0x9C40|a", "-1|b", "99999999999|c"}) << 0
                                              << QStringList{"0|a||R|NULL", "0|b||R|NULL", "0|c||R|NULL"};
    QTest::newRow("a value in the file is never shown")
        << QByteArray("<R><Items><Item><Addr>40000</Addr><Value>7</Value></Item></Items></R>") << 0
        << QStringList{"40000|NULL||R|NULL"};
    QTest::newRow("range: Min and Max, Max alone, Min alone")
        << QByteArray("<R><Items><Item><Min>1</Min><Max>247</Max></Item><Item><Max>100</Max></Item>"
                      "<Item><Min> 5 </Min></Item></Items></R>")
        << 0 << QStringList{"0|NULL||R|NULL|1-247", "0|NULL||R|NULL|0-100", "0|NULL||R|NULL|5-65535"};
    QTest::newRow("range: reversed or no register values is none")
        << QByteArray("<R><Items><Item><Min>9</Min><Max>2</Max></Item><Item><Min>-1</Min><Max>70000</Max></Item>"
                      "</Items></R>")
        << 0 << QStringList{"0|NULL||R|NULL", "0|NULL||R|NULL"};
}

void tst_pages::loadsTable()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, result);
    QFETCH(QStringList, rows);

    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs");
    if (xml.isNull())
        QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(writeTable(xml));
    upsDataModel model;
    QVERIFY(QDir(folder).exists());
    QCOMPARE(model.loadRegisterTable(), result);
    // A table that has become unreadable since keeps the rows shown.
    QVERIFY(writeTable("<Registers><Items>"));
    QCOMPARE(model.loadRegisterTable(), -2);
    QStringList shown;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.data(model.index(row, column)).toString();
        if (model.flags(model.index(row, 2)) & Qt::ItemIsEditable)
            cells << QStringLiteral("edit");
        const DataObject* object = model.getDataObject(static_cast<short>(row));
        if (object->hasRange)
            cells << QStringLiteral("%1-%2").arg(object->minimum).arg(object->maximum);
        shown << cells.join(QLatin1Char('|'));
    }
    QCOMPARE(shown, rows);
}

// The table the build puts beside the program lists the table block in
// register order, each register with the access and name the module (and
// its simulator) give it. Qt's own checker walks every index, role and
// signal of the model over it, without values and with a block shown.
void tst_pages::exampleTableMatchesRegisterMap()
{
    const QByteArray xml = fileBytes(QStringLiteral(QR7215_BIN_DIR "/iconfigs/config_registers.xml"));
    QVERIFY(!xml.isEmpty());
    QCOMPARE(xml, fileBytes(QStringLiteral(QR7215_SOURCE_DIR "/resources/iconfigs/config_registers.xml")));
    QVERIFY(writeTable(xml));

    upsDataModel model;
    model.setHorizontalHeaderList({"Address", "Name", "Value", "RW", "Description"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), QR7215_TABLE_BLOCK_COUNT);
    for (int row = 0; row < model.rowCount(); ++row) {
        const DataObject* object = model.getDataObject(static_cast<short>(row));
        const int reg = QR7215_TABLE_BLOCK_START + row;
        QCOMPARE(object->addr, quint32(reg));
        const qr7215sim::registerSpec* entry = qr7215sim::findRegister(reg);
        QVERIFY2(entry, qPrintable(QStringLiteral("register %1 is not in the register map").arg(reg)));
        const char* access = entry->access == qr7215sim::registerAccess::readOnly    ? "R"
                             : entry->access == qr7215sim::registerAccess::writeOnly ? "W"
                                                                                    : "RW";
        QCOMPARE(model.data(model.index(row, 3)).toString(), QString::fromLatin1(access));
        QCOMPARE(object->name, QString::fromLatin1(entry->name));
        QVERIFY(!object->description.isEmpty() && object->description != QLatin1String("NULL"));
    }
    fakeLink link;
    QVERIFY(link.isOpen());
    model.updateData();
    QCOMPARE(model.loadRegisterTable(), 0);
    QVERIFY(!model.getDataObject(-1));
    QVERIFY(!model.getDataObject(static_cast<short>(model.rowCount())));
}

void tst_pages::refresh_data()
{
    // Steps: open, close, refresh, failreads, failwrites, ask:REG=VALUE,
    // withdraw:REG, discard (the page is switched off), take (the next
    // exchange, held back), run (it on this thread), garbage (it failed with
    // its buffer full), follow (the link is seen up again), apply (it is
    // taken in; one never run is one the link closed under), submit (the next
    // exchange through the worker, which takes no second one meanwhile, and
    // its outcome taken in), leave (the worker destroyed with the next
    // exchange out: it is carried out, and its outcome goes nowhere).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("exchanges");       // R: the block read, WREG=VALUE: a write
    QTest::addColumn<QString>("discarded");       // REG=VALUE as logged
    QTest::addColumn<QString>("shown");           // the rows' values

    const QString none;
    const QString all = "105|32768|||134||105|65535";
    const QString empty = "|||||||";
    const QString written55 = "105|32768|||134||105|55";
    QTest::newRow("no link, no exchange") << "refresh" << "" << none << empty;
    QTest::newRow("one block a refresh, rows by their own address")
        << "open refresh refresh" << "R R" << none << all;
    QTest::newRow("failed read before a good one") << "open failreads refresh" << "R" << none << empty;
    QTest::newRow("failed reads keep the values")
        << "open refresh take garbage apply failreads refresh" << "R R" << none << all;
    QTest::newRow("link down drops the values") << "open refresh close refresh" << "R" << none << empty;
    QTest::newRow("block from a link that has gone since")
        << "open refresh take run close refresh open follow apply" << "R R" << none << empty;
    QTest::newRow("write before the table shows values")
        << "open ask:40004=55 refresh refresh" << "W40004=55 R" << none << written55;
    QTest::newRow("write while the table shows values")
        << "open refresh ask:40004=55 refresh refresh" << "R W40004=55 R" << none << written55;
    QTest::newRow("the later of two requests, a negative word unsigned")
        << "open ask:40004=1 ask:40008=-2 refresh" << "W40008=65534" << none << empty;
    QTest::newRow("withdrawn") << "open ask:40004=1 withdraw:40004 refresh" << "R" << none << all;
    QTest::newRow("refused by the module, not retried")
        << "open failwrites ask:40004=3 refresh refresh" << "W40004=3 R" << none << all;
    QTest::newRow("asked with the link down, never sent on the next link")
        << "open refresh close ask:40006=15 refresh open refresh" << "R R" << "40006=15" << all;
    QTest::newRow("page switched off") << "open ask:40000=9 discard refresh" << "R" << "40000=9"
                                       << all;
    QTest::newRow("unsent") << "ask:40004=12 take apply open refresh" << "R" << "40004=12" << all;
    QTest::newRow("unsent, a newer request still goes")
        << "ask:40004=12 take ask:40005=13 apply open refresh" << "W40005=13" << "40004=12" << empty;
    QTest::newRow("unsent, a withdrawn request stays withdrawn")
        << "ask:40006=1 take withdraw:40006 apply open refresh" << "R" << "40006=1" << all;
    QTest::newRow("worker: read, write, read")
        << "open submit ask:40004=55 submit submit" << "R W40004=55 R" << none << written55;
    QTest::newRow("worker: failed read keeps the values") << "open submit failreads submit" << "R R" << none << all;
    QTest::newRow("worker: the link closed under the write")
        << "open ask:40004=12 close submit" << "" << "40004=12" << empty;
    QTest::newRow("worker: destroyed with a read out") << "open leave" << "R" << none << empty;
}

void tst_pages::refresh()
{
    QFETCH(QString, steps);
    QFETCH(QString, exchanges);
    QFETCH(QString, discarded);
    QFETCH(QString, shown);

    // Gaps, another order, a register twice, addresses outside the block.
    QVERIFY(writeTable(tableOf({"40005|a|RW|", "40000|b|R|", "0|c|W|", "|d||", "40034|e|R|", "40035|f|R|",
                                "40005|a again|R|", "40004|g|RW|"})));
    for (int i = 0; i < 40; ++i)
        fakesdk::setRegister(40000 + i, quint16(100 + i));
    fakesdk::setRegister(40000, 32768);
    fakesdk::setRegister(40004, 65535);
    upsDataModel model;
    LogCapture log;
    auto worker = std::make_unique<registerWorker>();
    QList<registerTransaction> done;
    QThread* deliveredIn = nullptr;
    connect(worker.get(), &registerWorker::signalTransactionDone, this, [&](const registerTransaction& t) {
        deliveredIn = QThread::currentThread();
        done << t;
    }, Qt::DirectConnection);
    registerTransaction held;
    QString arg;
    const std::map<QString, std::function<void()>> act{
        {"open", [] { QVERIFY(fakeLink::open()); }},
        {"close", [] { g_comAdapter.slotCloseDevice(); }},
        {"refresh", [&] { model.updateData(); }},
        {"failreads", [] { fakesdk::setReadResult(-8); }},
        {"failwrites", [] { fakesdk::setWriteResult(-102); }},
        {"ask", [&] {
             model.slotOnModifyRegister(arg.section('=', 0, 0).toInt(), qint16(arg.section('=', 1).toInt()), true);
         }},
        {"withdraw", [&] { model.slotOnModifyRegister(arg.toInt(), 0, false); }},
        {"discard", [&] { model.discardPendingWrite(); }},
        {"take", [&] { held = model.takeTransaction(); }},
        {"run", [&] { held.run(); }},
        {"garbage", [&] { held.performed = true; held.result = -104; held.values.fill(5); }},
        {"follow", [&] { model.followLink(true); }},
        {"apply", [&] { model.applyTransaction(held); }},
        {"submit", [&] {
             const int before = done.size();
             QVERIFY(worker->submit(model.takeTransaction()));
             // The exchange may be over; its outcome is not back, since no
             // event has been processed: no second one meanwhile.
             worker->waitUntilIdle();
             QVERIFY(!worker->submit(registerTransaction::readBlock()));
             QTRY_COMPARE(done.size(), before + 1);
             QCOMPARE(deliveredIn, QThread::currentThread());
             model.applyTransaction(done.last());
         }},
        {"leave", [&] {
             QVERIFY(worker->submit(model.takeTransaction()));
             worker.reset();
             QCoreApplication::processEvents();
             QVERIFY(done.isEmpty());
         }},
    };
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        arg = step.section(QLatin1Char(':'), 1);
        const auto found = act.find(step.section(QLatin1Char(':'), 0, 0));
        QVERIFY2(found != act.end(), qPrintable(step));
        found->second();
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(!model.hasPendingWrite());
    QStringList sent;
    for (const fakesdk::Call& c : fakesdk::calls()) {
        if (c.function == "read")
            sent << QStringLiteral("R") + (c.start == 40000 && c.count == 35 ? "" : " of another block");
        else if (c.function == "write")
            sent << QStringLiteral("W%1=%2").arg(c.start).arg(c.value) + (c.count == 1 ? "" : "...");
    }
    QCOMPARE(sent.join(QLatin1Char(' ')), exchanges);
    QStringList expected;
    if (!discarded.isEmpty())
        expected << QStringLiteral("Write of register %1 discarded: the link closed before it was sent. (value %2)")
                        .arg(discarded.section('=', 0, 0), discarded.section('=', 1));
    QTRY_COMPARE(log.lines.filter(QStringLiteral(" discarded")), expected);
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << valueText(model, row);
    QCOMPARE(values.join(QLatin1Char('|')), shown);
}

void tst_pages::sequences_data()
{
    QTest::addColumn<QVector<step>>("steps");
    QTest::addColumn<QStringList>("logged");
    // msUntilDue() after the last step: when the bus's timer must fire.
    QTest::addColumn<qint64>("due");

    const QString flush;
    QTest::newRow("one failure is one line") << QVector<step>{{0, kRead}, {6000, flush}} << QStringList{kRead}
                                             << qint64(-1);
    QTest::newRow("second occurrence says it repeats")
        << QVector<step>{{0, kRead}, {400, kRead}} << QStringList{kRead, again(kRead)} << kGapMs;
    // 57 suppressed after the first and the "repeating" line, over 5.6 s.
    QTest::newRow("burst ends: summary with the count")
        << (repeat(kRead, 59, 100) << step{5000, flush})
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 57, 6)} << qint64(-1);
    QTest::newRow("no summary when nothing was suppressed")
        << QVector<step>{{0, kRead}, {100, kRead}, {5000, flush}} << QStringList{kRead, again(kRead)} << qint64(-1);
    QTest::newRow("one suppressed repeat reads 1 time")
        << QVector<step>{{0, kRead}, {100, kRead}, {300, kRead}, {5000, flush}}
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 1, 1)} << qint64(-1);
    QTest::newRow("flush before the quiet gap holds the summary back")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {4999, flush}} << QStringList{kRead, again(kRead)}
        << qint64(1);
    QTest::newRow("after a quiet gap the text is new again")
        << QVector<step>{{0, kRead}, {5000, kRead}, {5000, kRead}} << QStringList{kRead, kRead, kRead} << kGapMs;
    QTest::newRow("a late repeat brings the summary before it")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, kRead}, {7000, kRead}}
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 2, 1), kRead} << kGapMs;
    // Each text its own count; the summaries in the order the texts stopped.
    QVector<step> alternating;
    for (int i = 0; i < 10; ++i)
        alternating << step{i == 0 ? 0 : 450, kRead} << step{1, kPoll};
    QTest::newRow("two alternating texts are each throttled")
        << (alternating << step{5000, flush})
        << QStringList{kRead, kPoll, again(kRead), again(kPoll), logThrottle::summaryLine(kRead, 8, 4),
                       logThrottle::summaryLine(kPoll, 8, 4)}
        << qint64(-1);
    QTest::newRow("a new text passes at once during a burst")
        << QVector<step>{{0, kRead}, {100, kRead}, {100, kRead}, {100, kOther}}
        << QStringList{kRead, again(kRead), kOther} << kGapMs - 100;
    // A failure every 500 ms for three minutes: counting starts at the second.
    QTest::newRow("a summary every 60 s while it goes on")
        << (repeat(kRead, 362, 500) << step{5000, flush})
        << QStringList{kRead, again(kRead), logThrottle::summaryLine(kRead, 120, 60),
                       logThrottle::summaryLine(kRead, 120, 60), logThrottle::summaryLine(kRead, 120, 60)}
        << qint64(-1);
}

void tst_pages::sequences()
{
    QFETCH(QVector<step>, steps);
    QFETCH(QStringList, logged);
    QFETCH(qint64, due);

    qint64 now = 1000;
    logThrottle throttle([&now] { return now; });
    throttle.setTimes(kGapMs, logThrottle::kDefaultSummaryEveryMs);
    QStringList out;
    for (const step& s : steps) {
        now += s.after;
        out << (s.text.isNull() ? throttle.flush() : throttle.submit(s.text));
        // As the bus's timer would.
        if (throttle.msUntilDue() == 0)
            out << throttle.flush();
    }
    QCOMPARE(out, logged);
    QCOMPARE(throttle.msUntilDue(), due);
}

void tst_pages::threadsCountEveryOccurrence()
{
    std::atomic<qint64> now{0};
    logThrottle throttle([&now] { return now.load(); });
    QStringList fromReader;
    QStringList fromPoller;
    const auto submit500 = [&throttle](const QString& text, QStringList* out) {
        for (int i = 0; i < 500; ++i)
            *out << throttle.submit(text);
    };
    std::thread reader(submit500, kRead, &fromReader);
    std::thread poller(submit500, kPoll, &fromPoller);
    reader.join();
    poller.join();
    now += 10000;
    QStringList out = fromReader + fromPoller + throttle.flush();
    out.sort();
    QStringList expected{kRead, again(kRead), logThrottle::summaryLine(kRead, 498, 1),
                         kPoll, again(kPoll), logThrottle::summaryLine(kPoll, 498, 1)};
    expected.sort();
    QCOMPARE(out, expected);
}

void tst_pages::busThrottlesFailuresOnlyAndFlushesByItself()
{
    g_consolePrint.throttle().reset();
    g_consolePrint.throttle().setTimes(200, 60000);
    const QString event = QStringLiteral("DC is broken.");
    LogCapture log;
    // From another thread, as the poll thread reports.
    std::thread poller([&event] {
        for (int i = 0; i < 12; ++i) {
            g_consolePrint.showError(kPoll);
            g_consolePrint.showMsg(event);
        }
    });
    poller.join();
    // No further occurrence comes: the bus's own timer logs the summary.
    const QString summary = logThrottle::summaryLine(kPoll, 10, 1);
    QTRY_COMPARE(log.count(summary), 1);
    QCOMPARE(log.count(event), 12);
    QCOMPARE(log.lines.filter(QStringLiteral("Read error")), (QStringList{kPoll, again(kPoll), summary}));
    QTRY_COMPARE(g_consolePrint.throttle().tracked(), 0);

    // And again once it went quiet: the timer is armed anew.
    for (int i = 0; i < 3; ++i)
        g_consolePrint.showError(kPoll);
    QTRY_COMPARE(log.count(logThrottle::summaryLine(kPoll, 1, 1)), 1);
    g_consolePrint.throttle().setTimes(logThrottle::kDefaultQuietGapMs, logThrottle::kDefaultSummaryEveryMs);
}

void tst_pages::dialogCloses_data()
{
    QTest::addColumn<int>("value");       // the row's device value; -1: none yet
    QTest::addColumn<QString>("range");   // "min-max" from the table file, or empty
    QTest::addColumn<QString>("text");    // typed over the value shown; null keeps it
    QTest::addColumn<QString>("how");     // ok, enter, cancel, escape
    QTest::addColumn<QString>("written"); // empty: nothing

    QTest::newRow("Ok writes the value shown back") << 40000 << "" << QString() << "ok" << "40000";
    QTest::newRow("Ok writes 0") << 40000 << "" << "0" << "ok" << "0";
    QTest::newRow("Ok writes 65535") << 40000 << "" << "65535" << "ok" << "65535";
    QTest::newRow("Ok reads leading zeros") << 40000 << "" << "00012" << "ok" << "12";
    QTest::newRow("Ok at the top of the range") << 40000 << "10-20" << "20" << "ok" << "20";
    QTest::newRow("Enter writes like Ok") << 40000 << "" << "7" << "enter" << "7";
    QTest::newRow("Cancel writes nothing") << 40000 << "" << "7" << "cancel" << "";
    QTest::newRow("Escape writes nothing") << 40000 << "" << "7" << "escape" << "";
    QTest::newRow("no device value: an empty field") << -1 << "" << QString() << "ok" << "";
    for (const char* text : {"", "abc", "12ab", "-1", "+1", " 1", "1 ", "65536", "99999999999", "0x10", "1.5"}) {
        QTest::addRow("refused with Ok: '%s'", text) << 40000 << "" << text << "ok" << "";
        QTest::addRow("refused with Enter: '%s'", text) << 40000 << "" << text << "enter" << "";
    }
    QTest::newRow("refused: non-ASCII digits") << 40000 << "" << QString::fromUtf8("\u0661\u0662") << "ok" << "";
    QTest::newRow("refused: below the range") << 40000 << "10-20" << "9" << "ok" << "";
    QTest::newRow("refused: above a range of one") << 40000 << "7-7" << "8" << "enter" << "";
}

void tst_pages::dialogCloses()
{
    QFETCH(int, value);
    QFETCH(QString, range);
    QFETCH(QString, text);
    QFETCH(QString, how);
    QFETCH(QString, written);

    DataObject row;
    row.addr = 40003;
    row.rw = DataObject::AccessReadWrite;
    row.hasValue = value >= 0;
    row.value = quint16(value);
    row.hasRange = !range.isEmpty();
    if (row.hasRange) {
        row.minimum = quint16(range.section(QLatin1Char('-'), 0, 0).toUInt());
        row.maximum = quint16(range.section(QLatin1Char('-'), 1, 1).toUInt());
    }
    configDialog dialog;
    dialog.slotOnShowDialog(&row, 0);
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* edit = dialog.findChild<QLineEdit*>("m_lineEditRegisterValue");
    QCOMPARE(edit->text(), value >= 0 ? QString::number(value) : QString());
    if (!text.isNull())
        edit->setText(text);
    QSignalSpy writes(&dialog, SIGNAL(signalDataChanged(qint32, qint16, bool)));
    if (how == QLatin1String("ok"))
        QTest::mouseClick(dialogButton(&dialog, QDialogButtonBox::Ok), Qt::LeftButton);
    else if (how == QLatin1String("cancel"))
        QTest::mouseClick(dialogButton(&dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
    else
        QTest::keyClick(edit, how == QLatin1String("enter") ? Qt::Key_Return : Qt::Key_Escape);

    const bool refused = written.isEmpty() && (how == QLatin1String("ok") || how == QLatin1String("enter"));
    if (refused)
        dialog.slotOnAccept();   // not even a direct call turns the text into a write
    QStringList sent;
    for (const QList<QVariant>& w : qAsConst(writes))
        sent << QStringLiteral("%1=%2%3")
                    .arg(w.at(0).toInt())
                    .arg(quint16(w.at(1).value<qint16>()))
                    .arg(QLatin1String(w.at(2).toBool() ? "" : " withdrawn"));
    QCOMPARE(sent, written.isEmpty() ? QStringList() : QStringList{QStringLiteral("40003=") + written});
    QCOMPARE(dialog.isVisible(), refused);
    QCOMPARE(dialogButton(&dialog, QDialogButtonBox::Ok)->isEnabled(), !refused);
    // Whatever was typed is answered with the values the register takes.
    auto* problem = dialog.findChild<QLabel*>("m_lblValueProblem");
    QCOMPARE(problem->isVisible(), refused && !edit->text().isEmpty());
    if (problem->isVisible())
        QVERIFY(problem->text().contains(QStringLiteral("%1 to %2").arg(row.minimum).arg(row.maximum)));
}

void tst_pages::policyFromTheStore_data()
{
    QTest::addColumn<QString>("stored");   // as the store holds it; empty: nothing
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("after");    // in the store once the page is up

    QTest::newRow("nothing stored") << "" << "NULL" << "";
    QTest::newRow("SW") << "02" << "SW" << "2";
    QTest::newRow("no item's value: NULL, the store left alone") << "7" << "NULL" << "7";
}

void tst_pages::policyFromTheStore()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, after);

    const QString key = QStringLiteral("batExecutePolicy");
    if (!stored.isEmpty())
        QSettings(platform::settingsStorePath(), platform::settingsStoreFormat()).setValue(key, stored);
    configWidget page;
    auto* combo = page.findChild<QComboBox*>("m_comboPolicy");
    QCOMPARE(combo->currentText(), shown);
    QCOMPARE(QSettings(platform::settingsStorePath(), platform::settingsStoreFormat()).value(key).toString(), after);
    QCOMPARE(QFile::exists(platform::settingsStorePath()), !after.isEmpty());

    // The operator's choice is stored and told to the status page.
    QSignalSpy told(&page, SIGNAL(signalOnPolicyChanged(int)));
    const int choice = combo->currentIndex() == 2 ? 1 : 2;
    combo->setCurrentIndex(choice);
    QCOMPARE(settingsStore::batExecutePolicy(), quint32(choice));
    QCOMPARE(told.count(), 1);
    QCOMPARE(told.at(0).at(0).toInt(), choice);
}

void tst_pages::scriptFromTheFileDialog_data()
{
    QTest::addColumn<QByteArray>("contents");   // null: the dialog is cancelled
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("logged");        // how the log says it will run; empty: nothing

    QTest::newRow("cancelled: the old script stays") << QByteArray() << false << "";
    QTest::newRow("executable with #!") << QByteArray("#!/bin/sh\n") << true << "";
    QTest::newRow("not executable, no #!")
        << QByteArray("echo\n") << false << "is not executable and has no \"#!\" line: it will be run with /bin/sh.";
    QTest::newRow("executable, no #!")
        << QByteArray("echo\n") << true << "has no \"#!\" line: it will be run with /bin/sh.";
    QTest::newRow("binary, not executable")
        << QByteArray("\x7f" "ELF\0\0", 6) << false << "cannot be run: not executable and not a shell script.";
}

void tst_pages::scriptFromTheFileDialog()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, executable);
    QFETCH(QString, logged);

    const QString old = QStringLiteral("/opt/ups/old script.sh");
    settingsStore::setBatPath(old);
    scriptChoosingConfigWidget page;
    auto* field = page.findChild<QLineEdit*>("m_lineEditBatPath");
    QCOMPARE(field->text(), old);
    const QString script = testsupport::tempRoot() + QStringLiteral("/on dc loss.sh");
    if (!contents.isNull())
        page.nextChoice = scripthelper::writeScript(script, contents, executable);
    LogCapture log;
    QTest::mouseClick(page.findChild<QPushButton*>("m_btnOpenBatFile"), Qt::LeftButton);
    const QString chosen = contents.isNull() ? old : script;
    QCOMPARE(settingsStore::batPath(), chosen);
    QCOMPARE(field->text(), chosen);
    QTRY_COMPARE(log.lines.filter(QStringLiteral("Script ")),
                 logged.isEmpty() ? QStringList() : QStringList{QStringLiteral("Script %1 %2").arg(chosen, logged)});
    QFile::remove(script);

    QTest::mouseClick(page.findChild<QPushButton*>("m_btnClearBatFile"), Qt::LeftButton);
    QCOMPARE(settingsStore::batPath(), QString());
    QCOMPARE(field->text(), QString());
}

void tst_pages::doubleClickWritesThroughTheDialog_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("switchedOff");  // the page's tab left once the dialog closed
    QTest::addColumn<QString>("address");   // empty: the dialog stays closed

    QTest::newRow("RW row, value column") << 0 << 2 << false << "40000";
    QTest::newRow("RW row, name column") << 0 << 1 << false << "40000";
    QTest::newRow("W row") << 1 << 3 << false << "40011";
    // A write asked for goes out while the page is on, or not at all.
    QTest::newRow("RW row, the page switched off before the write went") << 0 << 2 << true << "40000";
    QTest::newRow("R row") << 2 << 2 << false << "";
    QTest::newRow("row without access") << 3 << 0 << false << "";
    QTest::newRow("no row") << -1 << 0 << false << "";
}

void tst_pages::doubleClickWritesThroughTheDialog()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, switchedOff);
    QFETCH(QString, address);

    configWidget page;
    fakeLink link;
    QVERIFY(link.isOpen());
    fakesdk::setRegister(40011, 4321);
    auto* dialog = page.findChild<configDialog*>();
    auto* view = page.findChild<QTableView*>();
    for (int selected : {1, 3})
        view->selectionModel()->select(view->model()->index(selected, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    page.slotOnUpdate();   // a read goes out
    QVERIFY(page.isExchanging());

    page.slotOnRowDoubleClicked(row < 0 ? QModelIndex() : view->model()->index(row, column));
    QCOMPARE(dialog->isVisible(), !address.isEmpty());
    if (dialog->isVisible()) {
        QCOMPARE(dialog->findChild<QLabel*>("m_lblRegisterAddressValue")->text(), address);
        dialog->findChild<QLineEdit*>("m_lineEditRegisterValue")->setText(QStringLiteral("45"));
        dialog->slotOnAccept();
    }
    if (switchedOff)
        page.slotOnSetEnabled(false);
    // The ticks while that read is out start nothing, and leave the write
    // for the first tick after it.
    page.slotOnUpdate();
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    const bool written = !address.isEmpty() && !switchedOff;
    QCOMPARE(fakesdk::countCalls("read"), written ? 1 : 2);
    QCOMPARE(fakesdk::countCalls("write"), written ? 1 : 0);
    if (written)
        QCOMPARE(QStringLiteral("%1=%2").arg(fakesdk::calls().back().start).arg(fakesdk::calls().back().value),
                 address + QStringLiteral("=45"));
    // The refreshes change the values shown, not the rows selected.
    QCOMPARE(valueText(*view->model(), 1), QStringLiteral("4321"));
    QCOMPARE(view->selectionModel()->selectedRows().size(), 2);
    QVERIFY(view->selectionModel()->isRowSelected(1, {}) && view->selectionModel()->isRowSelected(3, {}));
}

void tst_pages::logFileHoldsThePagesLines()
{
    QTemporaryDir dir;
    inforWidget page;
    eventLogFile file(dir.filePath(QStringLiteral("state/QR-7215.log")));
    connect(&page, SIGNAL(signalLineShown(const QString&)), &file, SLOT(slotOnLine(const QString&)));
    connect(&g_consolePrint, SIGNAL(signalShowMsg(const QString&)), &page, SLOT(slotOnShowMsg(const QString&)));
    // Whole milliseconds, as the stamp shows them.
    const QDateTime before = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch());
    for (const QString& msg : {QStringLiteral("DC is broken."), QString(), QStringLiteral("two\nparts"),
                               QStringLiteral("31.5 \u00b0C")})
        g_consolePrint.showMsg(msg);
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY(file.sync(5000));
    QCOMPARE(QString::fromUtf8(fileBytes(file.path())), page.text());
    QCOMPARE(page.text().count(QLatin1Char('\n')), 5);
    QTextDocument* log = page.findChild<QPlainTextEdit*>("m_statusOutput")->document();
    const QString line = log->firstBlock().text();
    QCOMPARE(line.mid(23), QStringLiteral(">>DC is broken."));
    const QDateTime stamp = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(line));

    // The lines before these and the first 250 of them are the oldest, and go.
    const int count = inforWidget::maxLogLines + 250;
    for (int i = 0; i < count; ++i)
        page.slotOnShowMsg(QString::number(i));
    QCOMPARE(log->blockCount(), inforWidget::maxLogLines);
    QVERIFY(log->firstBlock().text().endsWith(QStringLiteral(">>250")));
    QVERIFY(log->lastBlock().text().endsWith(QStringLiteral(">>%1").arg(count - 1)));
}

void tst_pages::logFileRotates_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("files");
    // Lines of 10 bytes against a limit of 50: five to a file.
    QTest::newRow("within the limit: one file") << 5 << 1;
    QTest::newRow("one past: the first five move to .1") << 6 << 2;
    QTest::newRow("twenty-five: .4 is the oldest") << 25 << 5;
    QTest::newRow("forty: the oldest fifteen are gone") << 40 << 5;
}

void tst_pages::logFileRotates()
{
    QFETCH(int, lines);
    QFETCH(int, files);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QR-7215.log"));
    {
        eventLogFile file(path, 50);
        for (int i = 0; i < lines; ++i)
            file.append(QStringLiteral("line %1").arg(i, 4, 10, QLatin1Char('0')));
        QVERIFY(file.sync(5000));
    }
    // Oldest first: QR-7215.log.4 down to QR-7215.log.
    const QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name | QDir::Reversed);
    QCOMPARE(names.size(), files);
    QByteArray kept;
    for (const QString& name : names) {
        const QByteArray bytes = fileBytes(dir.filePath(name));
        QVERIFY2(bytes.size() <= 50, qPrintable(name));
        kept += bytes;
    }
    QByteArray expected;
    for (int i = qMax(0, lines - 5 * eventLogFile::kKeptFiles); i < lines; ++i)
        expected += QStringLiteral("line %1\n").arg(i, 4, 10, QLatin1Char('0')).toUtf8();
    QCOMPARE(kept, expected);
}

// A refused write costs one log line and loses none: the lines wait, and
// go out once the folder can be made.
void tst_pages::logFileRefusedThenWritten()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state"));
    QVERIFY(putFile(state, "a file where the folder should be"));
    LogCapture log;
    eventLogFile file(state + QStringLiteral("/Tarvolt/UPS/QR-7215.log"));
    file.append(QStringLiteral("one"));
    file.append(QStringLiteral("two"));
    QVERIFY(!file.sync(5000));
    file.append(QStringLiteral("three"));
    QVERIFY(!file.sync(5000));
    // The refusal was told before the sync gave up; its line is queued.
    QCoreApplication::processEvents();
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines[0].startsWith(QStringLiteral("Event log: cannot write ")), qPrintable(log.lines[0]));
    QVERIFY(QFile::remove(state) && QDir().mkpath(state));
    QVERIFY(file.sync(5000));
    QCOMPARE(fileBytes(file.path()), QByteArray("one\ntwo\nthree\n"));
    QCoreApplication::processEvents();
    QCOMPARE(log.lines.size(), 1);
}

void tst_pages::logSavedWholeOrNotAtAll_data()
{
    QTest::addColumn<QString>("target");    // under a fresh folder
    QTest::addColumn<qint64>("sizeLimit");  // a full disk after this many bytes; 0 none
    QTest::addColumn<bool>("saved");
    QTest::newRow("a new file holds the view") << "log.txt" << qint64(0) << true;
    QTest::newRow("an old file is replaced") << "old.txt" << qint64(0) << true;
    QTest::newRow("a folder that is not there") << "missing/log.txt" << qint64(0) << false;
    QTest::newRow("a full disk keeps the old file") << "old.txt" << qint64(40) << false;
}

void tst_pages::logSavedWholeOrNotAtAll()
{
    QFETCH(QString, target);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(target);
    const QByteArray old("the old file\n");
    QVERIFY(putFile(dir.filePath(QStringLiteral("old.txt")), old));
    inforWidget page;
    for (int i = 0; i < 5; ++i)
        page.slotOnShowMsg(QStringLiteral("line %1 of a log longer than forty bytes").arg(i));
    const auto save = [&]() -> int {
        QString reason;
        const bool ok = page.saveTo(path, &reason);
        return ok ? 0 : (reason.isEmpty() ? 2 : 1);
    };
    QCOMPARE(sizeLimit > 0 ? testsupport::runWithFileSizeLimit(sizeLimit, save) : save(), saved ? 0 : 1);
    const QByteArray left = target == "old.txt" ? old : QByteArray();
    QCOMPARE(fileBytes(path), saved ? page.text().toUtf8() : left);
}

void tst_pages::adapterReports_data()
{
    QTest::addColumn<act>("action");
    QTest::addColumn<int>("address");      // of the read or write
    QTest::addColumn<int>("fakeResult");   // what the library returns
    QTest::addColumn<QStringList>("lines");      // each line starts so
    QTest::addColumn<QStringList>("versions");   // hardware, firmware, driver; empty: none shown

    const auto row = [](const char* name, act a, int address, int fake, const QStringList& lines,
                        const QStringList& versions = {}) {
        QTest::newRow(name) << a << address << fake << lines << versions;
    };
    const QStringList none{"0000", "0000", "0000"};
    const auto openFailed = [](int code, const QString& more = QString()) {
        return QStringList{"Open device error:" + QString::number(code),
                           "Port ttyUSB4: " + QString::fromUtf8(UPS_ErrorText(code)) + more};
    };
    const int exception = QR7215_E_EXCEPTION_BASE - 2;
    row("open: port not found", act::open, 0, QR7215_E_PORT_NOT_FOUND, openFailed(QR7215_E_PORT_NOT_FOUND), none);
    row("open: no permission names the group", act::open, 0, QR7215_E_PERMISSION,
        openFailed(QR7215_E_PERMISSION, ". Your user must be a member of the group that owns the port (usually dialout"),
        none);
    row("open: exception answer", act::open, 0, exception, openFailed(exception), none);
    row("open: success", act::open, 0, 0,
        {"Open device success > Device Type:29205 Hardware version:65535 Firmware version:7"}, {"65535", "7", "0"});
    row("open fails on an open link: it is dropped", act::reopen, 0, QR7215_E_TIMEOUT, openFailed(QR7215_E_TIMEOUT), none);
    row("close", act::close, 0, 0, {"Close port 4 slave address 9 is success"}, none);
    row("close fails: link kept, nothing told", act::close, 0, QR7215_E_LINK_LOST, {});
    row("read: silent", act::read, 40016, 0, {});
    row("read: below the first register", act::read, 39999, 0,
        {"ERR: Register start address 39999 is invalid!", "ERR:-1:When reading register start from 39999"});
    row("read: time-out", act::read, 40016, QR7215_E_TIMEOUT, {"ERR:-8:When reading register start from 40016"});
    // A Disconnect closed the link under the read.
    row("read without a link: no failure", act::read, 40016, QR7215_E_NOT_OPEN, {});
    row("write", act::write, 40010, 0, {"SUCCESS: Setting register 40010 to value 65535"});
    row("write: below the first register", act::write, 39999, 0,
        {"ERR: Register start address 39999 is invalid!", "ERR:-1:When Setting register 39999 to value 65535"});
    row("write: exception", act::write, 40010, exception, {"ERR:-102:When Setting register 40010 to value 65535"});
}

void tst_pages::adapterReports()
{
    QFETCH(act, action);
    QFETCH(int, address);
    QFETCH(int, fakeResult);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, versions);
    const int result = address > 0 && address < 40000 ? -1 : fakeResult;
    const bool openFirst = action != act::open && fakeResult != QR7215_E_NOT_OPEN;

    comSettings record;
    record.comPort = QStringLiteral("ttyUSB4");
    record.comPortNumber = 260;
    record.slaveId = 265;
    record.baudRate = 19200;
    record.dataLen = 7;
    record.stopBits = 2;
    record.parity = 1;
    record.responseTimeout = 2500;
    record.numOfRetries = 9;
    fakesdk::setInfo(deviceInfo{0x7215, 65535, 7, 0});
    if (openFirst)
        QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    for (uint r = 40000; r < 40040; ++r)
        fakesdk::setRegister(r, quint16(r * 3));
    LogCapture log;
    fakesdk::setOpenResult(fakeResult);
    fakesdk::setCloseResult(fakeResult);
    fakesdk::setReadResult(fakeResult);
    fakesdk::setWriteResult(fakeResult);

    ushort buffer[20] = {};
    bool connected = openFirst;
    switch (action) {
    case act::open:
    case act::reopen:
        QCOMPARE(g_comAdapter.slotOpenDevice(&record), result);
        connected = result == 0;
        {
            // The name is bound before the open that uses it; the numbers keep their low byte.
            const std::vector<fakesdk::Call> calls = fakesdk::calls();
            QCOMPARE(calls.at(calls.size() - 2).function, std::string("setPortName"));
            QCOMPARE(calls.back().portName, std::string("ttyUSB4"));
            const deviceDescriptor& d = calls.back().descriptor;
            QCOMPARE((QList<uint>{d.comPort, d.slaveAddress, d.baudRate, d.dataBits, d.stopBits, d.parity,
                                  d.responseTimeout, d.retries}),
                     (QList<uint>{4, 9, 19200, 7, 2, 1, 2500, 9}));
        }
        break;
    case act::close:
        QCOMPARE(g_comAdapter.slotCloseDevice(), result);
        connected = result != 0;
        break;
    case act::read:
        QCOMPARE(g_comAdapter.slotReadStatus(ushort(address), 20, buffer), result);
        QCOMPARE(fakesdk::countCalls("read"), address >= 40000 ? 1 : 0);
        QCOMPARE(uint(buffer[19]), result == 0 ? uint(quint16((address + 19) * 3)) : 0u);
        break;
    case act::write:
        QCOMPARE(g_comAdapter.slotWriteRegister(uint(address), 65535), result);
        QCOMPARE(fakesdk::countCalls("write"), address >= 40000 ? 1 : 0);
        QCOMPARE(uint(fakesdk::reg(40010)), result == 0 ? 65535u : 40010u * 3 % 65536);
        break;
    }
    QCOMPARE(g_comAdapter.isConnected(), connected);
    QCOMPARE(log.lines.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(log.lines.at(i).startsWith(lines.at(i)), qPrintable(log.lines.at(i)));
    const QStringList shown = log.hwVersions + log.fwVersions + log.drvVersions;
    QCOMPARE(shown, versions);
}

void tst_pages::linkLost_data()
{
    QTest::addColumn<int>("poll");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("failure");    // what every read returns; 0: the time alone
    QTest::addColumn<int>("lostAfter");  // ms of silence; -1: lost at once

    QTest::newRow("three poll cycles") << 1000 << 100 << 0 << 0 << 3000;
    QTest::newRow("hang-up: at once") << 20 << 100 << 0 << int(QR7215_E_LINK_LOST) << -1;
    QTest::newRow("I/O error: at once") << 20 << 100 << 0 << int(QR7215_E_IO) << -1;
    QTest::newRow("time-outs: at least two seconds") << 20 << 100 << 0 << int(QR7215_E_TIMEOUT) << 2000;
    QTest::newRow("bad CRCs: a request with all its retries") << 20 << 700 << 2 << int(QR7215_E_CRC) << 2100;
}

// A link is lost when the port hangs up, or when nothing has been answered
// for longer than the slowest answer could take; never before.
void tst_pages::linkLost()
{
    QFETCH(int, poll);
    QFETCH(int, timeout);
    QFETCH(int, retries);
    QFETCH(int, failure);
    QFETCH(int, lostAfter);

    comSettings record;
    record.pollDelay = quint32(poll);
    record.responseTimeout = quint32(timeout);
    record.numOfRetries = quint32(retries);
    if (lostAfter > 0)
        QCOMPARE(comAdapter::lostAfterMs(record), quint32(lostAfter));
    if (failure == 0)
        return;
    QElapsedTimer silence;
    silence.start();
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    fakesdk::setReadResult(failure);
    ushort buffer[20];
    const auto failedRead = [&] { return g_comAdapter.slotReadStatus(40016, 20, buffer) == failure; };
    QVERIFY(failedRead());
    QCOMPARE(g_comAdapter.linkLost(), lostAfter < 0);
    if (lostAfter > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(failedRead() && g_comAdapter.linkLost(), 3 * lostAfter);
        QVERIFY(silence.elapsed() >= lostAfter);
    }
    // The next open that succeeds trusts the link again.
    fakeLink::closeAny();
    QCOMPARE(g_comAdapter.slotOpenDevice(&record), 0);
    QVERIFY(!g_comAdapter.linkLost());
}

void tst_pages::pageKeepsWhatItShows_data()
{
    QTest::addColumn<QByteArray>("file");     // inside the Setting element; null: no file
    QTest::addColumn<QString>("control");   // the one edited; empty: Auto Hide, after a look at the record
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("text");        // in the record and, after the edit, in the file
    QTest::addColumn<bool>("connected");

    // A value the controls cannot show becomes the one they show, in the
    // record at once (a connect uses it) and in the file at the next save.
    const auto fitted = [](const char* name, const QByteArray& element, const QByteArray& value, const QString& text) {
        QTest::newRow(name) << "<" + element + ">" + value + "</" + element + ">" << QString() << QVariant()
                            << QString::fromLatin1(element) << text << false;
    };
    fitted("a port away for now is shown and kept", "ComPort", "COM7", "COM7");
    fitted("poll cycle 0 never spins the poll", "PollDelay", "0", "20");
    fitted("slave address 0", "SlaveId", "0", "1");
    fitted("slave address above 247", "SlaveId", "300", "247");
    fitted("slave address 200 is a Modbus address", "SlaveId", "200", "200");
    fitted("baud rate no item offers", "BaudRate", "12345", "115200");
    fitted("stop bits 3", "StopBits", "3", "1");
    fitted("data bits 7", "DataLen", "7", "8");
    fitted("parity 7", "Parity", "7", "0");
    fitted("mode 2", "ComMode", "2", "0");
    fitted("time-out above the most", "ResponseTimeout", "99999", "10000");
    fitted("retries above the most", "NumOfRetries", "500", "100");
    QTest::newRow("no file: the least poll cycle") << QByteArray() << QString() << QVariant() << "PollDelay" << "20" << false;
    QTest::newRow("no file: COM1 stands for the first port listed")
        << QByteArray() << QString() << QVariant() << "ComPort" << availableComPorts().value(0, "COM1") << false;

    // Every control saves when it changes.
    const auto edit = [](const char* name, const char* control, const QVariant& value, const char* element,
                         const char* text, bool connected = false, const QByteArray& file = QByteArray()) {
        QTest::newRow(name) << file << control << value << element << text << connected;
    };
    edit("Device Id", "m_spinBoxDeviceId", 42, "SlaveId", "42");
    edit("BaudRate", "m_comboBoxBaudRate", "9600", "BaudRate", "9600");
    edit("StopBits", "m_comboBoxStopBits", "2", "StopBits", "2");
    edit("Parity", "m_comboBoxParity", "Odd", "Parity", "2");
    edit("Resp. Timeout", "m_spinBoxRespTimeout", 3000, "ResponseTimeout", "3000");
    edit("Retry Count", "m_spinBoxRetryCount", 0, "NumOfRetries", "0");
    edit("Poll Cycle", "m_spinBoxPollCycle", 500, "PollDelay", "500");
    edit("Auto Connect", "m_checkBoxAutoConnect", true, "AutoConnect", "1");
    edit("Auto Boot on registers the entry", "m_checkBoxAutoBoot", true, "AutoBoot", "1");
    edit("Auto Boot off removes it", "m_checkBoxAutoBoot", false, "AutoBoot", "0", false, "<AutoBoot>1</AutoBoot>");
    edit("Auto Boot stays on through another edit", "m_spinBoxDeviceId", 9, "AutoBoot", "1", false, "<AutoBoot>1</AutoBoot>");
    edit("Auto Hide while connected", "m_checkBoxAutoHide", true, "AutoHide", "1", true);
    edit("Auto Connect while connected", "m_checkBoxAutoConnect", true, "AutoConnect", "1", true);
}

void tst_pages::pageKeepsWhatItShows()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, control);
    QFETCH(QVariant, value);
    QFETCH(QString, element);
    QFETCH(QString, text);
    QFETCH(bool, connected);

    if (!file.isNull())
        QVERIFY(putFile(configFile(), "<?xml version=\"1.0\"?><Settings><Setting>" + file + "</Setting></Settings>"));
    const bool registered = file.contains("<AutoBoot>1<");
    if (registered)
        QVERIFY(platform::registerAutoStart(kEntryName));
    const QByteArray before = fileBytes(configFile());

    LogCapture log;
    comSettingsWidget page;
    // Showing what was loaded saves nothing and leaves the entry alone.
    QCOMPARE(fileBytes(configFile()), before);
    QCOMPARE(QFile::exists(entryFile()), registered);
    std::unique_ptr<fakeLink> link;
    if (connected) {
        link = std::make_unique<fakeLink>();
        QVERIFY(link->isOpen());
        // The line settings lock while the link is open; the options do not.
        QTRY_VERIFY(!page.findChild<QSpinBox*>(QStringLiteral("m_spinBoxDeviceId"))->isEnabled());
    }
    if (control.isEmpty()) {
        QCOMPARE(recordField(page.settings(), element), text);
        control = QStringLiteral("m_checkBoxAutoHide");
        value = true;
    }

    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    QWidget* w = page.findChild<QWidget*>(control);
    QVERIFY(w && w->isEnabled());
    if (auto* spin = qobject_cast<QSpinBox*>(w))
        spin->setValue(value.toInt());
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentText(value.toString());
    else
        qobject_cast<QCheckBox*>(w)->setChecked(value.toBool());

    QCOMPARE(recordField(page.settings(), element), text);
    QCOMPARE(field(fileBytes(configFile()), element), text);
    QCOMPARE(pollSpy.count(), 1);
    QCOMPARE(pollSpy.at(0).at(0).toUInt(), page.settings().pollDelay);
    QCOMPARE(QFile::exists(entryFile()), page.settings().autoBoot);
    if (connected) {
        // Connect pressed again before the refresh tick disables it: the
        // library would refuse a second open, and the link must stay usable.
        fakesdk::setOpenResult(QR7215_E_ALREADY_OPEN);
        page.slotOnConnect();
        QSignalSpy ticks(page.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 2);
        QCOMPARE(fakesdk::countCalls("open"), 1);
        QCOMPARE(log.countStartingWith(QStringLiteral("Open device error:")), 0);
        QVERIFY(g_comAdapter.isConnected());
        link.reset();
        QTRY_VERIFY(page.findChild<QSpinBox*>(QStringLiteral("m_spinBoxDeviceId"))->isEnabled());
    }
}

// Auto Connect at start keeps trying until the module is there (1 s, then
// 2 s later), and tells the failure once.
void tst_pages::autoConnectKeepsTrying()
{
    QVERIFY(putFile(configFile(), "<Settings><Setting><AutoConnect>1</AutoConnect></Setting></Settings>"));
    fakesdk::setOpenResult(QR7215_E_PORT_NOT_FOUND);
    LogCapture log;
    comSettingsWidget page;
    // The poll thread learns its cycle before it hears of the link.
    QSignalSpy pollSpy(&page, &comSettingsWidget::signalPollCycleChanged);
    int announced = 0;
    connect(&page, &comSettingsWidget::signalConnect, this, [&](comSettings&) {
        QCOMPARE(pollSpy.count(), 1);
        ++announced;
    });
    QTRY_COMPARE_WITH_TIMEOUT(fakesdk::countCalls("open"), 2, 4000);
    fakesdk::setOpenResult(0);
    QTRY_VERIFY_WITH_TIMEOUT(g_comAdapter.isConnected(), 5000);
    QTRY_COMPARE(announced, 1);
    QCOMPARE(fakesdk::countCalls("open"), 3);
    QCOMPARE(log.countStartingWith(QStringLiteral("Open device error:")), 1);
}

QR_TEST_MAIN(tst_pages)
#include "tst_pages.moc"
