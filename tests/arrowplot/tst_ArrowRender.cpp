// Image computation of the arrow plot without a widget: the view copy, the fast pressure
// background against the plain point-by-point drawing, the arrow glyphs and the lattice.

#include "ArrowRender.h"
#include "ArrowTestUtil.h"
#include "Progress.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace arrowtest;
using arrowrender::ArrowScale;

namespace {

// The view of zoom level k about the centre of the 314 x 538 widget, optionally moved.
struct ZoomView
{
    int x1, y1, vw, vh;
    float cw, ch;
};

ZoomView zoomView(int level, int panX = 0, int panY = 0)
{
    ZoomView v;
    v.x1 = 10 * (level - 1) + panX;
    v.y1 = 18 * (level - 1) + panY;
    v.vw = 314 - 20 * (level - 1);
    v.vh = 538 - 36 * (level - 1);
    v.cw = 314.0f / static_cast<float>(v.vw);
    v.ch = 538.0f / static_cast<float>(v.vh);
    return v;
}

ArrowScale scaleAt(int level, bool fixed = true)
{
    const ZoomView v = zoomView(level);
    ArrowScale s;
    s.cellWidth = v.cw;
    s.cellHeight = v.ch;
    s.pixelsPerUnitX = 314.0f / (11.6701f - 0.3299f) * static_cast<float>(level);
    s.pixelsPerUnitY = 538.0f / (18.77217f - 0.3299f) * static_cast<float>(level);
    s.fixedLength = fixed;
    return s;
}

QList<QLine> glyph(int x, int y, float dx, float dy, const ArrowScale &s, int *count = nullptr)
{
    QLine lines[3];
    const int n = arrowrender::arrowGlyph(x, y, dx, dy, s, lines);
    if (count)
        *count = n;
    QList<QLine> out;
    for (int i = 0; i < n; ++i)
        out << lines[i];
    return out;
}

// A grid with holes and pressures beyond the ramp: points never written (no values), a column
// written without values (as from a dataset without channels) and extreme pressures.
Volume *awkwardGrid(int w, int h)
{
    auto *v = new Volume(w, h, 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if ((x * 7 + y * 3) % 23 == 0)
                continue; // left empty
            DataPoint p(x == 5 ? 0 : 2);
            p.mDir = Vector3(std::sin(x * 0.1), std::cos(y * 0.1), 0.0);
            if (x != 5)
                p.mValues[0] = (y % 50 == 0) ? 40.0f : (y % 61 == 0) ? -60.0f : -5.0f + 0.013f * x + 0.01f * y;
            v->setAt(x, y, 0, p);
        }
    }
    return v;
}

} // namespace

class TestArrowRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void viewCopyMatchesPointReads();
    void viewCopyWithoutGrid();
    void pixelOwnersFollowTheDrawingLoops();
    void backgroundMatchesPointDrawing_data();
    void backgroundMatchesPointDrawing();
    void backgroundOfCellsWithoutValues();
    void backgroundProgress();

    void glyphExamples();
    void glyphHeadsPointAlongTheirShaft();
    void glyphOfBrokenFlow();
    void latticeAtDefaultView();
    void latticeAtDeepestZoom();

private:
    QTemporaryDir mDir;
};

void TestArrowRender::initTestCase()
{
    QVERIFY(mDir.isValid());
    QVERIFY(loadChannelSample(mDir));
}

void TestArrowRender::cleanupTestCase()
{
    testsupport::setVolumes(nullptr, nullptr);
}

