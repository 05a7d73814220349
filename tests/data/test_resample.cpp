// Resampling onto the regular grid: coverage, exact corners, the copy case, corner cases.

#include "TestSupport.h"
#include "Volume.h"

#include <QtTest>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// A loaded-style volume whose points lie on an even lattice from (0, 0) to (w, h).
Volume *evenDataset(int nx, int ny, double w, double h, int channels,
                    const std::function<void(int, int, DataPoint &)> &fill)
{
    auto *v = new Volume(nx, ny, 1);
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            DataPoint p(channels);
            p.mPos = Vector3(w * x / (nx - 1), h * y / (ny - 1), 0);
            fill(x, y, p);
            v->setAt(x, y, 0, p);
        }
    v->mMinPos = Vector3(0, 0, 0);
    v->mMaxPos = Vector3(w, h, 0);
    return v;
}

// The resampling as its rules read: cells i outer, j inner, every covered grid point
// written through setAt, the last write staying. Zero spans and cells outside the grid as
// the resampling handles them (no interpolation along a zero span; outside points skipped).
void plainResample(const Volume &src, Volume &grid)
{
    for (int i = 0; i + 2 < src.getDimX(); ++i)
        for (int j = 0; j + 2 < src.getDimY(); ++j) {
            const Vector3 a = src.getGridPos(i, j, 0), b = src.getGridPos(i + 1, j + 1, 0);
            const double f[4] = {std::floor(a.x), std::floor(a.y), std::floor(b.x), std::floor(b.y)};
            if (!std::all_of(f, f + 4, [](double v) { return v >= INT_MIN && v <= INT_MAX; }))
                continue;
            const int x0 = int(f[0]), y0 = int(f[1]), x1 = int(f[2]), y1 = int(f[3]);
            if (x1 <= x0 && y1 <= y0) {
                grid.setAt(x0, y0, 0, src.getAt(i, j, 0));
                continue;
            }
            const DataPoint p00 = src.getAt(i, j, 0), p01 = src.getAt(i, j + 1, 0);
            const DataPoint p10 = src.getAt(i + 1, j, 0), p11 = src.getAt(i + 1, j + 1, 0);
            const auto v0 = [](const DataPoint &p) { return p.mValues.isEmpty() ? 0.0f : p.mValues[0]; };
            const double dx = double(x1) - x0, dy = double(y1) - y0;
            for (int gx = x0; gx <= x1; ++gx)
                for (int gy = y0; gy <= y1; ++gy) {
                    if (!grid.isInside(gx, gy, 0))
                        continue;
                    const double a = double(gx) - x0, b = double(gy) - y0;
                    DataPoint q(2);
                    double r[2];
                    for (int c = 0; c < 2; ++c) {
                        const double c00 = c ? p00.mDir.y : p00.mDir.x, c01 = c ? p01.mDir.y : p01.mDir.x;
                        const double c10 = c ? p10.mDir.y : p10.mDir.x, c11 = c ? p11.mDir.y : p11.mDir.x;
                        const double bottom = dx != 0 ? (c10 - c00) / dx * a + c00 : c00;
                        const double top = dx != 0 ? (c11 - c01) / dx * a + c01 : c01;
                        r[c] = dy != 0 ? (top - bottom) / dy * b + bottom : bottom;
                    }
                    q.mDir = Vector3(r[0], r[1], 0);
                    const float bottom = dx != 0 ? (v0(p10) - v0(p00)) / float(dx) * float(a) + v0(p00) : v0(p00);
                    const float top = dx != 0 ? (v0(p11) - v0(p01)) / float(dx) * float(a) + v0(p01) : v0(p01);
                    q.mValues[0] = dy != 0 ? (top - bottom) / float(dy) * float(b) + bottom : bottom;
                    grid.setAt(gx, gy, 0, q);
                }
        }
}

// "" when the two grids hold the same bits everywhere, else the first differing point.
QString firstDifference(const Volume &expected, const Volume &actual)
{
    for (int y = 0; y < expected.getDimY(); ++y)
        for (int x = 0; x < expected.getDimX(); ++x) {
            const DataPoint e = expected.getAt(x, y, 0), a = actual.getAt(x, y, 0);
            if (std::memcmp(&e.mPos, &a.mPos, sizeof(Vector3)) || std::memcmp(&e.mDir, &a.mDir, sizeof(Vector3))
                || e.mValues.size() != a.mValues.size()
                || !std::equal(e.mValues.begin(), e.mValues.end(), a.mValues.begin(),
                               [](float u, float v) { return std::memcmp(&u, &v, sizeof u) == 0; }))
                return QStringLiteral("grid point (%1, %2): expected dir (%3, %4) values %5, got dir (%6, %7) values %8")
                    .arg(x).arg(y).arg(e.mDir.x, 0, 'g', 17).arg(e.mDir.y, 0, 'g', 17).arg(e.mValues.size())
                    .arg(a.mDir.x, 0, 'g', 17).arg(a.mDir.y, 0, 'g', 17).arg(a.mValues.size());
        }
    return QString();
}

} // namespace

