// The firmware page: its controls and their places, and that nothing is wired
// to them.
#include "firmwareupdatewidget.h"
#include "logcapture.h"
#include "testenv.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class tst_firmwareUpdateWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void controls();
    void layout();
    void buttonsAreInert_data();
    void buttonsAreInert();
    void activationSlotIsItsOwnAndHasNoEffect();

private:
    firmwareUpdateWidget* m_page = nullptr;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_download = nullptr;
    QLabel* m_label = nullptr;
};

void tst_firmwareUpdateWidget::init()
{
    m_page = new firmwareUpdateWidget;
    m_edit = m_page->findChild<QLineEdit*>();
    m_label = m_page->findChild<QLabel*>();
    for (QPushButton* button : m_page->findChildren<QPushButton*>()) {
        if (button->text() == QLatin1String("Open"))
            m_open = button;
        else if (button->text() == QLatin1String("Download"))
            m_download = button;
    }
    QVERIFY(m_edit && m_label && m_open && m_download);
}

void tst_firmwareUpdateWidget::cleanup()
{
    delete m_page;
    m_page = nullptr;
    m_open = m_download = nullptr;
}

void tst_firmwareUpdateWidget::form()
{
    QCOMPARE(m_page->objectName(), QStringLiteral("firmwareUpdateWidget"));
    QCOMPARE(m_page->windowTitle(), QStringLiteral("firmwareUpdateWidget"));
    QCOMPARE(m_page->size(), QSize(400, 300));
}

void tst_firmwareUpdateWidget::controls()
{
    QCOMPARE(m_page->findChildren<QLineEdit*>().size(), 1);
    QCOMPARE(m_page->findChildren<QPushButton*>().size(), 2);
    QCOMPARE(m_label->text(), QStringLiteral("File Path:"));
    QVERIFY(m_edit->text().isEmpty());
    QCOMPARE(m_open->minimumWidth(), 80);
    QCOMPARE(m_download->minimumWidth(), 80);

    const auto groups = m_page->findChildren<QGroupBox*>();
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.first()->title(), QStringLiteral("Firmware Update"));
    for (QWidget* w : {static_cast<QWidget*>(m_label), static_cast<QWidget*>(m_edit),
                       static_cast<QWidget*>(m_open), static_cast<QWidget*>(m_download)})
        QCOMPARE(w->parentWidget(), groups.first());
}

void tst_firmwareUpdateWidget::layout()
{
    m_page->resize(600, 400);
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page));

    // First row: label, edit, Open from left to right on one line.
    QVERIFY(m_label->geometry().right() < m_edit->geometry().left());
    QVERIFY(m_edit->geometry().right() < m_open->geometry().left());
    QCOMPARE(m_edit->geometry().center().y(), m_open->geometry().center().y());
    // Second row: Download below, pushed to the right end.
    QVERIFY(m_download->geometry().top() > m_open->geometry().bottom());
    QCOMPARE(m_download->geometry().right(), m_open->geometry().right());
    // The group sits at the top; the page's stretch takes the rest.
    auto* group = m_page->findChild<QGroupBox*>();
    QVERIFY(group->geometry().bottom() < m_page->height() / 2);
}

void tst_firmwareUpdateWidget::buttonsAreInert_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Open") << QStringLiteral("Open");
    QTest::newRow("Download") << QStringLiteral("Download");
}

void tst_firmwareUpdateWidget::buttonsAreInert()
{
    QFETCH(QString, button);
    QPushButton* target = button == QLatin1String("Open") ? m_open : m_download;
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page));
    m_edit->setText(QStringLiteral("/tmp/firmware.bin"));

    LogCapture log;
    const int windowsBefore = QApplication::topLevelWidgets().size();
    QTest::mouseClick(target, Qt::LeftButton);
    QCoreApplication::processEvents();

    QVERIFY(log.lines.isEmpty());
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QCOMPARE(m_edit->text(), QStringLiteral("/tmp/firmware.bin"));
    QVERIFY(m_page->isEnabled());
}

void tst_firmwareUpdateWidget::activationSlotIsItsOwnAndHasNoEffect()
{
    const QMetaObject* meta = m_page->metaObject();
    const int index = meta->indexOfSlot("slotOnSetEnabled(bool)");
    QVERIFY(index >= meta->methodOffset());

    m_edit->setText(QStringLiteral("kept"));
    QVERIFY(QMetaObject::invokeMethod(m_page, "slotOnSetEnabled", Q_ARG(bool, false)));
    QVERIFY(m_page->isEnabled());
    QVERIFY(m_open->isEnabled() && m_download->isEnabled() && m_edit->isEnabled());
    QVERIFY(QMetaObject::invokeMethod(m_page, "slotOnSetEnabled", Q_ARG(bool, true)));
    QCOMPARE(m_edit->text(), QStringLiteral("kept"));
}

QR_TEST_MAIN(tst_firmwareUpdateWidget)
#include "tst_firmwareupdatewidget.moc"