void TestArrowRender::viewCopyMatchesPointReads()
{
    std::unique_ptr<Volume> grid(awkwardGrid(60, 40));
    // Views inside, across every edge, and wholly outside the grid.
    const QList<QRect> views = {QRect(0, 0, 60, 40), QRect(10, 5, 30, 20), QRect(-7, -3, 80, 50),
                                QRect(45, 30, 30, 30), QRect(100, 100, 10, 10), QRect(-20, 10, 15, 5)};
    for (const QRect &r : views) {
        Volume view(r.width(), r.height(), 1);
        arrowrender::copyViewCells(grid.get(), r.x(), r.y(), view);
        for (int i = 0; i < r.width(); ++i) {
            for (int j = 0; j < r.height(); ++j) {
                const DataPoint want = grid->getAt(r.x() + i, r.y() + j, 0);
                const DataPoint got = view.getAt(i, j, 0);
                QCOMPARE(got.mPos, want.mPos);
                QCOMPARE(got.mDir, want.mDir);
                QCOMPARE(got.mValues, want.mValues);
            }
        }
    }
    // Reused for another place, the copy keeps nothing of the previous one.
    Volume view(30, 20, 1);
    arrowrender::copyViewCells(grid.get(), 10, 5, view);
    arrowrender::copyViewCells(grid.get(), 50, 35, view);
    QCOMPARE(view.getAt(0, 0, 0).mValues, grid->getAt(50, 35, 0).mValues);
    QVERIFY(view.getAt(15, 10, 0).mValues.isEmpty());
    QCOMPARE(view.getAt(15, 10, 0).mDir, Vector3());
}

void TestArrowRender::viewCopyWithoutGrid()
{
    Volume view(10, 10, 1);
    arrowrender::copyViewCells(gridVolume, 0, 0, view);
    QVERIFY(!view.getAt(3, 3, 0).mValues.isEmpty());
    arrowrender::copyViewCells(nullptr, 0, 0, view);
    QVERIFY(view.getAt(3, 3, 0).mValues.isEmpty());
    QCOMPARE(view.getAt(3, 3, 0).mDir, Vector3());
    Volume empty(0, 0, 1);
    arrowrender::copyViewCells(gridVolume, 0, 0, view);
    arrowrender::copyViewCells(&empty, 0, 0, view);
    QVERIFY(view.getAt(3, 3, 0).mValues.isEmpty());
}

void TestArrowRender::pixelOwnersFollowTheDrawingLoops()
{
    // At one pixel per cell, cell c paints c and c + 1; c + 1 paints over: owner[p] = p.
    std::vector<int> owner(314);
    arrowrender::pixelOwners(314, 1.0f, 314, owner.data());
    for (int p = 0; p < 314; ++p)
        QCOMPARE(owner[p], p);
    // Against the literal loops for every zoom level's cell size along both axes.
    for (int level = 1; level <= 15; ++level) {
        const ZoomView v = zoomView(level);
        for (int axis = 0; axis < 2; ++axis) {
            const int cells = axis ? v.vh : v.vw;
            const int pixels = axis ? 538 : 314;
            const float size = axis ? v.ch : v.cw;
            std::vector<int> want(pixels, -1), got(pixels);
            for (int c = 0; c < cells; ++c)
                for (int p = static_cast<int>(c * size); p <= (c + 1) * size; ++p)
                    if (p < pixels)
                        want[p] = c;
            arrowrender::pixelOwners(cells, size, pixels, got.data());
            QCOMPARE(got, want);
        }
    }
    // Cells smaller than a pixel, and broken sizes, leave what nothing covers at -1.
    std::vector<int> got(10);
    arrowrender::pixelOwners(40, 0.25f, 10, got.data());
    QCOMPARE(got[0], 3);
    QCOMPARE(got[9], 39);
    arrowrender::pixelOwners(5, std::numeric_limits<float>::quiet_NaN(), 10, got.data());
    QCOMPARE(got, std::vector<int>(10, -1));
}

