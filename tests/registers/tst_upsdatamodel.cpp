// The register table as read from config_registers.xml, what the model shows
// of it, and the example table checked against the register map.
#include "dataobject.h"
#include "registertablefixture.h"
#include "testenv.h"
#include "registermap.h"
#include "sdk/qr7215registers.h"
#include "upsdatamodel.h"

#include <QAbstractItemModelTester>


using namespace registerFixture;

class tst_upsDataModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void loadsTable_data();
    void loadsTable();
    void rangeFromFile_data();
    void rangeFromFile();
    void createsMissingFolder();
    void ignoresValuesInFile();

    void displayByColumn_data();
    void displayByColumn();
    void flagsFollowAccess_data();
    void flagsFollowAccess();
    void setDataStoresWord_data();
    void setDataStoresWord();
    void setDataRefusesOtherCells();

    void keepsTheItemModelContract();
    void exampleTableMatchesRegisterMap();
    void exampleTableSitsBesideExecutable();
};

void tst_upsDataModel::init()
{
    removeTable();
}

void tst_upsDataModel::cleanupTestCase()
{
    removeTable();
}

void tst_upsDataModel::loadsTable_data()
{
    QTest::addColumn<QByteArray>("xml");   // null: no file at all
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("missing file") << QByteArray() << -1 << QStringList();
    QTest::newRow("not well-formed") << QByteArray("<Registers><Items><Item></Items>") << -2 << QStringList();
    QTest::newRow("empty file") << QByteArray("") << -2 << QStringList();
    QTest::newRow("only Config")
        << QByteArray("<Registers><Config><Version>3</Version><Item><Addr>40000</Addr></Item></Config></Registers>")
        << 0 << QStringList();
    QTest::newRow("two Items with two Item each")
        << QByteArray("<R><Items><Item><Addr>40001</Addr></Item><Item><Addr>40002</Addr></Item></Items>"
                      "<Config/>"
                      "<Items><Item><Addr>40003</Addr></Item><Item><Addr>40004</Addr></Item></Items></R>")
        << 0
        << QStringList{"40001|NULL||R|NULL", "40002|NULL||R|NULL", "40003|NULL||R|NULL",
                       "40004|NULL||R|NULL"};
    QTest::newRow("empty Item") << QByteArray("<R><Items><Item/></Items></R>") << 0
                                << QStringList{"0|NULL||R|NULL"};
    QTest::newRow("full Item")
        << tableOf({"40005|Shutdown delay|RW|Seconds before the output goes off"}) << 0
        << QStringList{"40005|Shutdown delay||RW|Seconds before the output goes off"};
    QTest::newRow("access in any case")
        << tableOf({"1|a|rw", "2|b|wr", "3|c|w", "4|d|r", "5|e|Rw"}) << 0
        << QStringList{"1|a||RW|NULL", "2|b||RW|NULL", "3|c||W|NULL", "4|d||R|NULL", "5|e||RW|NULL"};
    QTest::newRow("access with a blank or unknown is none")
        << tableOf({"1|a| RW", "2|b|RW ", "3|c|X", "4|d|RWX"}) << 0
        << QStringList{"1|a|||NULL", "2|b|||NULL", "3|c|||NULL", "4|d|||NULL"};
    QTest::newRow("empty access is none")
        << QByteArray("<R><Items><Item><RW></RW></Item></Items></R>") << 0 << QStringList{"0|NULL|||NULL"};
    QTest::newRow("address not decimal is 0")
        << tableOf({"0x9C40|hex", "-1|negative", "4e4|exponent", "forty|word", "99999999999|too big"}) << 0
        << QStringList{"0|hex||R|NULL", "0|negative||R|NULL", "0|exponent||R|NULL", "0|word||R|NULL",
                       "0|too big||R|NULL"};
    QTest::newRow("later duplicate wins")
        << QByteArray("<R><Items><Item><Addr>1</Addr><Name>first</Name><Addr>2</Addr><RW>W</RW>"
                      "<Name>second</Name><RW>R</RW></Item></Items></R>")
        << 0 << QStringList{"2|second||R|NULL"};
    QTest::newRow("names are case-sensitive")
        << QByteArray("<R><items><Item><Addr>1</Addr></Item></items>"
                      "<Items><item><Addr>2</Addr></item><Item><addr>3</addr><name>x</name></Item></Items></R>")
        << 0 << QStringList{"0|NULL||R|NULL"};
    QTest::newRow("Item only directly under Items")
        << QByteArray("<R><Item><Addr>1</Addr></Item><Items><Group><Item><Addr>2</Addr></Item></Group>"
                      "<!-- comment -->text<Item><Addr>3</Addr></Item></Items></R>")
        << 0 << QStringList{"3|NULL||R|NULL"};
    QTest::newRow("text of nested elements")
        << QByteArray("<R><Items><Item><Name>Output <b>voltage</b></Name></Item></Items></R>") << 0
        << QStringList{"0|Output voltage||R|NULL"};
    QTest::newRow("root name not examined")
        << QByteArray("<?xml version=\"1.0\"?><anything><Items><Item><Addr>7</Addr></Item></Items></anything>")
        << 0 << QStringList{"7|NULL||R|NULL"};
}

