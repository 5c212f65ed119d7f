// The "Config" page's refresh through its worker: one exchange at a time,
// a failed read keeps what is shown, a write goes out while the page is on or
// not at all. Runs against
// the fake device library.
#include "comadapter.h"
#include "comsettings.h"
#include "configwidget.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QTableView>

using namespace registerFixture;

class tst_configWidgetRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tickWhileExchangingStartsNothing();
    void writeDroppedWhenPageSwitchedOff();

private:
    void connectFake();
};

void tst_configWidgetRefresh::init()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    QVERIFY(writeTable(tableOf({"40000|Slave address|RW|a", "40001|Baud rate code|RW|b", "40012|Battery capacity|R|c"})));
}

void tst_configWidgetRefresh::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_configWidgetRefresh::connectFake()
{
    comSettings settings;
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_configWidgetRefresh::tickWhileExchangingStartsNothing()
{
    configWidget page;
    connectFake();
    page.slotOnUpdate();
    // The outcome comes back through the event loop: until then the page is
    // still exchanging, and a further tick must not queue a second exchange.
    QVERIFY(page.isExchanging());
    page.slotOnUpdate();
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    QCOMPARE(fakesdk::countCalls("read"), 1);
}

void tst_configWidgetRefresh::writeDroppedWhenPageSwitchedOff()
{
    configWidget page;
    connectFake();
    auto* model = qobject_cast<upsDataModel*>(page.findChild<QTableView*>()->model());
    LogCapture log;
    model->slotOnModifyRegister(40000, 9, true);
    page.slotOnSetEnabled(false);
    QVERIFY(!model->hasPendingWrite());
    QTRY_COMPARE(log.count(QStringLiteral("Write of register 40000 discarded: the link closed before it was sent. "
                                          "(value 9)")),
                 1);

    page.slotOnSetEnabled(true);
    QTRY_VERIFY(fakesdk::countCalls("read") >= 1);
    page.slotOnSetEnabled(false);
    QTRY_VERIFY(!page.isExchanging());
    QCOMPARE(fakesdk::countCalls("write"), 0);
}

QR_TEST_MAIN(tst_configWidgetRefresh)
#include "tst_configwidgetrefresh.moc"
