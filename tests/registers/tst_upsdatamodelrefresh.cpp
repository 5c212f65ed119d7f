// How the register table follows the device: one block read per refresh, a
// pending write instead of a read, what rows show when a read fails or does
// not cover them, and the refresh in two halves (the exchange taken from the
// model, its outcome taken back in). Runs against the fake device library.
#include "comadapter.h"
#include "comsettings.h"
#include "dataobject.h"
#include "fakecalls.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "testenv.h"
#include "upsdatamodel.h"
#include "registertransaction.h"

using namespace registerFixture;

class tst_upsDataModelRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void notConnectedDoesNothing();
    void oneBlockReadPerRefresh();
    void rowShowsItsOwnRegister();
    void rowsPastBlockShowNoValue();
    void valuesShowUnsigned_data();
    void valuesShowUnsigned();
    void failedReadKeepsValues();
    void pendingWriteReplacesRead_data();
    void pendingWriteReplacesRead();
    void lastOfTwoRequestsWins();
    void withdrawnRequestSendsNothing();
    void linkDownDropsValuesAndWrite();
    void failedWriteIsNotRetried();

    void transactionIsPendingWriteThenRead();
    void unsentWriteIsDropped();
    void unsentWriteYieldsToNewerRequest();
    void appliedFailedReadChangesNothing();
    void transactionWithLinkClosedSendsNothing();
private:
    void connectFake();
};

void tst_upsDataModelRefresh::init()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    removeTable();
}

void tst_upsDataModelRefresh::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_upsDataModelRefresh::connectFake()
{
    comSettings settings;
    settings.comPort = QStringLiteral("ttyFAKE0");
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
    QVERIFY(g_comAdapter.isConnected());
}

void tst_upsDataModelRefresh::notConnectedDoesNothing()
{
    QVERIFY(writeTable(tableOf(numberedItems(3))));
    fakesdk::setRegister(40000, 5);
    upsDataModel model;
    model.updateData();
    QCOMPARE(countCalls("read"), 0);
    QCOMPARE(countCalls("write"), 0);
    QCOMPARE(valueText(model, 0), QString());
}

void tst_upsDataModelRefresh::oneBlockReadPerRefresh()
{
    QVERIFY(writeTable(tableOf(numberedItems(40))));
    upsDataModel model;
    connectFake();
    model.updateData();
    model.updateData();

    const auto reads = callsOf("read");
    QCOMPARE(reads.size(), size_t(2));
    for (const fakesdk::Call& c : reads) {
        QCOMPARE(c.start, 40000u);
        QCOMPARE(c.count, 35u);
    }
    QCOMPARE(countCalls("write"), 0);
}

void tst_upsDataModelRefresh::rowShowsItsOwnRegister()
{
    // Gaps, another order, a register twice, addresses outside the block.
    QVERIFY(writeTable(tableOf({"40005|a|RW|", "40000|b|R|", "0|c|W|", "|d||", "40034|e|R|", "40035|f|R|",
                                "40005|a again|R|"})));
    for (int i = 0; i < 36; ++i)
        fakesdk::setRegister(40000 + i, quint16(100 + i));
    upsDataModel model;
    connectFake();
    model.updateData();

    const QStringList shown{"105", "100", "", "", "134", "", "105"};
    for (int row = 0; row < shown.size(); ++row)
        QCOMPARE(valueText(model, row), shown.at(row));
}

void tst_upsDataModelRefresh::rowsPastBlockShowNoValue()
{
    QVERIFY(writeTable(tableOf(numberedItems(52))));
    for (int i = 0; i < 60; ++i)
        fakesdk::setRegister(40000 + i, quint16(1000 + i));
    upsDataModel model;
    QCOMPARE(model.rowCount(), 52);
    QCOMPARE(valueText(model, 34), QString());
    QCOMPARE(valueText(model, 35), QString());

    connectFake();
    model.updateData();
    QCOMPARE(valueText(model, 0), QStringLiteral("1000"));
    QCOMPARE(valueText(model, 34), QStringLiteral("1034"));
    for (int row = 35; row < 52; ++row) {
        QCOMPARE(valueText(model, row), QString());
        QVERIFY(!model.getDataObject(static_cast<short>(row))->hasValue);
    }
    // The rest of the row is still shown.
    QCOMPARE(model.data(model.index(40, 1)).toString(), QStringLiteral("reg40"));
}

void tst_upsDataModelRefresh::valuesShowUnsigned_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("0") << 0 << "0";
    QTest::newRow("32767") << 32767 << "32767";
    QTest::newRow("32768") << 32768 << "32768";
    QTest::newRow("40000") << 40000 << "40000";
    QTest::newRow("65535") << 65535 << "65535";
}

void tst_upsDataModelRefresh::valuesShowUnsigned()
{
    QFETCH(int, value);
    QFETCH(QString, shown);

    QVERIFY(writeTable(tableOf(numberedItems(5))));
    fakesdk::setRegister(40003, quint16(value));
    upsDataModel model;
    connectFake();
    model.updateData();
    QCOMPARE(valueText(model, 3), shown);
}

