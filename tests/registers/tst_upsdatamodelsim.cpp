// The register table against the simulated module through the real device
// library: the block read, a pending write and a refused or failed exchange.
#include "comadapter.h"
#include "comsettings.h"
#include "dataobject.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "upsdatamodel.h"

using namespace registerFixture;

class tst_upsDataModelSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void tableFollowsModule();
    void rowShowsAndWritesItsOwnRegister();
    void pendingWriteReachesModule();
    void refusedWriteIsLoggedNotRetried();
    void failedReadKeepsValues();

private:
    SimulatorProcess m_sim;
    comSettings m_settings;
};

void tst_upsDataModelSim::initTestCase()
{
    QVERIFY2(m_sim.start(), qPrintable(SimulatorProcess::executable()));
    m_settings.comPort = m_sim.linkPath();
    m_settings.slaveId = 1;
    m_settings.responseTimeout = 300;
    m_settings.numOfRetries = 0;
}

void tst_upsDataModelSim::init()
{
    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QCOMPARE(g_comAdapter.slotOpenDevice(&m_settings), 0);
}

void tst_upsDataModelSim::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_upsDataModelSim::cleanupTestCase()
{
    m_sim.stop();
    removeTable();
}

void tst_upsDataModelSim::tableFollowsModule()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    QCOMPARE(model.rowCount(), 35);
    QVERIFY(m_sim.set(40012, 40000));
    QVERIFY(m_sim.set(40034, 7));

    model.updateData();
    QCOMPARE(valueText(model, 0), QString::number(m_sim.get(40000)));
    QCOMPARE(valueText(model, 7), QStringLiteral("12000"));
    QCOMPARE(valueText(model, 12), QStringLiteral("40000"));
    QCOMPARE(valueText(model, 34), QStringLiteral("7"));
}

void tst_upsDataModelSim::rowShowsAndWritesItsOwnRegister()
{
    // A gap, another order and a row outside the block.
    QVERIFY(writeTable(tableOf({"40006|x|RW|", "40003|y|R|", "0|z|R|"})));
    upsDataModel model;
    QVERIFY(m_sim.set(40000, 2));
    QVERIFY(m_sim.set(40003, 3));
    QVERIFY(m_sim.set(40006, 17));
    model.updateData();
    QCOMPARE(valueText(model, 0), QStringLiteral("17"));
    QCOMPARE(valueText(model, 1), QStringLiteral("3"));
    QCOMPARE(valueText(model, 2), QString());

    model.slotOnModifyRegister(static_cast<qint32>(model.getDataObject(0)->addr), 55, true);
    model.updateData();
    model.updateData();
    QCOMPARE(m_sim.get(40006), 55);
    QCOMPARE(m_sim.get(40000), 2);
    QCOMPARE(valueText(model, 0), QStringLiteral("55"));
}

void tst_upsDataModelSim::pendingWriteReachesModule()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    QVERIFY(m_sim.set(40005, 30));
    model.updateData();
    QCOMPARE(valueText(model, 5), QStringLiteral("30"));

    model.slotOnModifyRegister(40005, 45, true);
    model.slotOnModifyRegister(40005, 120, true);   // the later request replaces the earlier
    model.updateData();
    QCOMPARE(m_sim.get(40005), 120);
    QCOMPARE(valueText(model, 5), QStringLiteral("30"));   // that refresh only wrote

    model.updateData();
    QCOMPARE(valueText(model, 5), QStringLiteral("120"));
}

void tst_upsDataModelSim::refusedWriteIsLoggedNotRetried()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    LogCapture log;
    const int before = m_sim.get(40004);

    model.slotOnModifyRegister(40004, 200, true);   // above the module's 0..100
    model.updateData();
    QTRY_COMPARE(log.countStartingWith(QStringLiteral("ERR:")), 1);
    QVERIFY(log.lines.last().contains(QStringLiteral("When Setting register 40004 to value 200")));
    QCOMPARE(m_sim.get(40004), before);

    model.updateData();
    QCOMPARE(valueText(model, 4), QString::number(before));
    QCOMPARE(log.countStartingWith(QStringLiteral("ERR:")), 1);
}

void tst_upsDataModelSim::failedReadKeepsValues()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    QVERIFY(m_sim.set(40016, 23000));
    model.updateData();
    QCOMPARE(valueText(model, 16), QStringLiteral("23000"));

    QCOMPARE(m_sim.command(QStringLiteral("fault exception 4")), QStringLiteral("ok"));
    QVERIFY(m_sim.set(40016, 1));
    LogCapture log;
    model.updateData();
    QTRY_COMPARE(log.countStartingWith(QStringLiteral("ERR:")), 1);
    QCOMPARE(valueText(model, 16), QStringLiteral("23000"));

    QCOMPARE(m_sim.command(QStringLiteral("fault none")), QStringLiteral("ok"));
    model.updateData();
    QCOMPARE(valueText(model, 16), QStringLiteral("1"));
}

QR_TEST_GUILESS_MAIN(tst_upsDataModelSim)
#include "tst_upsdatamodelsim.moc"