void TestArrowRender::backgroundMatchesPointDrawing_data()
{
    QTest::addColumn<bool>("awkward");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("panX");
    QTest::addColumn<int>("panY");
    QTest::newRow("channel zoom 1") << false << 1 << 0 << 0;
    QTest::newRow("channel zoom 2") << false << 2 << 0 << 0;
    QTest::newRow("channel zoom 10") << false << 10 << 0 << 0;
    QTest::newRow("channel zoom 15") << false << 15 << 0 << 0;
    QTest::newRow("channel zoom 1 panned") << false << 1 << -5 << 3;
    QTest::newRow("channel zoom 10 panned past two edges") << false << 10 << 150 << -120;
    QTest::newRow("channel zoom 15 panned") << false << 15 << 37 << -11;
    QTest::newRow("holes and extremes zoom 2") << true << 2 << 0 << 0;
    QTest::newRow("holes and extremes zoom 14 panned") << true << 14 << -80 << 200;
}

void TestArrowRender::backgroundMatchesPointDrawing()
{
    QFETCH(bool, awkward);
    QFETCH(int, level);
    QFETCH(int, panX);
    QFETCH(int, panY);
    std::unique_ptr<Volume> own(awkward ? awkwardGrid(314, 538) : nullptr);
    const Volume *grid = awkward ? own.get() : gridVolume;
    const ZoomView v = zoomView(level, panX, panY);
    Volume view(v.vw, v.vh, 1);
    arrowrender::copyViewCells(grid, v.x1, v.y1, view);

    QImage fast;
    arrowrender::computePressureBackground(fast, 314, 538, view, v.cw, v.ch, nullptr);
    QCOMPARE(fast.format(), QImage::Format_RGB32);
    const QImage reference = referenceBackground(view, 314, 538, v.cw, v.ch);
    QCOMPARE(firstDifference(fast, reference), QString());
    // Not trivially black: the channel's pressure spans most of the ramp.
    QVERIFY(fast.pixel(157, 269) != qRgb(0, 0, 0));
}

void TestArrowRender::backgroundOfCellsWithoutValues()
{
    // Half the view lies left of the grid: those cells have no pressure and are black, the
    // others take their ramp colour.
    const ZoomView v = zoomView(15, -157);
    Volume view(v.vw, v.vh, 1);
    arrowrender::copyViewCells(gridVolume, v.x1, v.y1, view);
    QImage image(5, 5, QImage::Format_ARGB32); // the wrong size and format is replaced
    arrowrender::computePressureBackground(image, 314, 538, view, v.cw, v.ch, nullptr);
    QCOMPARE(image.size(), QSize(314, 538));
    const int outside = -v.x1; // view columns 0 ... outside - 1 lie left of the grid
    QVERIFY(outside > 0 && outside < v.vw);
    const int lastBlackPixel = static_cast<int>(static_cast<float>(outside) * v.cw) - 1;
    for (int y = 0; y < 538; ++y) {
        QCOMPARE(image.pixel(0, y), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(lastBlackPixel, y), qRgb(0, 0, 0));
        QVERIFY(image.pixel(lastBlackPixel + 2, y) != qRgb(0, 0, 0));
    }
    // A dataset without channels: every cell lacks a value.
    Volume bare(20, 20, 1);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 20; ++y) {
            DataPoint p;
            p.mDir = Vector3(1, 0, 0);
            bare.setAt(x, y, 0, p);
        }
    Volume bareView(20, 20, 1);
    arrowrender::copyViewCells(&bare, 0, 0, bareView);
    arrowrender::computePressureBackground(image, 40, 40, bareView, 2.0f, 2.0f, nullptr);
    QCOMPARE(litBounds(image), QRect());
    // An empty view volume: all black, no crash.
    Volume none(0, 0, 0);
    arrowrender::computePressureBackground(image, 40, 40, none, 2.0f, 2.0f, nullptr);
    QCOMPARE(litBounds(image), QRect());
}