class TestResample : public QObject
{
    Q_OBJECT

private slots:
    void evenDatasetCoversAllButLastColumnAndRow()
    {
        std::unique_ptr<Volume> src(evenDataset(7, 5, 6.0, 4.0, 3, [](int x, int y, DataPoint &p) {
            p.mDir = Vector3(x, 10 * y, 5);
            p.mValues = {2.5f, 9.f, 9.f};
        }));
        Volume grid(7, 5, 1);
        testsupport::ProgressRecorder progress;
        grid.calculateGridFrom(*src);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const DataPoint p = grid.getAt(x, y, 0);
                if (x == 6 || y == 4) {
                    QCOMPARE(p.mValues.size(), 0);
                    continue;
                }
                QCOMPARE(p.mValues, QList<float>({2.5f, 0.f}));
                QCOMPARE(p.mPos, Vector3());
                QCOMPARE(p.mDir.z, 0.0);
            }
        // The grid point at a cell's lower-left corner carries that corner's vector exactly.
        QCOMPARE(grid.getAt(0, 0, 0).mDir, Vector3(0, 0, 0));
        QCOMPARE(progress.runs[0].label, QString("Calculating Grid ..."));
        QCOMPARE(progress.runs[0].maximum, 5);
        QCOMPARE(progress.runs[0].values, QList<int>({0, 1, 2, 3, 4}));
        QVERIFY(progress.runs[0].closed);
    }

    void interpolatesBilinearlyAndLastCellWins()
    {
        // Rows and columns at 0, 0.5, 3.5, 4 over the extent 0..4: cell 0 collapses to a copy,
        // the middle cell spans three grid units each way and is written last, over the rest.
        const double at[] = {0, 0.5, 3.5, 4};
        auto *src = new Volume(4, 4, 1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                DataPoint p(1);
                p.mPos = Vector3(at[x], at[y], 0);
                p.mDir = Vector3(x * x, y, 3);
                p.mValues = {float(x + 3 * y)};
                src->setAt(x, y, 0, p);
            }
        src->mMaxPos = Vector3(4, 4, 0);
        Volume grid(4, 4, 1);
        grid.calculateGridFrom(*src);
        delete src;
        const DataPoint p = grid.getAt(1, 2, 0);
        // Corners (1,1) (2,1) (1,2) (2,2): x*x = 1, 4 along x; y = 1, 2 along y.
        const double bottomY = (1.0 - 1.0) / 3 * 1 + 1.0, topY = (2.0 - 2.0) / 3 * 1 + 2.0;
        QCOMPARE(p.mDir, Vector3(2.0, (topY - bottomY) / 3 * 2 + bottomY, 0));
        const float bottom = (5.f - 4.f) / 3 * 1 + 4.f, top = (8.f - 7.f) / 3 * 1 + 7.f;
        QCOMPARE(p.mValues, QList<float>({(top - bottom) / 3 * 2 + bottom, 0.f}));
        QCOMPARE(grid.getAt(0, 0, 0).mDir, Vector3(1, 1, 0)); // exactly corner (1, 1)
        QCOMPARE(grid.getAt(3, 3, 0).mDir, Vector3(4, 2, 0));
    }

    void tinyCellsCopyTheirCorner()
    {
        // 5 x 5 points, but the extent corners are far apart: every cell lies inside one
        // grid cell, so corner (i, j) is copied whole to its grid point.
        std::unique_ptr<Volume> src(evenDataset(5, 5, 1.0, 1.0, 3, [](int x, int y, DataPoint &p) {
            p.mDir = Vector3(x, y, 7);
            p.mValues = {float(x), float(y), 42.f};
        }));
        src->mMaxPos = Vector3(20, 20, 0);
        Volume grid(5, 5, 1);
        grid.calculateGridFrom(*src);
        // Every cell copies to grid point (0, 0); the last one visited, (2, 2), stays.
        const DataPoint p = grid.getAt(0, 0, 0);
        QCOMPARE(p.mDir, Vector3(2, 2, 7));
        QCOMPARE(p.mValues, QList<float>({2.f, 2.f, 42.f}));
        QCOMPARE(p.mPos, Vector3(0.5, 0.5, 0));
        QCOMPARE(grid.getAt(1, 0, 0).mValues.size(), 0);
    }

    void degenerateAndOutsideCellsStayDefined()
    {
        // Points along a line in x (zero height) and points beyond the extent corners.
        auto *src = new Volume(4, 4, 1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                DataPoint p; // no channels
                p.mPos = Vector3(x * 2.0 - (y == 1 ? 50 : 0), y == 3 ? 3.0 : 0.0, 0);
                p.mDir = Vector3(1, 1, 0);
                src->setAt(x, y, 0, p);
            }
        src->mMinPos = Vector3(0, 0, 0);
        src->mMaxPos = Vector3(6, 3, 0);
        Volume grid(4, 4, 1);
        grid.calculateGridFrom(*src);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const DataPoint p = grid.getAt(x, y, 0);
                QVERIFY(std::isfinite(p.mDir.x) && std::isfinite(p.mDir.y));
                if (!p.mValues.isEmpty())
                    QCOMPARE(p.mValues[0], 0.f);
            }
        delete src;

        // A zero-width extent gives infinite scale factors: nothing is written, nothing breaks.
        std::unique_ptr<Volume> flat(evenDataset(4, 4, 0.0, 1.0, 1, [](int, int, DataPoint &) {}));
        Volume g2(4, 4, 1);
        g2.calculateGridFrom(*flat);
        QCOMPARE(g2.getAt(1, 1, 0).mValues.size(), 0);
    }

    void cellsSpanningTheWholeGridStopWithAMessage()
    {
        // Every other column sits at the far extent corner: half the cells cover the whole
        // grid, which would take cells x points steps.
        auto *src = new Volume(300, 300, 1);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 300; ++x) {
                DataPoint p;
                p.mPos = x % 2 ? Vector3(10, 10, 0) : Vector3(0, 0, 0);
                p.mDir = Vector3(1, 0, 0);
                src->setAt(x, y, 0, p);
            }
        src->mMaxPos = Vector3(10, 10, 0);
        Volume grid(300, 300, 1);
        testsupport::ConsoleCapture console;
        grid.calculateGridFrom(*src); // a hang ends at the test's timeout
        delete src;
        QVERIFY(console.contains("Resampling stopped"));
    }

    // Even, warped (cells of 0 to 3 grid points, overlapping, folded back), coarse-onto-fine
    // and fine-onto-coarse (copied corners) datasets, with NaN flow: the same bits as the
    // plain walk.
    void matchesThePlainWalk_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nx");
        QTest::addColumn<int>("ny");
        QTest::newRow("even") << 0 << 23 << 17;
        QTest::newRow("warped") << 1 << 40 << 31;
        QTest::newRow("folded") << 2 << 35 << 35;
        QTest::newRow("nan") << 3 << 30 << 20;
    }
    void matchesThePlainWalk()
    {
        QFETCH(int, kind);
        QFETCH(int, nx);
        QFETCH(int, ny);
        std::unique_ptr<Volume> src(evenDataset(nx, ny, 5.0, 3.0, 2, [&](int x, int y, DataPoint &p) {
            p.mDir = Vector3(std::sin(x * 0.7) + y * 0.1, std::cos(y * 0.3) - x * 0.05, 0.5);
            p.mValues = {float(x * 0.37 - y * 0.11), 7.0f};
            if (kind == 1)
                p.mPos.x += 0.3 * std::sin(y * 0.9) * std::sin(x * 0.4);
            if (kind == 2 && x % 5 == 3)
                p.mPos = Vector3(5.0 * (x - 2) / (nx - 1), 3.0 * (y - 3) / (ny - 1), 0); // folds back
            if (kind == 3 && x > 10 && x < 14)
                p.mDir.x = std::nan("");
        }));
        Volume fast(nx + 7, ny - 3, 1), plain(nx + 7, ny - 3, 1);
        fast.calculateGridFrom(*src);
        plainResample(*src, plain);
        const QString diff = firstDifference(plain, fast);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void tooSmallDatasetsWriteNothing()
    {
        std::unique_ptr<Volume> src(evenDataset(2, 9, 1.0, 8.0, 1, [](int, int, DataPoint &p) { p.mDir = Vector3(1, 0, 0); }));
        Volume grid(2, 9, 1);
        grid.calculateGridFrom(*src);
        QCOMPARE(grid.getAt(0, 0, 0).mValues.size(), 0);
    }
};

QTEST_MAIN(TestResample)
#include "test_resample.moc"
