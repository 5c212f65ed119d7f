// The register table below its page: config_registers.xml as the model reads
// it, the example table against the register map, and the refresh (one block
// read, rows by their own address, values only from a good read of the link
// that is up, the pending write), directly and through the worker that
// carries it off the GUI thread. Runs against the fake device library.
#include "dataobject.h"
#include "fakelink.h"
#include "logcapture.h"
#include "registermap.h"
#include "registertablefixture.h"
#include "registerworker.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QAbstractItemModelTester>

#include <functional>
#include <map>
#include <memory>

using namespace registerFixture;

namespace {

void openFake()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

} // namespace

class tst_registerTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { fakeLink::closeAny(); }

    void loadsTable_data();
    void loadsTable();
    void exampleTableMatchesRegisterMap();
    void refresh_data();
    void refresh();
    void workerDestructionLetsTheExchangeFinish();
};

void tst_registerTable::init()
{
    fakeLink::closeAny();
    fakesdk::reset();
    QVERIFY(writeTable(QByteArray()));
}

void tst_registerTable::loadsTable_data()
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

void tst_registerTable::loadsTable()
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
void tst_registerTable::exampleTableMatchesRegisterMap()
{
    QFile shipped(QStringLiteral(QR7215_SOURCE_DIR "/resources/iconfigs/config_registers.xml"));
    QFile beside(QStringLiteral(QR7215_BIN_DIR "/iconfigs/config_registers.xml"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QVERIFY2(beside.open(QIODevice::ReadOnly), qPrintable(beside.fileName()));
    const QByteArray xml = beside.readAll();
    QCOMPARE(xml, shipped.readAll());
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

void tst_registerTable::refresh_data()
{
    // Steps: open, close, refresh, failreads, failwrites, ask:REG=VALUE,
    // withdraw:REG, discard (the page is switched off), take (the next
    // exchange, held back), run (it on this thread), garbage (it failed with
    // its buffer full), follow (the link is seen up again), apply (it is
    // taken in; one never run is one the link closed under), submit (the next
    // exchange through the worker, which takes no second one meanwhile, and
    // its outcome taken in).
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
}

void tst_registerTable::refresh()
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
    registerWorker worker;
    QList<registerTransaction> done;
    QThread* deliveredIn = nullptr;
    connect(&worker, &registerWorker::signalTransactionDone, this, [&](const registerTransaction& t) {
        deliveredIn = QThread::currentThread();
        done << t;
    }, Qt::DirectConnection);
    registerTransaction held;
    QString arg;
    const std::map<QString, std::function<void()>> act{
        {"open", openFake},
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
             QVERIFY(worker.submit(model.takeTransaction()));
             // The exchange may be over; its outcome is not back, since no
             // event has been processed: no second one meanwhile.
             worker.waitUntilIdle();
             QVERIFY(!worker.submit(registerTransaction::readBlock()));
             QTRY_COMPARE(done.size(), before + 1);
             QCOMPARE(deliveredIn, QThread::currentThread());
             model.applyTransaction(done.last());
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

void tst_registerTable::workerDestructionLetsTheExchangeFinish()
{
    openFake();
    auto worker = std::make_unique<registerWorker>();
    int delivered = 0;
    connect(worker.get(), &registerWorker::signalTransactionDone, this, [&delivered] { ++delivered; });
    QVERIFY(worker->submit(registerTransaction::readBlock()));
    worker.reset();
    // The exchange was carried out, not abandoned halfway ...
    QCOMPARE(fakesdk::countCalls("read"), 1);
    // ... and its outcome, addressed to a worker that is gone, is dropped.
    QCoreApplication::processEvents();
    QCOMPARE(delivered, 0);
}

QR_TEST_GUILESS_MAIN(tst_registerTable)
#include "tst_registertable.moc"
