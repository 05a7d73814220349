// Computation behind the arrow plot, without a window: the pressure colour ramp and its legend,
// the fast pressure background against a plain point-by-point drawing, and the arrow glyphs.

#include "arrowplot/ArrowRender.h"
#include "arrowplot/ui/ColorBar.h"
#include "arrowplot/ColorRamp.h"
#include "tests/support/TestSupport.h"
#include "data/Volume.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
QString rgb(const QColor &c) { return QStringLiteral("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue()); }
const float kNaN = std::numeric_limits<float>::quiet_NaN();
// Where two same-sized images first differ, for a failure message.
QString firstDiff(const QImage &a, const QImage &b)
{
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4").arg(x).arg(y).arg(a.pixel(x, y), 0, 16).arg(b.pixel(x, y), 0, 16);
    return QString();
}
// The scale of the default view (27.69 x 29.17 pixels per unit: tst_arrowplot's zoom table)
// with cells of the given size.
arrowrender::ArrowScale scale(bool fixed, float cell = 1.0f)
{
    arrowrender::ArrowScale s = arrowrender::arrowScaleFor(314, 538, 0, 0, 314, 538, 1, fixed);
    s.cellWidth = s.cellHeight = cell;
    return s;
}
} // namespace

class TestArrowRender : public QObject
{
    Q_OBJECT
private slots:
    void ramp_data()
    {
        // A pressure and its colour, which pins the ramp position to within one step.
        QTest::addColumn<float>("pressure");
        QTest::addColumn<QString>("color");
        QTest::newRow("-4") << -4.0f << "255,255,0";
        QTest::newRow("-0.75") << -0.75f << "158,158,30";
        // The ramp position is the single-precision product 0.6153846...: 135/37, not 136/38.
        QTest::newRow("0") << 0.0f << "135,135,37";
        QTest::newRow("2.5") << 2.5f << "61,61,61";
        QTest::newRow("4.5") << 4.5f << "1,1,79";
        QTest::newRow("-13 clamps red") << -13.0f << "0,0,84";
        QTest::newRow("1e30 clamps blue") << 1e30f << "0,0,255";
        QTest::newRow("NaN black") << kNaN << "0,0,0";
    }

    void ramp()
    {
        QFETCH(float, pressure);
        QFETCH(QString, color);
        QCOMPARE(rgb(colorFromRamp(pressureToRamp(pressure))), color);
        QCOMPARE(ramp::pressureRgb(pressure), colorFromRamp(pressureToRamp(pressure)).rgb());
        QCOMPARE(rgb(colorFromRamp(pressureToRamp(-8.0f - pressure))), color); // mirrored about -4
    }

    void colorBar()
    {
        ColorBar bar;
        bar.resize(400, 300);
        QCOMPARE(bar.size(), QSize(180, 70));
        const QImage image = bar.grab().toImage();
        const QList<QPair<QPoint, QString>> want = {{{0, 30}, "255,255,0"},   {{84, 50}, "158,158,30"}, {{85, 50}, "157,157,30"},
                                                    {{153, 50}, "62,62,60"}, {{154, 50}, "61,61,61"}, {{169, 50}, "61,61,61"}};
        for (const auto &w : want)
            QCOMPARE(rgb(QColor(image.pixel(w.first))), w.second);
        QCOMPARE(rgb(colorFromRamp(2.0)), QStringLiteral("0,0,122")); // past the ramp's end: blue grows on
    }

    void backgroundMatchesPointDrawing_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QPoint>("pan");
        // One pixel per cell, the largest cells, and fractional cells with cells past the grid.
        QTest::newRow("zoom 1") << 1 << QPoint();
        QTest::newRow("zoom 15") << 15 << QPoint();
        QTest::newRow("zoom 10 panned past two edges") << 10 << QPoint(150, -120);
    }

    void backgroundMatchesPointDrawing()
    {
        QFETCH(int, level);
        QFETCH(QPoint, pan);
        // Pressures over the whole ramp and beyond both ends; every 17th point left without values.
        std::unique_ptr<Volume> grid(testsupport::makeGrid(314, 538, [](int, int) { return Vector3(1, 0, 0); },
                                                           [](int x, int y) { return -6.0f + 0.012f * x + 0.011f * y; }));
        for (int x = 0; x < 314; x += 17)
            grid->setAt(x, (x * 7) % 538, 0, DataPoint());
        const int vw = 314 - 20 * (level - 1), vh = 538 - 36 * (level - 1);
        const float cw = 314.0f / vw, ch = 538.0f / vh;
        Volume view(vw, vh, 1);
        arrowrender::copyViewCells(grid.get(), 10 * (level - 1) + pan.x(), 18 * (level - 1) + pan.y(), view);
        QImage fast;
        arrowrender::computePressureBackground(fast, 314, 538, view, cw, ch, nullptr);

        // The plain way: cell by cell (column outer), every point of its block with inclusive
        // bounds, later cells over earlier ones; cells without a value and uncovered pixels black.
        QImage reference(314, 538, QImage::Format_RGB32);
        reference.fill(Qt::black);
        QPainter painter(&reference);
        for (int i = 0; i < vw; ++i)
            for (int j = 0; j < vh; ++j) {
                const DataPoint p = view.getAt(i, j, 0);
                painter.setPen(p.mValues.isEmpty() ? QColor(0, 0, 0) : colorFromRamp(pressureToRamp(p.mValues[0])));
                for (int px = static_cast<int>(i * cw); px <= (i + 1) * cw; ++px)
                    for (int py = static_cast<int>(j * ch); py <= (j + 1) * ch; ++py)
                        painter.drawPoint(px, py);
            }
        painter.end();
        QVERIFY2(fast == reference, qPrintable(firstDiff(fast, reference))); // == also compares the format
        QVERIFY(fast.pixel(157, 269) != qRgb(0, 0, 0));
    }

    void glyphs_data()
    {
        // Tail at (100, 100), zoom 1; lines as "x1,y1,x2,y2" (shaft, then the two barbs), or the
        // return value when nothing is drawn (0 for no flow, -1 for non-finite flow).
        QTest::addColumn<QPointF>("flow");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<QString>("lines");
        QTest::newRow("fixed (1,1): clamped to 6 px, right-angle head")
            << QPointF(1, 1) << true << "100,100,106,106 103,106,106,106 106,103,106,106";
        QTest::newRow("intensity (1,1): m = sqrt 2 + 0.3")
            << QPointF(1, 1) << false << "100,100,110,110 104,110,110,110 110,104,110,110";
        QTest::newRow("right angle turned back (-1,-1)")
            << QPointF(-1, -1) << true << "100,100,94,94 97,94,94,94 94,97,94,94";
        QTest::newRow("V head down (0,1)") << QPointF(0, 1) << true << "100,100,100,106 97,103,100,106 103,103,100,106";
        QTest::newRow("mirrored V up (0,-1)") << QPointF(0, -1) << true << "100,100,100,94 97,97,100,94 103,97,100,94";
        QTest::newRow("horizontal (1,0)") << QPointF(1, 0) << true << "100,100,106,100 103,97,106,100 103,103,106,100";
        QTest::newRow("components clamped apart (1,0.1)") << QPointF(1, 0.1f) << true << "100,100,106,102 103,102,106,102 106,99,106,102";
        QTest::newRow("no flow") << QPointF(0, 0) << true << "0";
        QTest::newRow("NaN flow") << QPointF(kNaN, 1) << true << "-1";
        QTest::newRow("infinite flow") << QPointF(1, std::numeric_limits<float>::infinity()) << false << "-1";
    }

    void glyphs()
    {
        QFETCH(QPointF, flow);
        QFETCH(bool, fixed);
        QLine out[3];
        const int n = arrowrender::arrowGlyph(100, 100, float(flow.x()), float(flow.y()), scale(fixed), out);
        QStringList got;
        for (int i = 0; i < n; ++i)
            got << QStringLiteral("%1,%2,%3,%4").arg(out[i].x1()).arg(out[i].y1()).arg(out[i].x2()).arg(out[i].y2());
        QTEST(n > 0 ? got.join(' ') : QString::number(n), "lines");
    }

    void latticeMatchesArrowByArrow()
    {
        // A swirling field with zero, tiny, steep and NaN vectors, at cell sizes of 1 and 9.3.
        const std::unique_ptr<Volume> view(testsupport::makeGrid(314, 538, [](int x, int y) {
            Vector3 d = (x + y) % 7 ? Vector3(std::sin(x * 0.05) * (y % 5), std::cos(y * 0.03) - 0.5, 0) : Vector3(0, (x % 3) - 1, 0);
            d.x = x == 120 ? std::nan("") : d.x;
            return d;
        }));
        for (const float cell : {1.0f, 9.3f})
            for (const bool fixed : {true, false}) {
                const arrowrender::ArrowScale s = scale(fixed, cell);
                QImage images[2]; // the lattice at once, then arrow by arrow
                int skipped[2] = {0, 0};
                for (int k = 0; k < 2; ++k) {
                    images[k] = QImage(314, 538, QImage::Format_RGB32);
                    images[k].fill(Qt::black);
                    QPainter painter(&images[k]);
                    painter.setRenderHint(QPainter::Antialiasing, true);
                    QPen pen(Qt::white, 1);
                    pen.setCosmetic(true);
                    painter.setPen(pen);
                    if (k == 0)
                        skipped[0] = arrowrender::drawArrowLattice(painter, *view, s);
                    for (int i = 12; k == 1 && i < 314; i += 12)
                        for (int j = 12; j <= 538 - 12; j += 12) {
                            const Vector3 q = view->getAt(i, j, 0).mDir;
                            skipped[1] += arrowrender::drawArrow(painter, int(float(i) * cell), int(float(j) * cell), float(q.x), float(q.y), s) < 0;
                        }
                }
                QCOMPARE(skipped[0], skipped[1]);
                QVERIFY2(images[0] == images[1], qPrintable(QStringLiteral("cell %1 fixed %2: %3").arg(cell).arg(fixed).arg(firstDiff(images[0], images[1]))));
            }
    }
};

QTEST_MAIN(TestArrowRender)
#include "tst_arrowrender.moc"