void tst_upsDataModel::loadsTable()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, result);
    QFETCH(QStringList, rows);

    if (!xml.isNull())
        QVERIFY(writeTable(xml));

    upsDataModel model;
    QCOMPARE(displayRows(model), rows);
    QCOMPARE(model.rowCount(), rows.size());
    // Reading again reports how the file fared and keeps the same rows.
    QCOMPARE(model.loadRegisterTable(), result);
    QCOMPARE(displayRows(model), rows);
}

void tst_upsDataModel::rangeFromFile_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<QString>("range");   // "min-max", or "none"

    QTest::newRow("Min and Max") << QByteArray("<Min>1</Min><Max>247</Max>") << "1-247";
    QTest::newRow("Max alone") << QByteArray("<Max>100</Max>") << "0-100";
    QTest::newRow("Min alone") << QByteArray("<Min> 5 </Min>") << "5-65535";
    QTest::newRow("reversed is no range") << QByteArray("<Min>9</Min><Max>2</Max>") << "none";
    QTest::newRow("no register values are no bounds") << QByteArray("<Min>-1</Min><Max>70000</Max>") << "none";
    QTest::newRow("none given") << QByteArray() << "none";
}

void tst_upsDataModel::rangeFromFile()
{
    QFETCH(QByteArray, fields);
    QFETCH(QString, range);

    QVERIFY(writeTable("<R><Items><Item><Addr>40000</Addr>" + fields + "<Name>n</Name></Item></Items></R>"));
    upsDataModel model;
    const DataObject* row = model.getDataObject(0);
    QVERIFY(row);
    QCOMPARE(row->hasRange ? QStringLiteral("%1-%2").arg(row->minimum).arg(row->maximum) : QStringLiteral("none"),
             range);
    QCOMPARE(row->name, QStringLiteral("n"));
}

void tst_upsDataModel::createsMissingFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs");
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(!QDir(folder).exists());

    upsDataModel model;
    QVERIFY(QDir(folder).exists());
    QCOMPARE(model.configFileName(), tablePath());
    QVERIFY(!QFile::exists(tablePath()));
    QCOMPARE(model.rowCount(), 0);
}

void tst_upsDataModel::ignoresValuesInFile()
{
    QVERIFY(writeTable("<R><Items><Item><Addr>40000</Addr><Value>7</Value><value>8</value></Item></Items></R>"));
    upsDataModel model;
    QCOMPARE(valueText(model, 0), QString());
}

void tst_upsDataModel::displayByColumn_data()
{
    QTest::addColumn<QString>("rw");
    QTest::addColumn<QVariant>("access");

    QTest::newRow("R") << "R" << QVariant(QStringLiteral("R"));
    QTest::newRow("W") << "W" << QVariant(QStringLiteral("W"));
    QTest::newRow("RW") << "RW" << QVariant(QStringLiteral("RW"));
    QTest::newRow("none") << "none" << QVariant();
}

void tst_upsDataModel::displayByColumn()
{
    QFETCH(QString, rw);
    QFETCH(QVariant, access);

    QVERIFY(writeTable(tableOf({QStringLiteral("40007|Output voltage setpoint|%1|mV").arg(rw)})));
    upsDataModel model;
    QCOMPARE(model.columnCount(), 5);

    const QVariant addr = model.data(model.index(0, 0));
    QVERIFY(addr.canConvert<uint>());
    QCOMPARE(addr.toUInt(), 40007u);
    QVERIFY(addr.userType() != QMetaType::QString);
    QCOMPARE(model.data(model.index(0, 1)), QVariant(QStringLiteral("Output voltage setpoint")));
    // No block read yet: no value, not the placeholder.
    QCOMPARE(model.data(model.index(0, 2)), QVariant(QString()));
    QCOMPARE(model.data(model.index(0, 3)), access);
    QCOMPARE(model.data(model.index(0, 4)), QVariant(QStringLiteral("mV")));
}

