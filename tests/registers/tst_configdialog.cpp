// The write-register dialog: what it shows for a row, what Ok, Enter, Cancel
// and Escape send, and which texts can never become a write.
#include "configdialog.h"
#include "dataobject.h"
#include "testenv.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Records the dialog's signals in the order they come.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    explicit SignalLog(configDialog* dialog)
    {
        connect(dialog, SIGNAL(signalDataChanged(qint32, qint16, bool)), this,
                SLOT(onDataChanged(qint32, qint16, bool)));
        connect(dialog, SIGNAL(signalDialogShown(bool)), this, SLOT(onShown(bool)));
    }
    QStringList events;

public slots:
    void onDataChanged(qint32 addr, qint16 value, bool modify)
    {
        events << QStringLiteral("write %1 %2 %3").arg(addr).arg(quint16(value)).arg(modify);
    }
    void onShown(bool show) { events << QStringLiteral("shown %1").arg(show); }
};

} // namespace

class tst_configDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsTheRowsOwnAddressAndValue();
    void closing_data();
    void closing();
    void invalidTextKeepsOkDisabled_data();
    void invalidTextKeepsOkDisabled();
    void rowWithoutValueOffersEmptyField();

private:
    QLineEdit* valueEdit() const { return m_dialog->findChild<QLineEdit*>("m_lineEditRegisterValue"); }
    QLabel* addressLabel() const { return m_dialog->findChild<QLabel*>("m_lblRegisterAddressValue"); }
    QPushButton* button(QDialogButtonBox::StandardButton which) const
    {
        return m_dialog->findChild<QDialogButtonBox*>("m_buttonBox")->button(which);
    }

    configDialog* m_dialog = nullptr;
    DataObject m_row;
};

void tst_configDialog::init()
{
    m_dialog = new configDialog;
    m_row.addr = 40003;
    m_row.value = 40000;
    m_row.rw = DataObject::AccessReadWrite;
    m_row.hasValue = true;
    m_row.hasRange = false;
    m_row.minimum = 0;
    m_row.maximum = 0xFFFF;
}

void tst_configDialog::cleanup()
{
    delete m_dialog;
    m_dialog = nullptr;
}

void tst_configDialog::showsTheRowsOwnAddressAndValue()
{
    SignalLog log(m_dialog);
    m_dialog->slotOnShowDialog(&m_row, 0);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(addressLabel()->text(), QStringLiteral("40003"));
    QCOMPARE(valueEdit()->text(), QStringLiteral("40000"));
    QCOMPARE(log.events, QStringList{"shown 1"});

    DataObject other;
    other.addr = 40011;
    other.value = 0;
    other.rw = DataObject::AccessWrite;
    other.hasValue = true;
    m_dialog->slotOnShowDialog(&other, 1234);   // the value argument is not what is shown
    QCOMPARE(addressLabel()->text(), QStringLiteral("40011"));
    QCOMPARE(valueEdit()->text(), QStringLiteral("0"));
}

void tst_configDialog::closing_data()
{
    QTest::addColumn<QString>("text");     // typed over the shown value; null keeps it
    QTest::addColumn<QString>("how");      // "ok", "enter", "cancel" or "escape"
    QTest::addColumn<QStringList>("events");

    QTest::newRow("Ok writes the unchanged value back") << QString() << "ok"
                                                      << QStringList{"write 40003 40000 1", "shown 0"};
    QTest::newRow("Ok writes 0") << "0" << "ok" << QStringList{"write 40003 0 1", "shown 0"};
    QTest::newRow("Ok writes 1234") << "1234" << "ok" << QStringList{"write 40003 1234 1", "shown 0"};
    QTest::newRow("Ok reads leading zeros") << "00012" << "ok" << QStringList{"write 40003 12 1", "shown 0"};
    QTest::newRow("Ok writes 65535") << "65535" << "ok" << QStringList{"write 40003 65535 1", "shown 0"};
    QTest::newRow("Enter writes like Ok") << "7" << "enter" << QStringList{"write 40003 7 1", "shown 0"};
    QTest::newRow("Cancel writes nothing") << "7" << "cancel" << QStringList{"shown 0"};
    QTest::newRow("Escape sends nothing") << "7" << "escape" << QStringList();
}

