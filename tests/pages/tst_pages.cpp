// What the pages add to the logic below them: the write dialog's Ok, Enter,
// Cancel and Escape; the Config page's policy and script in the settings
// store, its refresh through the worker and its way to the dialog; the log
// page's stamp and bound. Runs against the fake device library.
#include "configdialog.h"
#include "configwidget.h"
#include "childprocess.h"
#include "dataobject.h"
#include "eventlogfile.h"
#include "fakelink.h"
#include "inforwidget.h"
#include "logcapture.h"
#include "registertablefixture.h"
#include "settingslocation.h"
#include "settingsstore.h"
#include "testenv.h"
#include "upsdatamodel.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBlock>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

class tst_pages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { fakeLink::closeAny(); }

    void dialogCloses_data();
    void dialogCloses();
    void policyFromTheStore_data();
    void policyFromTheStore();
    void scriptFromTheFileDialog_data();
    void scriptFromTheFileDialog();
    void refreshWhileThePageIsOn();
    void doubleClickWritesThroughTheDialog_data();
    void doubleClickWritesThroughTheDialog();
    void logPageStampsAndKeepsTheNewestLines();
    void logFileHoldsThePagesLines();
    void logFileRotates_data();
    void logFileRotates();
    void logFileRefusedThenWritten_data();
    void logFileRefusedThenWritten();
    void logSavedWholeOrNotAtAll_data();
    void logSavedWholeOrNotAtAll();
};

void tst_pages::init()
{
    fakeLink::closeAny();
    fakesdk::reset();
    QFile::remove(platform::settingsStorePath());
    QVERIFY(registerFixture::writeTable(registerFixture::tableOf(
        {"40000|Slave address|RW|a", "40011|Command|W|b", "40012|Battery capacity|R|c", "40013|Odd|X|d"})));
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
    QTest::newRow("DC_OK") << "01" << "DC_OK" << "1";
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
    QFile script(testsupport::tempRoot() + QStringLiteral("/on dc loss.sh"));
    if (!contents.isNull()) {
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(contents);
        script.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        QVERIFY(script.setPermissions(executable ? permissions | QFile::ExeOwner : permissions));
        page.nextChoice = script.fileName();
    }
    LogCapture log;
    QTest::mouseClick(page.findChild<QPushButton*>("m_btnOpenBatFile"), Qt::LeftButton);
    const QString chosen = contents.isNull() ? old : script.fileName();
    QCOMPARE(settingsStore::batPath(), chosen);
    QCOMPARE(field->text(), chosen);
    QTRY_COMPARE(log.lines.filter(QStringLiteral("Script ")),
                 logged.isEmpty() ? QStringList() : QStringList{QStringLiteral("Script %1 %2").arg(chosen, logged)});
    QFile::remove(script.fileName());

    QTest::mouseClick(page.findChild<QPushButton*>("m_btnClearBatFile"), Qt::LeftButton);
    QCOMPARE(settingsStore::batPath(), QString());
    QCOMPARE(field->text(), QString());
}

void tst_pages::refreshWhileThePageIsOn()
{
    configWidget page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    fakeLink link;
    QVERIFY(link.isOpen());
    fakesdk::setRegister(40011, 4321);
    auto* view = page.findChild<QTableView*>();
    auto* model = qobject_cast<upsDataModel*>(view->model());

    // A write asked for goes out while the page is on, or not at all.
    model->slotOnModifyRegister(40000, 9, true);
    page.slotOnSetEnabled(false);
    QVERIFY(!model->hasPendingWrite());

    for (int row : {1, 3})
        view->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    page.slotOnSetEnabled(true);
    QVERIFY(page.isRefreshing());
    QTRY_VERIFY(fakesdk::countCalls("read") >= 3);
    page.slotOnSetEnabled(false);
    QVERIFY(!page.isRefreshing());
    QTRY_VERIFY(!page.isExchanging());
    QCOMPARE(registerFixture::valueText(*model, 1), QStringLiteral("4321"));
    QCOMPARE(view->selectionModel()->selectedRows().size(), 2);
    QVERIFY(view->selectionModel()->isRowSelected(1, {}) && view->selectionModel()->isRowSelected(3, {}));
    QCOMPARE(fakesdk::countCalls("write"), 0);
}

