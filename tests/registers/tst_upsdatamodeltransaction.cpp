// The register table's refresh in two halves, as the "Config" page runs it:
// the exchange taken from the model, and its outcome taken back in, whatever
// became of it on the way. Runs against the fake device library.
#include "comadapter.h"
#include "comsettings.h"
#include "fakecalls.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "registertransaction.h"
#include "testenv.h"
#include "upsdatamodel.h"

using namespace registerFixture;

class tst_upsDataModelTransaction : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void transactionIsPendingWriteThenRead();
    void unsentWriteIsDropped();
    void unsentWriteYieldsToNewerRequest();
    void appliedFailedReadChangesNothing();
    void transactionWithLinkClosedSendsNothing();

private:
    void connectFake();
};

void tst_upsDataModelTransaction::init()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    removeTable();
}

void tst_upsDataModelTransaction::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_upsDataModelTransaction::connectFake()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_upsDataModelTransaction::transactionIsPendingWriteThenRead()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    model.slotOnModifyRegister(40007, qint16(-2), true);
    QVERIFY(model.hasPendingWrite());

    const registerTransaction write = model.takeTransaction();
    QVERIFY(write.isWrite());
    QCOMPARE(write.regAddr, 40007u);
    QCOMPARE(write.value, quint16(65534));
    QVERIFY(!model.hasPendingWrite());

    const registerTransaction read = model.takeTransaction();
    QVERIFY(!read.isWrite());
    // Deciding on an exchange touches no device.
    QCOMPARE(countCalls("read") + countCalls("write"), 0);
}

void tst_upsDataModelTransaction::unsentWriteIsDropped()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    LogCapture log;
    model.slotOnModifyRegister(40004, 12, true);
    registerTransaction write = model.takeTransaction();
    // The link closed before the worker's turn came: nothing went out.
    write.performed = false;
    model.applyTransaction(write);
    QVERIFY(!model.hasPendingWrite());
    QTRY_COMPARE(log.count(QStringLiteral("Write of register 40004 discarded: the link closed before it was sent. "
                                          "(value 12)")),
                 1);

    connectFake();
    model.updateData();
    QCOMPARE(countCalls("write"), 0);
}

void tst_upsDataModelTransaction::unsentWriteYieldsToNewerRequest()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    model.slotOnModifyRegister(40004, 12, true);
    registerTransaction first = model.takeTransaction();
    model.slotOnModifyRegister(40005, 13, true);
    first.performed = false;
    model.applyTransaction(first);

    connectFake();
    model.updateData();
    model.updateData();
    const auto writes = callsOf("write");
    QCOMPARE(writes.size(), size_t(1));
    QCOMPARE(writes[0].start, 40005u);

    // A withdrawn request is not brought back either.
    model.slotOnModifyRegister(40006, 1, true);
    registerTransaction third = model.takeTransaction();
    model.slotOnModifyRegister(40006, 1, false);
    third.performed = false;
    model.applyTransaction(third);
    QVERIFY(!model.hasPendingWrite());
}

void tst_upsDataModelTransaction::appliedFailedReadChangesNothing()
{
    QVERIFY(writeTable(tableOf(numberedItems(3))));
    upsDataModel model;
    connectFake();
    model.followLink(true);
    registerTransaction read = model.takeTransaction();
    read.performed = true;
    read.result = -104;
    read.values.fill(5);
    model.applyTransaction(read);
    QCOMPARE(valueText(model, 0), QString());

    read.result = 0;
    model.applyTransaction(read);
    QCOMPARE(valueText(model, 0), QStringLiteral("5"));
    QCOMPARE(valueText(model, 2), QStringLiteral("5"));

    // A block that was on its way while the link went down and came back
    // belongs to the link that has gone.
    registerTransaction late = model.takeTransaction();
    late.performed = true;
    late.result = 0;
    late.values.fill(6);
    model.followLink(false);
    model.followLink(true);
    model.applyTransaction(late);
    QCOMPARE(valueText(model, 0), QString());
}

void tst_upsDataModelTransaction::transactionWithLinkClosedSendsNothing()
{
    registerTransaction read = registerTransaction::readBlock();
    read.run();
    registerTransaction write = registerTransaction::writeRegister(40004, 1, 1);
    write.run();
    QVERIFY(!read.performed);
    QVERIFY(!write.performed);
    QVERIFY(!read.hasBlock());
    QCOMPARE(countCalls("read") + countCalls("write"), 0);
}

QR_TEST_GUILESS_MAIN(tst_upsDataModelTransaction)
#include "tst_upsdatamodeltransaction.moc"