void tst_configDialog::closing()
{
    QFETCH(QString, text);
    QFETCH(QString, how);
    QFETCH(QStringList, events);

    m_dialog->slotOnShowDialog(&m_row, 0);
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    if (!text.isNull()) {
        valueEdit()->clear();
        QTest::keyClicks(valueEdit(), text);
    }
    SignalLog log(m_dialog);
    if (how == QLatin1String("ok"))
        QTest::mouseClick(button(QDialogButtonBox::Ok), Qt::LeftButton);
    else if (how == QLatin1String("cancel"))
        QTest::mouseClick(button(QDialogButtonBox::Cancel), Qt::LeftButton);
    else
        QTest::keyClick(valueEdit(), how == QLatin1String("enter") ? Qt::Key_Return : Qt::Key_Escape);
    QCOMPARE(log.events, events);
    QVERIFY(!m_dialog->isVisible());
}

void tst_configDialog::invalidTextKeepsOkDisabled_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("range");   // "min-max" the table file gives, or empty

    QTest::newRow("empty") << "" << QString();
    QTest::newRow("letters") << "abc" << QString();
    QTest::newRow("digits then letters") << "12ab" << QString();
    QTest::newRow("minus sign") << "-1" << QString();
    QTest::newRow("plus sign") << "+1" << QString();
    QTest::newRow("leading blank") << " 1" << QString();
    QTest::newRow("trailing blank") << "1 " << QString();
    QTest::newRow("inner blank") << "1 2" << QString();
    QTest::newRow("65536") << "65536" << QString();
    QTest::newRow("70000") << "70000" << QString();
    QTest::newRow("far too big") << "99999999999" << QString();
    QTest::newRow("hexadecimal") << "0x10" << QString();
    QTest::newRow("decimal point") << "1.5" << QString();
    QTest::newRow("group separator") << "1,000" << QString();
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("\u0661\u0662") << QString();
    QTest::newRow("below the range") << "9" << "10-20";
    QTest::newRow("above the range") << "21" << "10-20";
    QTest::newRow("outside a range of one") << "0" << "65535-65535";
}

void tst_configDialog::invalidTextKeepsOkDisabled()
{
    QFETCH(QString, text);
    QFETCH(QString, range);

    if (!range.isEmpty()) {
        m_row.hasRange = true;
        m_row.minimum = quint16(range.section(QLatin1Char('-'), 0, 0).toUInt());
        m_row.maximum = quint16(range.section(QLatin1Char('-'), 1, 1).toUInt());
    }
    m_dialog->slotOnShowDialog(&m_row, 0);
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    valueEdit()->setText(text);
    QVERIFY(!button(QDialogButtonBox::Ok)->isEnabled());
    // Anything typed is answered with the values the register takes.
    auto* problem = m_dialog->findChild<QLabel*>("m_lblValueProblem");
    QCOMPARE(problem->isVisible(), !text.isEmpty());
    if (!text.isEmpty())
        QVERIFY(problem->text().contains(QStringLiteral("%1 to %2").arg(m_row.minimum).arg(m_row.maximum)));

    SignalLog log(m_dialog);
    QTest::mouseClick(button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTest::keyClick(valueEdit(), Qt::Key_Return);
    // Even a direct call cannot turn the text into a write.
    m_dialog->slotOnAccept();
    QCOMPARE(log.events, QStringList());
    QVERIFY(m_dialog->isVisible());

    // Correcting the text brings Ok back.
    valueEdit()->setText(QString::number(m_row.maximum));
    QVERIFY(button(QDialogButtonBox::Ok)->isEnabled());
    QVERIFY(!problem->isVisible());
}

void tst_configDialog::rowWithoutValueOffersEmptyField()
{
    m_row.hasValue = false;
    m_dialog->slotOnShowDialog(&m_row, 0);
    QCOMPARE(valueEdit()->text(), QString());
    QVERIFY(!button(QDialogButtonBox::Ok)->isEnabled());
}

QR_TEST_MAIN(tst_configDialog)
#include "tst_configdialog.moc"