void tst_pages::doubleClickWritesThroughTheDialog_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("address");   // empty: the dialog stays closed

    QTest::newRow("RW row, value column") << 0 << 2 << "40000";
    QTest::newRow("RW row, name column") << 0 << 1 << "40000";
    QTest::newRow("W row") << 1 << 3 << "40011";
    QTest::newRow("R row") << 2 << 2 << "";
    QTest::newRow("row without access") << 3 << 0 << "";
    QTest::newRow("no row") << -1 << 0 << "";
}

void tst_pages::doubleClickWritesThroughTheDialog()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, address);

    configWidget page;
    fakeLink link;
    QVERIFY(link.isOpen());
    auto* dialog = page.findChild<configDialog*>();
    page.slotOnUpdate();   // a read goes out
    QVERIFY(page.isExchanging());

    auto* model = page.findChild<QTableView*>()->model();
    page.slotOnRowDoubleClicked(row < 0 ? QModelIndex() : model->index(row, column));
    QCOMPARE(dialog->isVisible(), !address.isEmpty());
    if (dialog->isVisible()) {
        QCOMPARE(dialog->findChild<QLabel*>("m_lblRegisterAddressValue")->text(), address);
        dialog->findChild<QLineEdit*>("m_lineEditRegisterValue")->setText(QStringLiteral("45"));
        dialog->slotOnAccept();
    }
    // The ticks while that read is out start nothing, and leave the write
    // for the first tick after it.
    page.slotOnUpdate();
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    page.slotOnUpdate();
    QTRY_VERIFY(!page.isExchanging());
    QCOMPARE(fakesdk::countCalls("read"), address.isEmpty() ? 2 : 1);
    QCOMPARE(fakesdk::countCalls("write"), address.isEmpty() ? 0 : 1);
    if (!address.isEmpty())
        QCOMPARE(QStringLiteral("%1=%2").arg(fakesdk::calls().back().start).arg(fakesdk::calls().back().value),
                 address + QStringLiteral("=45"));
}

void tst_pages::logPageStampsAndKeepsTheNewestLines()
{
    inforWidget page;
    QTextDocument* log = page.findChild<QPlainTextEdit*>("m_statusOutput")->document();
    // Whole milliseconds, as the stamp shows them.
    const QDateTime before = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch());
    page.slotOnShowMsg(QStringLiteral("Read registers failed: -1"));
    const QDateTime after = QDateTime::currentDateTime();
    const QString line = log->firstBlock().text();
    QCOMPARE(line.mid(23), QStringLiteral(">>Read registers failed: -1"));
    const QDateTime stamp = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(line));

    // The stamped line and the first 250 of these are the oldest, and go.
    const int count = inforWidget::maxLogLines + 250;
    for (int i = 0; i < count; ++i)
        page.slotOnShowMsg(QString::number(i));
    QCOMPARE(log->blockCount(), inforWidget::maxLogLines);
    QVERIFY(log->firstBlock().text().endsWith(QStringLiteral(">>250")));
    QVERIFY(log->lastBlock().text().endsWith(QStringLiteral(">>%1").arg(count - 1)));
}