void TestArrowRender::backgroundProgress()
{
    testsupport::ProgressRecorder recorder;
    const ZoomView v = zoomView(10);
    Volume view(v.vw, v.vh, 1);
    arrowrender::copyViewCells(gridVolume, v.x1, v.y1, view);
    QImage image;
    {
        Progress progress(QStringLiteral("Calculating Colors ..."), 0, v.vw);
        arrowrender::computePressureBackground(image, 314, 538, view, v.cw, v.ch, &progress);
    }
    QCOMPARE(recorder.runs.size(), 1);
    QList<int> columns;
    for (int i = 0; i < v.vw; ++i)
        columns << i;
    QCOMPARE(recorder.runs[0].values, columns);
}

void TestArrowRender::glyphExamples()
{
    const ArrowScale s1 = scaleAt(1);
    int n = -5;
    QCOMPARE(glyph(50, 60, 0.0f, 0.0f, s1, &n), QList<QLine>());
    QCOMPARE(n, 0);
    QCOMPARE(glyph(50, 60, -0.0f, 0.0f, s1, &n), QList<QLine>());

    // (1, 1), fixed length, level 1: both components clamped to 6, right-angled head.
    QCOMPARE(glyph(100, 100, 1.0f, 1.0f, s1),
             (QList<QLine>{QLine(100, 100, 106, 106), QLine(103, 106, 106, 106), QLine(106, 103, 106, 106)}));

    // The same vector by intensity: m = sqrt(2) + 0.3, limit about 10.285, head about 5.143.
    const ArrowScale s1i = scaleAt(1, false);
    QCOMPARE(glyph(100, 100, 1.0f, 1.0f, s1i),
             (QList<QLine>{QLine(100, 100, 110, 110), QLine(104, 110, 110, 110), QLine(110, 104, 110, 110)}));
    // A slow flow gets a short arrow: |v| = 0.1 gives the limit 6 * 0.4 = 2.4 cells.
    QCOMPARE(glyph(100, 100, 0.1f, 0.0f, s1i).first(), QLine(100, 100, 102, 100));

    // (0, 1) points down: V head with barbs from (x2 - 3 cw, y2 - 3 ch) and (x2 + 3 cw, ...).
    QCOMPARE(glyph(100, 100, 0.0f, 1.0f, s1),
             (QList<QLine>{QLine(100, 100, 100, 106), QLine(97, 103, 100, 106), QLine(103, 103, 100, 106)}));
    const ArrowScale s10 = scaleAt(10);
    const int y2 = static_cast<int>(std::floor(200.0f + 6.0f * s10.cellHeight));
    const QList<QLine> v10 = glyph(200, 200, 0.0f, 1.0f, s10);
    QCOMPARE(v10.size(), 3);
    QCOMPARE(v10[0], QLine(200, 200, 200, y2));
    QCOMPARE(v10[1], QLine(static_cast<int>(std::floor(200.0f - 3.0f * s10.cellWidth)),
                           static_cast<int>(std::floor(static_cast<float>(y2) - 3.0f * s10.cellHeight)), 200, y2));
    QCOMPARE(v10[2], QLine(static_cast<int>(std::floor(200.0f + 3.0f * s10.cellWidth)),
                           static_cast<int>(std::floor(static_cast<float>(y2) - 3.0f * s10.cellHeight)), 200, y2));
    QCOMPARE(v10[1].x1(), 192); // 200 - 7.03
    QCOMPARE(v10[2].x1(), 207);

    // Raw length below the limit: (0.1, 0.05) at level 1 is (2.77, 1.46) pixels; |dx| < 3.
    QCOMPARE(glyph(10, 10, 0.1f, 0.05f, s1).first(), QLine(10, 10, 12, 11));

    // Clamping each component on its own turns the arrow: (1, 0.1) ends at (x + 6, y + 2).
    QCOMPARE(glyph(10, 10, 1.0f, 0.1f, s1).first(), QLine(10, 10, 16, 12));

    // Right angles in the other quadrants turn their barbs back towards the tail.
    QCOMPARE(glyph(100, 100, -1.0f, -1.0f, s1),
             (QList<QLine>{QLine(100, 100, 94, 94), QLine(97, 94, 94, 94), QLine(94, 97, 94, 94)}));
    QCOMPARE(glyph(100, 100, -1.0f, 1.0f, s1),
             (QList<QLine>{QLine(100, 100, 94, 106), QLine(97, 106, 94, 106), QLine(94, 103, 94, 106)}));
    QCOMPARE(glyph(100, 100, 1.0f, -1.0f, s1),
             (QList<QLine>{QLine(100, 100, 106, 94), QLine(103, 94, 106, 94), QLine(106, 97, 106, 94)}));
}

