// The pressure colour ramp and its legend widget.

#include "ColorBar.h"
#include "ColorRamp.h"

#include <QApplication>
#include <QPalette>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
QString rgb(const QColor &c) { return QStringLiteral("(%1, %2, %3, a%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha()); }
QString rgb(int r, int g, int b) { return QStringLiteral("(%1, %2, %3, a255)").arg(r).arg(g).arg(b); }
} // namespace

class TestColorRamp : public QObject
{
    Q_OBJECT
private slots:
    void referenceTable_data();
    void referenceTable();
    void rampEnds();
    void mirroredBelowMinusFour();
    void redEqualsGreenEverywhere();
    void clampedOutsideTheRamp();
    void colorBarSizeAndPixels();
    void colorBarLeavesItsMarginsAlone();
};

void TestColorRamp::referenceTable_data()
{
    QTest::addColumn<float>("pressure");
    QTest::addColumn<double>("t");
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("b");
    QTest::newRow("-4.0") << -4.0f << 0.0 << 255 << 0;
    QTest::newRow("-0.75") << -0.75f << 0.5 << 158 << 30;
    QTest::newRow("0.0") << 0.0f << 0.6154 << 135 << 37;
    QTest::newRow("1.0") << 1.0f << 0.7692 << 105 << 46;
    QTest::newRow("2.5") << 2.5f << 1.0 << 61 << 61;
    QTest::newRow("-10.5") << -10.5f << 1.0 << 61 << 61;
    QTest::newRow("4.5") << 4.5f << 1.3077 << 1 << 79;
}

void TestColorRamp::referenceTable()
{
    QFETCH(float, pressure);
    QFETCH(double, t);
    QFETCH(int, r);
    QFETCH(int, b);
    const double got = pressureToRamp(pressure);
    QVERIFY2(std::fabs(got - t) < 5e-5, qPrintable(QString::number(got, 'g', 10)));
    QCOMPARE(rgb(colorFromRamp(got)), rgb(r, r, b));
    QCOMPARE(ramp::pressureRgb(pressure), colorFromRamp(got).rgb());
}

void TestColorRamp::rampEnds()
{
    QCOMPARE(rgb(colorFromRamp(0.0)), rgb(255, 255, 0));
    QCOMPARE(rgb(colorFromRamp(1.0)), rgb(61, 61, 61));
    QCOMPARE(rgb(colorFromRamp(0.5)), rgb(158, 158, 30));
    // The roundings: 0.6153846... (pressure 0) must give 135, 37 and not 136 or 38.
    QCOMPARE(pressureToRamp(-4.0f), 0.0);
    QCOMPARE(pressureToRamp(2.5f), 1.0);
    // The product is kept in single precision: t is a float value, not the double product.
    const double t = pressureToRamp(0.0f);
    QCOMPARE(t, static_cast<double>(static_cast<float>(4.0 * 0.15384615384615385)));
}

void TestColorRamp::mirroredBelowMinusFour()
{
    // The absolute value mirrors the scale about -4: -4 - d looks like -4 + d.
    for (int k = 0; k <= 40; ++k) {
        const float d = 0.25f * k;
        QCOMPARE(pressureToRamp(-4.0f - d), pressureToRamp(-4.0f + d));
        QCOMPARE(colorFromRamp(pressureToRamp(-4.0f - d)), colorFromRamp(pressureToRamp(-4.0f + d)));
    }
    // So pressures below -4 grow greyer again: red falls as the pressure falls.
    int previous = 256;
    for (float p = -4.0f; p >= -10.5f; p -= 0.5f) {
        const int red = colorFromRamp(pressureToRamp(p)).red();
        QVERIFY(red < previous);
        previous = red;
    }
}

void TestColorRamp::redEqualsGreenEverywhere()
{
    for (int k = -2000; k <= 2000; ++k) {
        const QColor c = colorFromRamp(pressureToRamp(k * 0.0125f));
        QCOMPARE(c.red(), c.green());
        QCOMPARE(c.alpha(), 255);
    }
}

void TestColorRamp::clampedOutsideTheRamp()
{
    // Above t = 255/194 red and green would be negative, far above blue would pass 255.
    QCOMPARE(rgb(colorFromRamp(2.0)), rgb(0, 0, 122));
    QCOMPARE(rgb(colorFromRamp(5.0)), rgb(0, 0, 255));
    QCOMPARE(rgb(colorFromRamp(-1.0)), rgb(255, 255, 0));
    QCOMPARE(rgb(colorFromRamp(1e300)), rgb(0, 0, 255));
    QCOMPARE(rgb(colorFromRamp(std::numeric_limits<double>::quiet_NaN())), rgb(0, 0, 0));
    // From pressures: just beyond the valid range, and far beyond.
    QCOMPARE(rgb(colorFromRamp(pressureToRamp(4.6f))), rgb(0, 0, 80));
    QCOMPARE(rgb(colorFromRamp(pressureToRamp(-13.0f))), rgb(0, 0, 84));
    QCOMPARE(rgb(colorFromRamp(pressureToRamp(1e30f))), rgb(0, 0, 255));
    QCOMPARE(rgb(colorFromRamp(pressureToRamp(std::numeric_limits<float>::infinity()))), rgb(0, 0, 255));
    QCOMPARE(rgb(colorFromRamp(pressureToRamp(std::numeric_limits<float>::quiet_NaN()))), rgb(0, 0, 0));
}

void TestColorRamp::colorBarSizeAndPixels()
{
    ColorBar bar;
    QCOMPARE(bar.size(), QSize(180, 70));
    QCOMPARE(bar.minimumSize(), QSize(180, 70));
    QCOMPARE(bar.maximumSize(), QSize(180, 70));
    bar.resize(400, 300);
    QCOMPARE(bar.size(), QSize(180, 70));

    const QImage image = bar.grab().toImage();
    QCOMPARE(image.size(), QSize(180, 70));
    auto px = [&](int x, int y) { return rgb(QColor(image.pixel(x, y))); };
    QCOMPARE(px(0, 30), rgb(255, 255, 0));
    QCOMPARE(px(15, 69), rgb(255, 255, 0));
    QCOMPARE(px(84, 50), rgb(158, 158, 30));
    QCOMPARE(px(85, 50), rgb(157, 157, 30));
    QCOMPARE(px(153, 50), rgb(62, 62, 60));
    QCOMPARE(px(154, 50), rgb(61, 61, 61));
    QCOMPARE(px(169, 50), rgb(61, 61, 61));
    // Every ramp column is one colour from row 30 to 69, and is the ramp at (x - 15) / 139.
    for (int x = 0; x < 170; ++x) {
        QColor expected = x < 15 ? QColor(255, 255, 0)
                        : x < 155 ? colorFromRamp(static_cast<double>(x - 15) / 139.0)
                                  : QColor(61, 61, 61);
        for (int y = 30; y < 70; ++y)
            QCOMPARE(px(x, y), rgb(expected));
    }
}

void TestColorRamp::colorBarLeavesItsMarginsAlone()
{
    ColorBar bar;
    const QImage image = bar.grab().toImage();
    const QRgb background = bar.palette().color(bar.backgroundRole()).rgb();
    for (int y = 30; y < 70; ++y)
        for (int x = 170; x < 180; ++x)
            QCOMPARE(image.pixel(x, y), background);
    for (int x = 0; x < 180; ++x)
        QCOMPARE(image.pixel(x, 29), background);
    // The two labels sit above the bar, "Low Pressure" from x = 0, "High Pressure" from 102.
    auto inked = [&](int x0, int x1) {
        for (int y = 0; y < 29; ++y)
            for (int x = x0; x < x1; ++x)
                if (image.pixel(x, y) != background)
                    return true;
        return false;
    };
    QVERIFY(inked(0, 60));
    QVERIFY(inked(102, 160));
}

QTEST_MAIN(TestColorRamp)
#include "tst_ColorRamp.moc"
