// The "Config" page: policy and script in the settings store, the refresh
// timer (no second exchange while one is out, the pending write dropped when
// the page is switched off), selections across refreshes and the way to the
// write dialog.
#include "comadapter.h"
#include "comsettings.h"
#include "configdialog.h"
#include "configwidget.h"
#include "fakesdk.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "settingslocation.h"
#include "settingsstore.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableView>

using namespace registerFixture;

namespace {

// The page with its file dialog replaced by a chosen answer.
class scriptChoosingConfigWidget : public configWidget
{
public:
    QString nextChoice;
    int dialogsOpened = 0;

protected:
    QString chooseScriptFile() override
    {
        ++dialogsOpened;
        return nextChoice;
    }
};

QString storeFile()
{
    return platform::settingsStorePath();
}

QByteArray storeContents()
{
    QFile file(storeFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeRawPolicy(const QString& text)
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    store.setValue(QStringLiteral("batExecutePolicy"), text);
}

} // namespace

class tst_configWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyStoreWritesNothing();
    void storedPolicySelectsItemAndIsWrittenBack_data();
    void storedPolicySelectsItemAndIsWrittenBack();
    void storedPolicyOutsideItemsShowsNull();
    void choosingPolicyWritesAndEmitsOncePerChange();
    void reloadFollowsStore();
    void chosenScriptIsStored_data();
    void chosenScriptIsStored();
    void cancelKeepsScriptPathClearEmptiesIt();
    void saveWritesScriptPath();
    void setEnabledStartsAndStopsRefresh();
    void selectionSurvivesRefresh();
    void doubleClickOpensDialogOnlyForWritableRows_data();
    void doubleClickOpensDialogOnlyForWritableRows();
    void dialogWriteReachesDevice();

    void tickWhileExchangingStartsNothing();
    void writeDroppedWhenPageSwitchedOff();
private:
    void connectFake();
};

void tst_configWidget::init()
{
    QFile::remove(storeFile());
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
    fakesdk::reset();
    QVERIFY(writeTable(tableOf({"40000|Slave address|RW|a", "40011|Command|W|b", "40012|Battery capacity|R|c",
                                "40013|Odd|X|d", "40014|Charge cycles|R|e"})));
}

void tst_configWidget::cleanup()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

void tst_configWidget::connectFake()
{
    comSettings settings;
    QCOMPARE(g_comAdapter.slotOpenDevice(&settings), 0);
}

void tst_configWidget::emptyStoreWritesNothing()
{
    configWidget page;
    QSignalSpy spy(&page, SIGNAL(signalOnPolicyChanged(int)));
    QCOMPARE(page.findChild<QComboBox*>("m_comboPolicy")->currentText(), QStringLiteral("NULL"));
    QCOMPARE(page.findChild<QLineEdit*>("m_lineEditBatPath")->text(), QString());
    QVERIFY(!QFile::exists(storeFile()));
    page.slotOnLoadFromRegisterTable();
    QVERIFY(!QFile::exists(storeFile()));
    QCOMPARE(spy.count(), 0);
}

void tst_configWidget::storedPolicySelectsItemAndIsWrittenBack_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("writtenBack");

    // A value written as "02" shows whether the page wrote it back as 2.
    QTest::newRow("SW") << "02" << "SW" << true;
    QTest::newRow("DC_OK") << "01" << "DC_OK" << true;
    QTest::newRow("NULL is already shown") << "00" << "NULL" << false;
}

void tst_configWidget::storedPolicySelectsItemAndIsWrittenBack()
{
    QFETCH(QString, stored);
    QFETCH(QString, item);
    QFETCH(bool, writtenBack);

    writeRawPolicy(stored);
    settingsStore::setBatPath(QStringLiteral("/opt/ups/on-power-loss.sh"));
    configWidget page;
    QCOMPARE(page.findChild<QComboBox*>("m_comboPolicy")->currentText(), item);
    QCOMPARE(page.findChild<QLineEdit*>("m_lineEditBatPath")->text(), QStringLiteral("/opt/ups/on-power-loss.sh"));
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    QCOMPARE(store.value(QStringLiteral("batExecutePolicy")).toString(),
             writtenBack ? QString::number(stored.toUInt()) : stored);
}