void tst_upsDataModel::flagsFollowAccess_data()
{
    QTest::addColumn<QString>("rw");
    QTest::addColumn<bool>("editable");

    QTest::newRow("none") << "X" << false;
    QTest::newRow("R") << "R" << false;
    QTest::newRow("W") << "W" << true;
    QTest::newRow("RW") << "RW" << true;
}

void tst_upsDataModel::flagsFollowAccess()
{
    QFETCH(QString, rw);
    QFETCH(bool, editable);

    QVERIFY(writeTable(tableOf({QStringLiteral("40000|a|%1|b").arg(rw)})));
    upsDataModel model;
    const Qt::ItemFlags plain = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    for (int column = 0; column < 5; ++column) {
        const Qt::ItemFlags expected = column == 2 && editable ? plain | Qt::ItemIsEditable : plain;
        QCOMPARE(model.flags(model.index(0, column)), expected);
    }
    QCOMPARE(int(model.flags(model.index(0, 2))), editable ? 35 : 33);
    QCOMPARE(model.flags(QModelIndex()), model.QAbstractTableModel::flags(QModelIndex()));
}

void tst_upsDataModel::setDataStoresWord_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("short 1234") << QVariant::fromValue<qint16>(1234) << "1234";
    QTest::newRow("short -1 is 65535") << QVariant::fromValue<qint16>(-1) << "65535";
    QTest::newRow("int 77") << QVariant(77) << "77";
    QTest::newRow("text 321") << QVariant(QStringLiteral("321")) << "321";
    QTest::newRow("text not a number is 0") << QVariant(QStringLiteral("abc")) << "0";
    QTest::newRow("invalid variant is 0") << QVariant() << "0";
}

void tst_upsDataModel::setDataStoresWord()
{
    QFETCH(QVariant, value);
    QFETCH(QString, shown);

    QVERIFY(writeTable(tableOf({"40000|a|RW|b"})));
    upsDataModel model;
    model.getDataObject(0)->hasValue = true;
    QVERIFY(model.setData(model.index(0, 2), value, Qt::EditRole));
    QCOMPARE(valueText(model, 0), shown);
}

void tst_upsDataModel::setDataRefusesOtherCells()
{
    QVERIFY(writeTable(tableOf({"40000|a|RW|b"})));
    upsDataModel model;
    QVERIFY(!model.setData(model.index(0, 2), 5, Qt::DisplayRole));
    QVERIFY(!model.setData(model.index(0, 1), 5, Qt::EditRole));
    QVERIFY(!model.setData(model.index(0, 0), 5, Qt::EditRole));
    QVERIFY(!model.setData(model.index(1, 2), 5, Qt::EditRole));
    QVERIFY(!model.setData(QModelIndex(), 5, Qt::EditRole));
    QCOMPARE(displayRow(model, 0), QStringLiteral("40000|a||RW|b"));
}

// Qt's own checker walks every index, role and signal of the model, with the
// link down and with a block shown.
void tst_upsDataModel::keepsTheItemModelContract()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    QCOMPARE(model.loadRegisterTable(), 0);
    model.setHorizontalHeaderList({"Address", "Name", "Value", "RW", "Description"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.setData(model.index(0, 2), 5, Qt::EditRole));
    QVERIFY(!model.getDataObject(-1));
    QVERIFY(!model.getDataObject(static_cast<short>(model.rowCount())));
}

// The example table lists the table block in register order, with each
// register's access and name as the module (and its simulator) has them.
void tst_upsDataModel::exampleTableMatchesRegisterMap()
{
    QVERIFY(installExampleTable());
    upsDataModel model;
    QCOMPARE(model.loadRegisterTable(), 0);
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
        QVERIFY(!object->description.isEmpty());
        QVERIFY(object->description != QLatin1String("NULL"));
    }
}

void tst_upsDataModel::exampleTableSitsBesideExecutable()
{
    QFile shipped(exampleTablePath());
    QFile beside(QStringLiteral(QR7215_BIN_DIR) + QStringLiteral("/iconfigs/config_registers.xml"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QVERIFY2(beside.open(QIODevice::ReadOnly), qPrintable(beside.fileName()));
    QCOMPARE(beside.readAll(), shipped.readAll());
}

QR_TEST_GUILESS_MAIN(tst_upsDataModel)
#include "tst_upsdatamodel.moc"
