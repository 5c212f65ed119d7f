// The register table's worker: exchanges run off the calling thread, one at a
// time, and their outcome comes back by value. Runs against the fake device
// library.
#include "comadapter.h"
#include "comsettings.h"
#include "fakesdk.h"
#include "registertransaction.h"
#include "registerworker.h"
#include "testenv.h"

#include <QThread>

#include <memory>

class tst_registerWorker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readComesBackWithBlock();
    void writeComesBackWithResult();
    void failedReadComesBackWithoutBlock();
    void secondSubmitRefusedUntilOutcomeTaken();
    void closedLinkSendsNothing();
    void outcomeArrivesInOwnersThread();
    void waitUntilIdleWithNothingSubmitted();
    void destructionLetsExchangeFinish();

private:
    void connectFake();
};

void tst_registerWorker::init()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
}

void tst_registerWorker::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_registerWorker::connectFake()
{
    comSettings settings;
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_registerWorker::readComesBackWithBlock()
{
    connectFake();
    fakesdk::setRegister(40000, 11);
    fakesdk::setRegister(40034, 44);
    fakesdk::setRegister(40035, 55);
    registerWorker worker;
    QSignalSpy done(&worker, SIGNAL(signalTransactionDone(registerTransaction)));

    QVERIFY(worker.submit(registerTransaction::readBlock()));
    QVERIFY(worker.isBusy());
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(!worker.isBusy());

    const auto t = done.at(0).at(0).value<registerTransaction>();
    QVERIFY(t.hasBlock());
    QCOMPARE(t.values[0], quint16(11));
    QCOMPARE(t.values[34], quint16(44));
    // One block of 35 registers: the 36th is not read.
    QCOMPARE(t.values[35], quint16(0));
    const auto calls = fakesdk::calls();
    QCOMPARE(fakesdk::countCalls("read"), 1);
    QCOMPARE(calls.back().start, 40000u);
    QCOMPARE(calls.back().count, 35u);
}

void tst_registerWorker::writeComesBackWithResult()
{
    connectFake();
    fakesdk::setWriteResult(-103);
    registerWorker worker;
    QSignalSpy done(&worker, SIGNAL(signalTransactionDone(registerTransaction)));

    QVERIFY(worker.submit(registerTransaction::writeRegister(40005, 45, 3)));
    QTRY_COMPARE(done.count(), 1);
    const auto t = done.at(0).at(0).value<registerTransaction>();
    QVERIFY(t.isWrite());
    QVERIFY(t.performed);
    QCOMPARE(t.result, -103);
    QCOMPARE(t.request, quint64(3));
    QCOMPARE(fakesdk::countCalls("write"), 1);
    QCOMPARE(fakesdk::countCalls("read"), 0);
}

void tst_registerWorker::failedReadComesBackWithoutBlock()
{
    connectFake();
    fakesdk::setReadResult(-8);
    registerWorker worker;
    QSignalSpy done(&worker, SIGNAL(signalTransactionDone(registerTransaction)));
    QVERIFY(worker.submit(registerTransaction::readBlock()));
    QTRY_COMPARE(done.count(), 1);
    const auto t = done.at(0).at(0).value<registerTransaction>();
    QVERIFY(t.performed);
    QCOMPARE(t.result, -8);
    QVERIFY(!t.hasBlock());
}

void tst_registerWorker::secondSubmitRefusedUntilOutcomeTaken()
{
    connectFake();
    registerWorker worker;
    QSignalSpy done(&worker, SIGNAL(signalTransactionDone(registerTransaction)));

    QVERIFY(worker.submit(registerTransaction::readBlock()));
    // The exchange itself may be over already; its outcome has not been
    // handed back, since no event has been processed yet.
    worker.waitUntilIdle();
    QVERIFY(!worker.submit(registerTransaction::writeRegister(40004, 1, 1)));
    QCOMPARE(fakesdk::countCalls("read"), 1);
    QCOMPARE(fakesdk::countCalls("write"), 0);

    QTRY_COMPARE(done.count(), 1);
    QVERIFY(worker.submit(registerTransaction::writeRegister(40004, 1, 1)));
    QTRY_COMPARE(done.count(), 2);
    QCOMPARE(fakesdk::countCalls("write"), 1);
}

void tst_registerWorker::closedLinkSendsNothing()
{
    registerWorker worker;
    QSignalSpy done(&worker, SIGNAL(signalTransactionDone(registerTransaction)));
    QVERIFY(worker.submit(registerTransaction::writeRegister(40004, 1, 1)));
    QTRY_COMPARE(done.count(), 1);
    const auto t = done.at(0).at(0).value<registerTransaction>();
    QVERIFY(!t.performed);
    QCOMPARE(fakesdk::countCalls("write"), 0);
}

void tst_registerWorker::outcomeArrivesInOwnersThread()
{
    connectFake();
    registerWorker worker;
    QThread* deliveredIn = nullptr;
    connect(&worker, &registerWorker::signalTransactionDone, this,
            [&deliveredIn] { deliveredIn = QThread::currentThread(); }, Qt::DirectConnection);
    QVERIFY(worker.submit(registerTransaction::readBlock()));
    QTRY_VERIFY(deliveredIn != nullptr);
    QCOMPARE(deliveredIn, QThread::currentThread());
}

void tst_registerWorker::waitUntilIdleWithNothingSubmitted()
{
    registerWorker worker;
    worker.waitUntilIdle();
    QVERIFY(!worker.isBusy());
    QCOMPARE(fakesdk::calls().size(), size_t(0));
}

void tst_registerWorker::destructionLetsExchangeFinish()
{
    connectFake();
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

QR_TEST_GUILESS_MAIN(tst_registerWorker)
#include "tst_registerworker.moc"