void tst_configWidget::storedPolicyOutsideItemsShowsNull()
{
    settingsStore::setBatExecutePolicy(7);
    const QByteArray before = storeContents();
    configWidget page;
    auto* combo = page.findChild<QComboBox*>("m_comboPolicy");
    QCOMPARE(combo->currentText(), QStringLiteral("NULL"));
    QCOMPARE(storeContents(), before);
    QCOMPARE(settingsStore::batExecutePolicy(), 7u);

    // After "SW" was chosen, a reload of the odd value goes back to "NULL",
    // tells the status page and still leaves the store alone.
    combo->setCurrentIndex(2);
    settingsStore::setBatExecutePolicy(9);
    QSignalSpy spy(&page, SIGNAL(signalOnPolicyChanged(int)));
    page.slotOnLoadFromRegisterTable();
    QCOMPARE(combo->currentText(), QStringLiteral("NULL"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    QCOMPARE(settingsStore::batExecutePolicy(), 9u);
}

void tst_configWidget::choosingPolicyWritesAndEmitsOncePerChange()
{
    configWidget page;
    auto* combo = page.findChild<QComboBox*>("m_comboPolicy");
    QSignalSpy spy(&page, SIGNAL(signalOnPolicyChanged(int)));

    // The operator steps down one item with the keyboard.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), QStringLiteral("DC_OK"));
    QCOMPARE(settingsStore::batExecutePolicy(), 1u);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);

    // Choosing the same item again neither writes nor announces.
    settingsStore::setBatExecutePolicy(0);
    combo->setCurrentIndex(1);
    QCOMPARE(settingsStore::batExecutePolicy(), 0u);
    QCOMPARE(spy.count(), 1);

    combo->setCurrentIndex(2);
    QCOMPARE(settingsStore::batExecutePolicy(), 2u);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 2);
}

void tst_configWidget::reloadFollowsStore()
{
    configWidget page;
    QSignalSpy spy(&page, SIGNAL(signalOnPolicyChanged(int)));
    settingsStore::setBatExecutePolicy(2);
    settingsStore::setBatPath(QStringLiteral("/srv/run me.sh"));
    page.slotOnLoadFromRegisterTable();
    QCOMPARE(page.findChild<QComboBox*>("m_comboPolicy")->currentText(), QStringLiteral("SW"));
    QCOMPARE(page.findChild<QLineEdit*>("m_lineEditBatPath")->text(), QStringLiteral("/srv/run me.sh"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
}

void tst_configWidget::chosenScriptIsStored_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("logged");   // how the log says it will run; empty: nothing

    QTest::newRow("executable with #!") << QByteArray("#!/bin/sh\n") << true << "";
    QTest::newRow("not executable, no #!")
        << QByteArray("echo\n") << false << "is not executable and has no \"#!\" line: it will be run with /bin/sh.";
    QTest::newRow("executable, no #!") << QByteArray("echo\n") << true
                                      << "has no \"#!\" line: it will be run with /bin/sh.";
    QTest::newRow("binary, not executable")
        << QByteArray("\x7f" "ELF\0\0", 6) << false << "cannot be run: not executable and not a shell script.";
}

void tst_configWidget::chosenScriptIsStored()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, executable);
    QFETCH(QString, logged);

    QFile script(testsupport::tempRoot() + QStringLiteral("/on dc loss.sh"));
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(contents);
    script.close();
    QVERIFY(script.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                             : QFile::ReadOwner | QFile::WriteOwner));

    scriptChoosingConfigWidget page;
    LogCapture log;
    page.nextChoice = script.fileName();
    QTest::mouseClick(page.findChild<QPushButton*>("m_btnOpenBatFile"), Qt::LeftButton);
    QCOMPARE(page.dialogsOpened, 1);
    QCOMPARE(settingsStore::batPath(), page.nextChoice);
    QCOMPARE(page.findChild<QLineEdit*>("m_lineEditBatPath")->text(), page.nextChoice);
    const QString prefix = QStringLiteral("Script ") + script.fileName() + QLatin1Char(' ');
    if (logged.isEmpty())
        QCOMPARE(log.countStartingWith(prefix), 0);
    else
        QTRY_COMPARE(log.count(prefix + logged), 1);
}

void tst_configWidget::cancelKeepsScriptPathClearEmptiesIt()
{
    settingsStore::setBatPath(QStringLiteral("/opt/ups/old.sh"));
    scriptChoosingConfigWidget page;
    auto* field = page.findChild<QLineEdit*>("m_lineEditBatPath");
    QCOMPARE(field->text(), QStringLiteral("/opt/ups/old.sh"));

    page.nextChoice.clear();
    page.slotOnOpenBatFile();
    QCOMPARE(page.dialogsOpened, 1);
    QCOMPARE(settingsStore::batPath(), QStringLiteral("/opt/ups/old.sh"));
    QCOMPARE(field->text(), QStringLiteral("/opt/ups/old.sh"));

    QTest::mouseClick(page.findChild<QPushButton*>("m_btnClearBatFile"), Qt::LeftButton);
    QCOMPARE(page.dialogsOpened, 1);
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    QVERIFY(store.contains(QStringLiteral("batPath")));
    QCOMPARE(settingsStore::batPath(), QString());
    QCOMPARE(field->text(), QString());
}

