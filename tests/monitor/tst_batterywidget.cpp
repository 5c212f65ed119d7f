// The battery gauge: geometry, clamping, and the cells it actually paints.
#include "batterywidget.h"
#include "testenv.h"

#include <QImage>

namespace {

const QColor kCell(50, 205, 50);

QImage renderOf(batteryWidget& gauge)
{
    QImage image(gauge.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    gauge.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Green runs along one scanline: each painted cell is one run.
int greenRuns(const QImage& image, int y)
{
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool green = image.pixelColor(x, y) == kCell;
        if (green && !inside)
            ++runs;
        inside = green;
    }
    return runs;
}

} // namespace

class tst_batteryWidget : public QObject
{
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void clamping_data();
    void clamping();
    void paintedCells_data();
    void paintedCells();
    void paintsOutlineCapAndText();
};

void tst_batteryWidget::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("level");
    QTest::addColumn<QRect>("body");
    QTest::addColumn<QRect>("cap");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("cellHeight");
    QTest::addColumn<int>("points");
    QTest::addColumn<QVector<QRect>>("cells");

    QTest::newRow("200x50 level 65")
        << QSize(200, 50) << 65 << QRect(0, 0, 190, 50) << QRect(190, 12, 10, 25) << 37 << 40 << 10
        << QVector<QRect>{QRect(5, 5, 32, 40), QRect(42, 5, 32, 40), QRect(79, 5, 32, 40)};
    QTest::newRow("100x30 level 100")
        << QSize(100, 30) << 100 << QRect(0, 0, 90, 30) << QRect(90, 7, 10, 15) << 17 << 20 << 6
        << QVector<QRect>{QRect(5, 5, 12, 20), QRect(22, 5, 12, 20), QRect(39, 5, 12, 20), QRect(56, 5, 12, 20),
                          QRect(73, 5, 12, 20)};
}

void tst_batteryWidget::geometry()
{
    QFETCH(QSize, size);
    QFETCH(int, level);
    QFETCH(QRect, body);
    QFETCH(QRect, cap);
    QFETCH(int, step);
    QFETCH(int, cellHeight);
    QFETCH(int, points);
    QFETCH(QVector<QRect>, cells);

    batteryWidget gauge;
    gauge.resize(size);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    gauge.slotOnSetValue(level);
    QCOMPARE(gauge.bodyRect(), body);
    QCOMPARE(gauge.capRect(), cap);
    QCOMPARE(gauge.textRect(), body);
    QCOMPARE(gauge.cellStep(), step);
    QCOMPARE(gauge.cellHeight(), cellHeight);
    QCOMPARE(gauge.font().pointSize(), points);
    QCOMPARE(gauge.font().family(), QStringLiteral("Microsoft Yahei"));
    QCOMPARE(gauge.cellRects(), cells);
    QCOMPARE(gauge.text(), QString::number(level) + QStringLiteral("%"));
}

void tst_batteryWidget::clamping_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("cells");
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("19") << 19 << 19 << 0;
    QTest::newRow("20") << 20 << 20 << 1;
    QTest::newRow("39") << 39 << 39 << 1;
    QTest::newRow("80") << 80 << 80 << 4;
    QTest::newRow("99") << 99 << 99 << 4;
    QTest::newRow("100") << 100 << 100 << 5;
    QTest::newRow("150 clamps to 100") << 150 << 100 << 5;
    QTest::newRow("-3 clamps to 0") << -3 << 0 << 0;
}

void tst_batteryWidget::clamping()
{
    QFETCH(int, input);
    QFETCH(int, shown);
    QFETCH(int, cells);
    batteryWidget gauge;
    gauge.resize(200, 50);
    gauge.slotOnSetValue(input);
    QCOMPARE(gauge.value(), shown);
    QCOMPARE(gauge.text(), QString::number(shown) + QStringLiteral("%"));
    QCOMPARE(gauge.cellRects().size(), cells);
}

void tst_batteryWidget::paintedCells_data()
{
    clamping_data();
}

void tst_batteryWidget::paintedCells()
{
    QFETCH(int, input);
    QFETCH(int, cells);
    batteryWidget gauge;
    gauge.resize(200, 50);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    gauge.slotOnSetValue(input);
    // A scanline through the cells' upper part, clear of the centred text.
    QCOMPARE(greenRuns(renderOf(gauge), 8), cells);
}

void tst_batteryWidget::paintsOutlineCapAndText()
{
    batteryWidget gauge;
    gauge.resize(200, 50);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    gauge.slotOnSetValue(0);
    const QImage image = renderOf(gauge);
    QCOMPARE(image.pixelColor(gauge.capRect().center()), QColor(Qt::black));
    QCOMPARE(image.pixelColor(100, 0), QColor(Qt::black));       // top of the outline
    QCOMPARE(image.pixelColor(0, 25), QColor(Qt::black));        // left of the outline
    // With no cell the text still shows: dark pixels around the centre.
    int dark = 0;
    for (int y = 15; y < 35; ++y)
        for (int x = 60; x < 130; ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    QVERIFY(dark > 0);
}

QR_TEST_MAIN(tst_batteryWidget)
#include "tst_batterywidget.moc"
