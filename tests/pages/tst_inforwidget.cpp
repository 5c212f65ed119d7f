// The log page: line format, delivery order across threads, the bound and the
// read-only view.
#include "consoleprint.h"
#include "inforwidget.h"
#include "testenv.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>

#include <thread>

namespace {

const QRegularExpression kStamped(
    QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})>>(.*)$"),
    QRegularExpression::DotMatchesEverythingOption);

QStringList lines(const QPlainTextEdit* view)
{
    QStringList result;
    for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
        result << b.text();
    // An empty document still has one empty block.
    if (result == QStringList{QString()})
        result.clear();
    return result;
}

} // namespace

class tst_inforWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formatLine_data();
    void formatLine();
    void appendStampsWithTheCurrentTime_data();
    void appendStampsWithTheCurrentTime();
    void lineBreaksStayUnderOneStamp();
    void busMessagesFromAnotherThreadKeepTheirOrder();
    void guiThreadMessageGoesAheadOfQueuedOnes();
    void logKeepsTheNewestLines();

private:
    inforWidget* m_page = nullptr;
    QPlainTextEdit* m_view = nullptr;
};

void tst_inforWidget::init()
{
    m_page = new inforWidget;
    m_view = m_page->findChild<QPlainTextEdit*>(QStringLiteral("m_statusOutput"));
    QVERIFY(m_view);
    // The main window makes this very connection.
    QVERIFY(connect(&g_consolePrint, SIGNAL(signalShowMsg(const QString&)),
                    m_page, SLOT(slotOnShowMsg(const QString&))));
}

void tst_inforWidget::cleanup()
{
    delete m_page;
    m_page = nullptr;
    m_view = nullptr;
}

void tst_inforWidget::formatLine_data()
{
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain text") << QStringLiteral("Open device success")
                                << QStringLiteral("2024-05-01 09:30:12.045>>Open device success");
    QTest::newRow("empty text") << QString() << QStringLiteral("2024-05-01 09:30:12.045>>");
    QTest::newRow("blanks are kept") << QStringLiteral(" x ")
                                     << QStringLiteral("2024-05-01 09:30:12.045>> x ");
    QTest::newRow("line breaks") << QStringLiteral("a\nb")
                                 << QStringLiteral("2024-05-01 09:30:12.045>>a\nb");
}

void tst_inforWidget::formatLine()
{
    QFETCH(QString, msg);
    QFETCH(QString, expected);
    const QDateTime when(QDate(2024, 5, 1), QTime(9, 30, 12, 45));
    QCOMPARE(inforWidget::formatLine(when, msg), expected);
}

void tst_inforWidget::appendStampsWithTheCurrentTime_data()
{
    QTest::addColumn<QString>("msg");
    QTest::newRow("plain text") << QStringLiteral("Read registers failed: -1");
    QTest::newRow("empty text") << QString();
}

void tst_inforWidget::appendStampsWithTheCurrentTime()
{
    QFETCH(QString, msg);
    // Whole milliseconds, as the stamp shows them.
    const QDateTime before = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch());
    g_consolePrint.showMsg(msg);
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList shown = lines(m_view);
    QCOMPARE(shown.size(), 1);
    const QRegularExpressionMatch match = kStamped.match(shown.first());
    QVERIFY2(match.hasMatch(), qPrintable(shown.first()));
    QCOMPARE(match.captured(2), msg);
    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    QVERIFY(stamp.isValid());
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(match.captured(1)));
}

void tst_inforWidget::lineBreaksStayUnderOneStamp()
{
    g_consolePrint.showMsg(QStringLiteral("first\nsecond"));
    g_consolePrint.showMsg(QStringLiteral("third"));

    const QStringList shown = lines(m_view);
    QCOMPARE(shown.size(), 3);
    QVERIFY(kStamped.match(shown[0]).hasMatch());
    QCOMPARE(kStamped.match(shown[0]).captured(2), QStringLiteral("first"));
    QCOMPARE(shown[1], QStringLiteral("second"));
    QCOMPARE(kStamped.match(shown[2]).captured(2), QStringLiteral("third"));
}

void tst_inforWidget::busMessagesFromAnotherThreadKeepTheirOrder()
{
    constexpr int count = 500;
    std::thread sender([] {
        for (int i = 0; i < count; ++i)
            g_consolePrint.showMsg(QString::number(i));
    });
    sender.join();

    QTRY_COMPARE(lines(m_view).size(), count);
    const QStringList shown = lines(m_view);
    for (int i = 0; i < count; ++i)
        QCOMPARE(kStamped.match(shown[i]).captured(2), QString::number(i));
}

void tst_inforWidget::guiThreadMessageGoesAheadOfQueuedOnes()
{
    std::thread sender([] {
        g_consolePrint.showMsg(QStringLiteral("queued 1"));
        g_consolePrint.showMsg(QStringLiteral("queued 2"));
    });
    sender.join();
    // No event loop has run yet: the worker's lines wait in the queue.
    g_consolePrint.showMsg(QStringLiteral("direct"));
    QCOMPARE(lines(m_view).size(), 1);

    QTRY_COMPARE(lines(m_view).size(), 3);
    const QStringList shown = lines(m_view);
    QCOMPARE(kStamped.match(shown[0]).captured(2), QStringLiteral("direct"));
    QCOMPARE(kStamped.match(shown[1]).captured(2), QStringLiteral("queued 1"));
    QCOMPARE(kStamped.match(shown[2]).captured(2), QStringLiteral("queued 2"));
}

void tst_inforWidget::logKeepsTheNewestLines()
{
    QVERIFY(inforWidget::maxLogLines >= 10000);
    const int total = inforWidget::maxLogLines + 250;
    for (int i = 0; i < total; ++i)
        m_page->slotOnShowMsg(QString::number(i));

    QCOMPARE(m_view->document()->blockCount(), inforWidget::maxLogLines);
    const QStringList shown = lines(m_view);
    QCOMPARE(kStamped.match(shown.first()).captured(2), QString::number(total - inforWidget::maxLogLines));
    QCOMPARE(kStamped.match(shown.last()).captured(2), QString::number(total - 1));
}

QR_TEST_MAIN(tst_inforWidget)
#include "tst_inforwidget.moc"