void TestArrowRender::glyphHeadsPointAlongTheirShaft()
{
    const ArrowScale s1 = scaleAt(1);
    // Up the image: the V is mirrored so that it opens towards the tail (below the tip).
    QCOMPARE(glyph(100, 100, 0.0f, -1.0f, s1),
             (QList<QLine>{QLine(100, 100, 100, 94), QLine(97, 97, 100, 94), QLine(103, 97, 100, 94)}));
    // Nearly vertical, slightly sideways, upwards: the same.
    const QList<QLine> up = glyph(100, 100, 0.05f, -1.0f, s1);
    QCOMPARE(up[0], QLine(100, 100, 101, 94));
    QVERIFY(up[1].y1() > up[0].y2() && up[2].y1() > up[0].y2());

    // Exactly horizontal: two barbs symmetric about the shaft, behind the tip.
    QCOMPARE(glyph(100, 100, 1.0f, 0.0f, s1),
             (QList<QLine>{QLine(100, 100, 106, 100), QLine(103, 97, 106, 100), QLine(103, 103, 106, 100)}));
    QCOMPARE(glyph(100, 100, -1.0f, 0.0f, s1),
             (QList<QLine>{QLine(100, 100, 94, 100), QLine(97, 97, 94, 100), QLine(97, 103, 94, 100)}));
    // A tiny head by intensity (m = 0.3 + |v|) still leaves the shaft.
    const QList<QLine> slow = glyph(100, 100, 0.2f, 0.0f, scaleAt(1, false));
    QCOMPARE(slow[0], QLine(100, 100, 103, 100)); // limit 6 * 0.5 cells
    QVERIFY(slow[1].y1() < 100 && slow[2].y1() > 100);

    // For every direction, each barb starts behind the tip as seen from the tail.
    for (int k = 0; k < 360; k += 3) {
        const double a = k * 3.14159265358979 / 180.0;
        const float dx = static_cast<float>(std::cos(a)), dy = static_cast<float>(std::sin(a));
        const QList<QLine> g = glyph(100, 100, dx, dy, s1);
        QCOMPARE(g.size(), 3);
        const QPoint shaft = g[0].p2() - g[0].p1();
        for (int b = 1; b < 3; ++b) {
            QCOMPARE(g[b].p2(), g[0].p2());
            const QPoint barb = g[b].p1() - g[b].p2(); // from the tip back along the barb
            QVERIFY2(shaft.x() * barb.x() + shaft.y() * barb.y() < 0,
                     qPrintable(QStringLiteral("angle %1").arg(k)));
        }
    }
}

void TestArrowRender::glyphOfBrokenFlow()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    int n = 0;
    QVERIFY(glyph(10, 10, nan, 1.0f, scaleAt(1), &n).isEmpty());
    QCOMPARE(n, -1);
    QVERIFY(glyph(10, 10, 1.0f, inf, scaleAt(1, false), &n).isEmpty());
    QCOMPARE(n, -1);
    // Huge but finite by intensity: the arrow is drawn, its pixels stay far inside int range.
    const QList<QLine> huge = glyph(10, 10, 1e15f, 1e15f, scaleAt(1, false), &n);
    QCOMPARE(n, 3);
    for (const QLine &l : huge)
        QVERIFY(std::abs(l.x1()) <= 1000000 && std::abs(l.y1()) <= 1000000);
    // With fixed length, a huge flow is just a full-size arrow.
    QCOMPARE(glyph(10, 10, 1e30f, 1e30f, scaleAt(1)).first(), QLine(10, 10, 16, 16));
}