void tst_configWidget::saveWritesScriptPath()
{
    scriptChoosingConfigWidget page;
    page.nextChoice = QStringLiteral("/opt/ups/a.sh");
    page.slotOnOpenBatFile();
    settingsStore::setBatPath(QStringLiteral("/elsewhere.sh"));
    settingsStore::setBatExecutePolicy(2);
    page.slotOnSaveToRegisterTable();
    QCOMPARE(settingsStore::batPath(), QStringLiteral("/opt/ups/a.sh"));
    QCOMPARE(settingsStore::batExecutePolicy(), 2u);   // the policy is not saved here
}

void tst_configWidget::setEnabledStartsAndStopsRefresh()
{
    configWidget page;
    connectFake();
    QVERIFY(!page.isRefreshing());

    page.slotOnSetEnabled(true);
    QVERIFY(page.isRefreshing());
    QTRY_VERIFY(fakesdk::countCalls("read") >= 2);

    page.slotOnSetEnabled(false);
    QVERIFY(!page.isRefreshing());
    const int reads = fakesdk::countCalls("read");
    QTest::qWait(350);   // three intervals: a running timer would have read again
    QCOMPARE(fakesdk::countCalls("read"), reads);

    page.slotOnSetEnabled(true);
    QTRY_VERIFY(fakesdk::countCalls("read") > reads);
    page.slotOnSetEnabled(false);
}

void tst_configWidget::selectionSurvivesRefresh()
{
    configWidget page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    connectFake();
    fakesdk::setRegister(40011, 4321);
    auto* view = page.findChild<QTableView*>();
    auto* model = view->model();
    view->selectionModel()->select(model->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

    page.slotOnSetEnabled(true);
    QTRY_VERIFY(fakesdk::countCalls("read") >= 3);
    page.slotOnSetEnabled(false);

    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).row(), 1);
    QCOMPARE(rows.at(1).row(), 3);
    QCOMPARE(valueText(*model, 1), QStringLiteral("4321"));
}

void tst_configWidget::doubleClickOpensDialogOnlyForWritableRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("address");   // empty: the dialog stays closed

    QTest::newRow("RW row, value column") << 0 << 2 << "40000";
    QTest::newRow("RW row, name column") << 0 << 1 << "40000";
    QTest::newRow("W row") << 1 << 4 << "40011";
    QTest::newRow("R row") << 2 << 2 << "";
    QTest::newRow("row without access") << 3 << 0 << "";
    QTest::newRow("no row") << 9 << 0 << "";
}

void tst_configWidget::doubleClickOpensDialogOnlyForWritableRows()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, address);

    configWidget page;
    auto* dialog = page.findChild<configDialog*>();
    QSignalSpy shown(dialog, SIGNAL(signalDialogShown(bool)));
    auto* model = page.findChild<QTableView*>()->model();
    const QModelIndex index = row < model->rowCount() ? model->index(row, column) : QModelIndex();

    page.slotOnRowDoubleClicked(index);
    QCOMPARE(dialog->isVisible(), !address.isEmpty());
    QCOMPARE(shown.count(), address.isEmpty() ? 0 : 1);
    if (!address.isEmpty())
        QCOMPARE(dialog->findChild<QLabel*>("m_lblRegisterAddressValue")->text(), address);
    dialog->hide();
}

void tst_configWidget::dialogWriteReachesDevice()
{
    QVERIFY(installExampleTable());
    configWidget page;
    connectFake();
    auto* model = page.findChild<QTableView*>()->model();
    auto* dialog = page.findChild<configDialog*>();

    page.slotOnRowDoubleClicked(model->index(5, 2));   // 40005, Shutdown delay
    QVERIFY(dialog->isVisible());
    dialog->findChild<QLineEdit*>("m_lineEditRegisterValue")->setText(QStringLiteral("45"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(fakesdk::countCalls("write"), 0);

    // The refresh hands the write to the worker instead of that tick's read.
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    QCOMPARE(fakesdk::countCalls("write"), 1);
    QCOMPARE(fakesdk::countCalls("read"), 0);
    QCOMPARE(fakesdk::reg(40005), quint16(45));
    page.slotOnUpdate();
    QTRY_COMPARE(valueText(*model, 5), QStringLiteral("45"));
    QCOMPARE(fakesdk::countCalls("read"), 1);
}

void tst_configWidget::tickWhileExchangingStartsNothing()
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

void tst_configWidget::writeDroppedWhenPageSwitchedOff()
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

QR_TEST_MAIN(tst_configWidget)
#include "tst_configwidget.moc"