void tst_upsDataModelRefresh::failedReadKeepsValues()
{
    QVERIFY(writeTable(tableOf(numberedItems(3))));
    upsDataModel model;
    connectFake();

    // Before any good read the rows show no value.
    fakesdk::setReadResult(-8);
    model.updateData();
    QCOMPARE(valueText(model, 0), QString());

    fakesdk::setReadResult(0);
    fakesdk::setRegister(40000, 7);
    fakesdk::setRegister(40002, 9);
    model.updateData();
    QCOMPARE(valueText(model, 0), QStringLiteral("7"));

    fakesdk::setReadResult(-11);
    fakesdk::setRegister(40000, 70);
    fakesdk::setRegister(40002, 90);
    model.updateData();
    QCOMPARE(valueText(model, 0), QStringLiteral("7"));
    QCOMPARE(valueText(model, 2), QStringLiteral("9"));

    fakesdk::setReadResult(0);
    model.updateData();
    QCOMPARE(valueText(model, 0), QStringLiteral("70"));
}

void tst_upsDataModelRefresh::pendingWriteReplacesRead_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("before the table shows values") << false;
    QTest::newRow("while the table shows values") << true;
}

void tst_upsDataModelRefresh::pendingWriteReplacesRead()
{
    QFETCH(bool, shown);
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    connectFake();
    LogCapture log;
    const int reads = shown ? 1 : 0;
    if (shown) {
        model.updateData();
        QCOMPARE(valueText(model, 4), QStringLiteral("0"));
    }

    model.slotOnModifyRegister(40004, 55, true);
    model.updateData();
    QCOMPARE(countCalls("read"), reads);
    const auto writes = callsOf("write");
    QCOMPARE(writes.size(), size_t(1));
    QCOMPARE(writes[0].start, 40004u);
    QCOMPARE(writes[0].count, 1u);
    QCOMPARE(writes[0].value, quint16(55));
    // The refresh that writes reads nothing: the row shows the new value one refresh later.
    QCOMPARE(valueText(model, 4), shown ? QStringLiteral("0") : QString());
    QTRY_COMPARE(log.count(QStringLiteral("SUCCESS: Setting register 40004 to value 55")), 1);

    model.updateData();
    QCOMPARE(countCalls("read"), reads + 1);
    QCOMPARE(countCalls("write"), 1);
    QCOMPARE(valueText(model, 4), QStringLiteral("55"));
}

void tst_upsDataModelRefresh::lastOfTwoRequestsWins()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    connectFake();

    model.slotOnModifyRegister(40004, 1, true);
    model.slotOnModifyRegister(40008, qint16(40000), true);
    model.updateData();
    model.updateData();

    const auto writes = callsOf("write");
    QCOMPARE(writes.size(), size_t(1));
    QCOMPARE(writes[0].start, 40008u);
    // The word travels as a signed 16-bit value and reaches the device unchanged.
    QCOMPARE(writes[0].value, quint16(40000));
    QCOMPARE(fakesdk::reg(40004), quint16(0));
    QCOMPARE(valueText(model, 8), QStringLiteral("40000"));
}

void tst_upsDataModelRefresh::withdrawnRequestSendsNothing()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    connectFake();

    model.slotOnModifyRegister(40004, 1, true);
    model.slotOnModifyRegister(40004, 1, false);
    model.updateData();
    QCOMPARE(countCalls("write"), 0);
    QCOMPARE(countCalls("read"), 1);
}

void tst_upsDataModelRefresh::linkDownDropsValuesAndWrite()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    fakesdk::setRegister(40006, 4);
    upsDataModel model;
    connectFake();
    model.updateData();
    QCOMPARE(valueText(model, 6), QStringLiteral("4"));
    LogCapture log;

    g_comAdapter.slotCloseDevice();
    model.slotOnModifyRegister(40006, 15, true);
    model.updateData();
    model.updateData();
    QCOMPARE(valueText(model, 6), QString());
    QVERIFY(!model.hasPendingWrite());
    const QString line = QStringLiteral("Write of register 40006 discarded: the link closed before it was sent. (value 15)");
    QTRY_COMPARE(log.count(line), 1);

    // Nor does it go out on the next link.
    connectFake();
    model.updateData();
    QCOMPARE(countCalls("write"), 0);
    QCOMPARE(countCalls("read"), 2);
    QCOMPARE(log.count(line), 1);
}

void tst_upsDataModelRefresh::failedWriteIsNotRetried()
{
    QVERIFY(writeTable(tableOf(numberedItems(10))));
    upsDataModel model;
    connectFake();
    fakesdk::setWriteResult(-102);

    model.slotOnModifyRegister(40001, 3, true);
    model.updateData();
    model.updateData();
    QCOMPARE(countCalls("write"), 1);
    QCOMPARE(countCalls("read"), 1);
}

void tst_upsDataModelRefresh::transactionIsPendingWriteThenRead()
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

void tst_upsDataModelRefresh::unsentWriteIsDropped()
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

void tst_upsDataModelRefresh::unsentWriteYieldsToNewerRequest()
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

void tst_upsDataModelRefresh::appliedFailedReadChangesNothing()
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

void tst_upsDataModelRefresh::transactionWithLinkClosedSendsNothing()
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

QR_TEST_GUILESS_MAIN(tst_upsDataModelRefresh)
#include "tst_upsdatamodelrefresh.moc"