void TestArrowRender::latticeAtDefaultView()
{
    // A flow that varies from cell to cell and is nowhere zero.
    std::unique_ptr<Volume> grid(testsupport::makeGrid(314, 538, [](int x, int y) {
        return Vector3(0.5 + 0.01 * x, -0.3 + 0.002 * y, 0.0);
    }));
    Volume view(314, 538, 1);
    arrowrender::copyViewCells(grid.get(), 0, 0, view);
    LineRecorder device;
    QPainter painter(&device);
    painter.setPen(QColor(255, 255, 255));
    QCOMPARE(arrowrender::drawArrowLattice(painter, view, scaleAt(1)), 0);
    painter.end();
    const QList<QLine> lines = device.plainLines();
    // 26 columns (12 ... 312) by 43 rows (12 ... 516), three lines each, column by column.
    QCOMPARE(lines.size(), 26 * 43 * 3);
    int k = 0;
    for (int i = 12; i <= 312; i += 12) {
        for (int j = 12; j <= 516; j += 12) {
            const Vector3 d = grid->getAt(i, j, 0).mDir;
            QCOMPARE(lines.mid(k, 3), glyph(i, j, float(d.x), float(d.y), scaleAt(1)));
            k += 3;
        }
    }
    // The channel sample: the cells inside its cylinder have no flow and no arrow.
    arrowrender::copyViewCells(gridVolume, 0, 0, view);
    LineRecorder channel;
    QPainter p2(&channel);
    arrowrender::drawArrowLattice(p2, view, scaleAt(1));
    p2.end();
    int still = 0;
    for (int i = 12; i <= 312; i += 12)
        for (int j = 12; j <= 516; j += 12)
            still += gridVolume->getAt(i, j, 0).mDir == Vector3() ? 1 : 0;
    QVERIFY(still > 0);
    QCOMPARE(channel.lines().size(), (26 * 43 - still) * 3);
}

void TestArrowRender::latticeAtDeepestZoom()
{
    // 34 x 34 cells: columns 12 and 24, and rows only while j <= 34 - 12.
    const ZoomView v = zoomView(15);
    Volume view(v.vw, v.vh, 1);
    arrowrender::copyViewCells(gridVolume, v.x1, v.y1, view);
    LineRecorder device;
    QPainter painter(&device);
    arrowrender::drawArrowLattice(painter, view, scaleAt(15));
    painter.end();
    const QList<QLine> lines = device.plainLines();
    QCOMPARE(lines.size(), 2 * 3);
    QCOMPARE(lines[0].p1(), QPoint(static_cast<int>(12 * v.cw), static_cast<int>(12 * v.ch)));
    QCOMPARE(lines[0].p1(), QPoint(110, 189));
    QCOMPARE(lines[3].p1(), QPoint(221, 189));

    // Cells without flow (outside the grid) draw nothing; non-finite flow is counted.
    Volume outside(v.vw, v.vh, 1);
    arrowrender::copyViewCells(gridVolume, 5000, 5000, outside);
    LineRecorder none;
    QPainter p2(&none);
    QCOMPARE(arrowrender::drawArrowLattice(p2, outside, scaleAt(15)), 0);
    DataPoint broken;
    broken.mDir = Vector3(std::numeric_limits<double>::quiet_NaN(), 1.0, 0.0);
    outside.setAt(12, 12, 0, broken);
    QCOMPARE(arrowrender::drawArrowLattice(p2, outside, scaleAt(15)), 1);
    p2.end();
    QVERIFY(none.lines().isEmpty());
}

QTEST_MAIN(TestArrowRender)
#include "tst_ArrowRender.moc"
