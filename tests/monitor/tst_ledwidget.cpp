// The LED indicator: geometry at the sizes the status page uses, its slots,
// and what it actually paints.
#include "ledwidget.h"
#include "testenv.h"

#include <QImage>

namespace {

// Counts paint events, so a test can tell a repaint from none.
class countingLed : public ledWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        ledWidget::paintEvent(event);
    }
};

QImage renderOf(ledWidget& led)
{
    QImage image(led.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class tst_ledWidget : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void geometry_data();
    void geometry();
    void switching();
    void sameTextRepaintsOnce();
    void colourSetters();
    void paintsLitAndDark();
    void paintsOwnColours();
    void paintsCaptionBelowCircle();
    void captionFitsItsStrip_data();
    void captionFitsItsStrip();
};

void tst_ledWidget::defaults()
{
    ledWidget led;
    QVERIFY(!led.isOn());
    QCOMPARE(led.onColor(), QColor(Qt::green));
    QCOMPARE(led.offColor(), QColor(Qt::gray));
    QCOMPARE(led.sizeHint(), QSize(20, 20));
    QCOMPARE(led.minimumSizeHint(), QSize(16, 16));
    QVERIFY(led.text().isEmpty());
}

void tst_ledWidget::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("circle");
    QTest::addColumn<QRect>("ellipse");
    QTest::addColumn<QRect>("caption");
    QTest::addColumn<int>("points");

    QTest::newRow("60x70 as on the status page")
        << QSize(60, 70) << QRect(10, 0, 40, 40) << QRect(12, 2, 36, 36) << QRect(0, 40, 60, 20) << 10;
    QTest::newRow("90x30 wide and low")
        << QSize(90, 30) << QRect(35, 0, 20, 20) << QRect(37, 2, 16, 16) << QRect(0, 20, 90, 10) << 5;
    QTest::newRow("31x31 rounds down")
        << QSize(31, 31) << QRect(5, 0, 20, 20) << QRect(7, 2, 16, 16) << QRect(0, 20, 31, 10) << 5;
}

void tst_ledWidget::geometry()
{
    QFETCH(QSize, size);
    QFETCH(QRect, circle);
    QFETCH(QRect, ellipse);
    QFETCH(QRect, caption);
    QFETCH(int, points);

    ledWidget led;
    led.resize(size);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    QCOMPARE(led.size(), size);
    QCOMPARE(led.circleRect(), circle);
    QCOMPARE(led.ellipseRect(), ellipse);
    QCOMPARE(led.captionRect(), caption);
    QCOMPARE(led.font().pointSize(), points);
    QCOMPARE(led.font().family(), QStringLiteral("Microsoft Yahei"));
    QVERIFY(!led.font().italic());
    QCOMPARE(led.font().weight(), int(QFont::Normal));
}

void tst_ledWidget::switching()
{
    ledWidget led;
    led.turnOff(false);
    QVERIFY(led.isOn());
    led.turnOn(false);
    QVERIFY(!led.isOn());
    led.turnOn();
    QVERIFY(led.isOn());
    led.turnOff();
    QVERIFY(!led.isOn());
    led.toggle();
    QVERIFY(led.isOn());
    led.toggle();
    QVERIFY(!led.isOn());
}

void tst_ledWidget::sameTextRepaintsOnce()
{
    countingLed led;
    led.resize(60, 70);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    QTRY_VERIFY(led.paints > 0);
    const int before = led.paints;

    led.setText(QStringLiteral("DC_OK"));
    QTRY_COMPARE(led.paints, before + 1);
    led.setText(QStringLiteral("DC_OK"));
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QCOMPARE(led.paints, before + 1);
    QCOMPARE(led.text(), QStringLiteral("DC_OK"));

    // turnOn repaints even without a change.
    led.turnOn(false);
    QTRY_COMPARE(led.paints, before + 2);
}

void tst_ledWidget::colourSetters()
{
    ledWidget led;
    led.setOnColor(Qt::red);
    led.setOffColor(Qt::blue);
    QCOMPARE(led.onColor(), QColor(Qt::red));
    QCOMPARE(led.offColor(), QColor(Qt::blue));
}

void tst_ledWidget::paintsLitAndDark()
{
    ledWidget led;
    led.resize(60, 70);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    const QPoint centre = led.ellipseRect().center();

    QCOMPARE(renderOf(led).pixelColor(centre), QColor(Qt::gray));
    led.turnOn();
    QCOMPARE(renderOf(led).pixelColor(centre), QColor(Qt::green));
    // The corner of the circle's box lies outside the drawn circle.
    QCOMPARE(renderOf(led).pixelColor(led.circleRect().topLeft()), QColor(Qt::white));
    led.turnOff();
    QCOMPARE(renderOf(led).pixelColor(centre), QColor(Qt::gray));
}

void tst_ledWidget::paintsOwnColours()
{
    ledWidget led;
    led.resize(90, 30);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    led.setOnColor(QColor(200, 10, 10));
    led.turnOn();
    QCOMPARE(renderOf(led).pixelColor(led.ellipseRect().center()), QColor(200, 10, 10));
}

void tst_ledWidget::paintsCaptionBelowCircle()
{
    ledWidget led;
    led.resize(60, 70);
    led.setText(QStringLiteral("SW"));
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    const QImage image = renderOf(led);

    auto darkPixels = [&image](const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        return n;
    };
    // Black caption pixels sit in the strip under the circle, none above it.
    QVERIFY(darkPixels(led.captionRect()) > 0);
    QCOMPARE(darkPixels(QRect(0, 0, 60, 40)), 0);
}

void tst_ledWidget::captionFitsItsStrip_data()
{
    QTest::addColumn<QString>("caption");
    for (const char* text : {"SW", "DC_OK", "Bat.Mode", "Bat.Ready", "Bat.Start", "Dev.PSts", "Remote"})
        QTest::newRow(text) << QString::fromLatin1(text);
}

void tst_ledWidget::captionFitsItsStrip()
{
    QFETCH(QString, caption);
    ledWidget led;
    led.resize(60, 70);
    led.setText(caption);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    const QFont drawn = led.captionFont();
    // Every caption of the status page fits the 60-pixel strip whole...
    QVERIFY(QFontMetrics(drawn).horizontalAdvance(caption) <= led.captionRect().width());
    // ...and one that already fits keeps the widget's own size.
    if (QFontMetrics(led.font()).horizontalAdvance(caption) <= led.captionRect().width())
        QCOMPARE(drawn.pointSizeF(), led.font().pointSizeF());
    else
        QVERIFY(drawn.pointSizeF() < led.font().pointSizeF());
}

QR_TEST_MAIN(tst_ledWidget)
#include "tst_ledwidget.moc"