void tst_pages::logFileHoldsThePagesLines()
{
    QTemporaryDir dir;
    inforWidget page;
    eventLogFile file(dir.filePath(QStringLiteral("state/QR-7215.log")));
    connect(&page, SIGNAL(signalLineShown(const QString&)), &file, SLOT(slotOnLine(const QString&)));
    connect(&g_consolePrint, SIGNAL(signalShowMsg(const QString&)), &page, SLOT(slotOnShowMsg(const QString&)));
    for (const QString& msg : {QStringLiteral("DC is broken."), QString(), QStringLiteral("two\nparts"),
                               QStringLiteral("31.5 \u00b0C")})
        g_consolePrint.showMsg(msg);
    QVERIFY(file.sync(5000));
    QFile saved(file.path());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), page.text());
    QCOMPARE(page.text().count(QLatin1Char('\n')), 5);
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
    QStringList names{path};
    for (int n = 1; n < eventLogFile::kKeptFiles + 1; ++n)
        names.prepend(path + QLatin1Char('.') + QString::number(n));
    QByteArray kept;
    int present = 0;
    for (const QString& name : names) {
        QFile f(name);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        ++present;
        QVERIFY2(f.size() <= 50, qPrintable(name));
        kept += f.readAll();
    }
    QCOMPARE(present, files);
    QByteArray expected;
    for (int i = qMax(0, lines - 5 * eventLogFile::kKeptFiles); i < lines; ++i)
        expected += QStringLiteral("line %1\n").arg(i, 4, 10, QLatin1Char('0')).toUtf8();
    QCOMPARE(kept, expected);
}

void tst_pages::logFileRefusedThenWritten_data()
{
    QTest::addColumn<bool>("asNobody");
    QTest::newRow("a file stands where the folder should be") << false;
    QTest::newRow("the state folder is read-only to its user") << true;
}

void tst_pages::logFileRefusedThenWritten()
{
    QFETCH(bool, asNobody);
    // Reachable by nobody too.
    QTemporaryDir dir(QStringLiteral("/tmp/qr7215-log-XXXXXX"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString state = dir.filePath(QStringLiteral("state"));
    const QByteArray stateName = QFile::encodeName(state);
    if (asNobody) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || !testsupport::canChangeUser())
            QSKIP("needs root and the user nobody");
        if (!testsupport::kChildMayStartThreads)
            QSKIP("the writer's thread would start in a forked child");
        QVERIFY(QDir().mkpath(state));
        QVERIFY(::chown(stateName.constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        QVERIFY(::chmod(stateName.constData(), 0555) == 0);
    } else {
        QFile blocker(state);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    const auto lift = [&] {
        if (asNobody)
            return ::chmod(stateName.constData(), 0755) == 0;
        return QFile::remove(state) && QDir().mkpath(state);
    };
    // Each step that goes wrong answers with its own number.
    const auto scenario = [&]() -> int {
        LogCapture log;
        eventLogFile file(state + QStringLiteral("/Tarvolt/UPS/QR-7215.log"));
        file.append(QStringLiteral("one"));
        file.append(QStringLiteral("two"));
        if (file.sync(5000))
            return 1;
        file.append(QStringLiteral("three"));
        if (file.sync(5000))
            return 2;
        // The refusal was told before the sync gave up; its line is queued.
        QCoreApplication::processEvents();
        if (log.lines.size() != 1 || !log.lines[0].startsWith(QStringLiteral("Event log: cannot write ")))
            return 3;
        if (!lift())
            return 4;
        if (!file.sync(5000))
            return 5;
        QFile written(file.path());
        if (!written.open(QIODevice::ReadOnly) || written.readAll() != "one\ntwo\nthree\n")
            return 6;
        QCoreApplication::processEvents();
        return log.lines.size() == 1 ? 0 : 7;
    };
    QCOMPARE(asNobody ? testsupport::runAs("nobody", scenario) : scenario(), 0);
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
    QFile oldFile(dir.filePath(QStringLiteral("old.txt")));
    QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write(old) == old.size());
    oldFile.close();
    inforWidget page;
    for (int i = 0; i < 5; ++i)
        page.slotOnShowMsg(QStringLiteral("line %1 of a log longer than forty bytes").arg(i));
    const auto save = [&]() -> int {
        QString reason;
        const bool ok = page.saveTo(path, &reason);
        return ok ? 0 : (reason.isEmpty() ? 2 : 1);
    };
    QCOMPARE(sizeLimit > 0 ? testsupport::runWithFileSizeLimit(sizeLimit, save) : save(), saved ? 0 : 1);
    QFile result(path);
    if (saved) {
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(result.readAll()), page.text());
    } else {
        QCOMPARE(result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray(), target == "old.txt" ? old : QByteArray());
    }
}

QR_TEST_MAIN(tst_pages)
#include "tst_pages.moc"
