// Resampling onto the regular grid: its progress, the stop on runaway cells, and the same bits
// as a plain walk of the cells (even, warped and folded datasets, the copy case, edge cases),
// also when the resampling gives its source's memory back as it goes.

#include "tests/support/TestSupport.h"

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
    v->mMaxPos = Vector3(w, h, 0);
    return v;
}

// The resampling as its rules read: cells i outer, j inner, every covered grid point
// written through setAt, the last write staying. Zero spans and cells outside the grid as
// the resampling handles them (no interpolation along a zero span; outside points skipped;
// cells whose corners do not map to ints skipped).
void plainResample(const Volume &src, Volume &grid)
{
    for (int i = 0; i + 2 < src.getDimX(); ++i)
        for (int j = 0; j + 2 < src.getDimY(); ++j) {
            const Vector3 g0 = src.getGridPos(i, j, 0), g1 = src.getGridPos(i + 1, j + 1, 0);
            const double f[4] = {std::floor(g0.x), std::floor(g0.y), std::floor(g1.x), std::floor(g1.y)};
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
                    // Double for the vector, float (each step rounded) for the channel.
                    const double a = double(gx) - x0, b = double(gy) - y0;
                    const auto bilinear = [&](auto c00, auto c01, auto c10, auto c11) {
                        using T = decltype(c00);
                        const T bottom = dx != 0 ? (c10 - c00) / T(dx) * T(a) + c00 : c00;
                        const T top = dx != 0 ? (c11 - c01) / T(dx) * T(a) + c01 : c01;
                        return dy != 0 ? (top - bottom) / T(dy) * T(b) + bottom : bottom;
                    };
                    DataPoint q(2);
                    q.mDir = Vector3(bilinear(p00.mDir.x, p01.mDir.x, p10.mDir.x, p11.mDir.x),
                                     bilinear(p00.mDir.y, p01.mDir.y, p10.mDir.y, p11.mDir.y), 0);
                    q.mValues[0] = bilinear(v0(p00), v0(p01), v0(p10), v0(p11));
                    grid.setAt(gx, gy, 0, q);
                }
        }
}

// "" when the two grids hold the same bits everywhere, else the first differing point.
QString firstDifference(const Volume &expected, const Volume &actual)
{
    // Same bits, except that any NaN equals any NaN: which of two NaN operands propagates
    // follows the compiler's operand order, which the arithmetic does not fix.
    const auto same = [](auto u, auto v) { return (u != u && v != v) || std::memcmp(&u, &v, sizeof u) == 0; };
    const auto sameVector = [&](const Vector3 &u, const Vector3 &v) {
        return same(u.x, v.x) && same(u.y, v.y) && same(u.z, v.z);
    };
    const auto show = [](const DataPoint &p) {
        QString s;
        QDebug(&s).nospace() << qSetRealNumberPrecision(17) << "pos (" << p.mPos.x << ", " << p.mPos.y << ") dir ("
                             << p.mDir.x << ", " << p.mDir.y << ") values " << p.mValues;
        return s;
    };
    for (int y = 0; y < expected.getDimY(); ++y)
        for (int x = 0; x < expected.getDimX(); ++x) {
            const DataPoint e = expected.getAt(x, y, 0), a = actual.getAt(x, y, 0);
            if (!sameVector(e.mPos, a.mPos) || !sameVector(e.mDir, a.mDir) || e.mValues.size() != a.mValues.size()
                || !std::equal(e.mValues.begin(), e.mValues.end(), a.mValues.begin(), same))
                return QStringLiteral("grid point (%1, %2): expected %3, got %4").arg(x).arg(y).arg(show(e), show(a));
        }
    return QString();
}

enum Kind { Even, Warped, WarpedY, Folded, NanFlow, Degenerate, FlatExtent, TinyCells, SpecialValues };

} // namespace

class TestResample : public QObject
{
    Q_OBJECT

private slots:
    // An even dataset covers all but the last column and row of its grid (the values there:
    // the plain walk), with one progress step per source column but the last two.
    void coverageAndProgress()
    {
        std::unique_ptr<Volume> src(evenDataset(7, 5, 6.0, 4.0, 1, [](int, int, DataPoint &) {}));
        Volume grid(7, 5, 1);
        testsupport::ProgressRecorder progress;
        grid.calculateGridFrom(*src);
        QVERIFY(grid.getAt(6, 2, 0).mValues.isEmpty() && grid.getAt(3, 4, 0).mValues.isEmpty() && grid.getAt(5, 3, 0).mValues.size() == 2);
        QCOMPARE(progress.runs[0].label, QString("Calculating Grid ..."));
        QCOMPARE(progress.runs[0].maximum, 5);
        QCOMPARE(progress.runs[0].values, QList<int>({0, 1, 2, 3, 4}));
        QVERIFY(progress.runs[0].closed);
    }

    // Every other column sits at the far extent corner: half the cells cover the whole grid,
    // which would take cells x points steps, here within a single row of cells. A hang ends
    // at the test's timeout.
    void cellsSpanningTheWholeGridStopWithAMessage()
    {
        std::unique_ptr<Volume> src(evenDataset(200000, 3, 10.0, 10.0, 0, [](int x, int, DataPoint &p) {
            p.mPos = x % 2 ? Vector3(10, 10, 0) : Vector3();
        }));
        Volume grid(200000, 3, 1);
        testsupport::ConsoleCapture console;
        grid.calculateGridFrom(*src);
        QVERIFY(console.contains("Resampling stopped"));
    }

    // Cells of 0 to 3 grid points, overlapping and folded back, partly beyond the grid, with
    // zero spans, NaN flow, no channels, an extent of zero width, too few points, and cells
    // inside one grid cell (their corner copied whole, position and all channels; the last
    // copy or interpolation stays): the same bits as the plain walk. The grid is wider and
    // lower than the source's extent.
    void matchesThePlainWalk_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nx");
        QTest::addColumn<int>("ny");
        QTest::addColumn<bool>("sameSize"); // else wider and lower than the source
        QTest::newRow("even") << int(Even) << 23 << 17 << false;
        QTest::newRow("warped") << int(Warped) << 40 << 31 << false;
        QTest::newRow("folded") << int(Folded) << 35 << 35 << false;
        QTest::newRow("nan") << int(NanFlow) << 30 << 20 << false;
        QTest::newRow("zero spans and outside, no channels") << int(Degenerate) << 12 << 8 << false;
        QTest::newRow("zero-width extent") << int(FlatExtent) << 6 << 6 << false;
        QTest::newRow("copied corners") << int(TinyCells) << 30 << 25 << false;
        QTest::newRow("two columns") << int(Even) << 2 << 9 << false;
        // Unit cells, with signed zeros, infinities and NaN in flow and channel.
        QTest::newRow("same size, special values") << int(SpecialValues) << 40 << 30 << true;
        // Large enough for the grid to be split between threads, cells crossing the split.
        QTest::newRow("same size, warped, large") << int(Warped) << 400 << 300 << true;
        // Rows shifted by up to half a grid row: unit cells across the edges of the bands the
        // threads take, and below the grid's first row.
        QTest::newRow("same size, warped in y, large") << int(WarpedY) << 300 << 400 << true;
        QTest::newRow("folded, large") << int(Folded) << 300 << 300 << false;
    }
    void matchesThePlainWalk()
    {
        QFETCH(int, kind);
        QFETCH(int, nx);
        QFETCH(int, ny);
        QFETCH(bool, sameSize);
        const int channels = kind == Degenerate ? 0 : kind == TinyCells ? 3 : 2;
        std::unique_ptr<Volume> src(evenDataset(nx, ny, 5.0, 3.0, channels, [&](int x, int y, DataPoint &p) {
            p.mDir = Vector3(std::sin(x * 0.7) + y * 0.1, std::cos(y * 0.3) - x * 0.05, 0.5);
            p.mValues.fill(9.f); // the grid keeps the first channel only and adds a zero
            if (channels)
                p.mValues[0] = float(x * 0.37 - y * 0.11);
            if (kind == WarpedY) {
                p.mPos.y += 0.5 * 3.0 / (ny - 1) * std::sin(x * 0.9 + y * 0.2);
                // Neighbours far apart: a point's own value and the step to it from its
                // neighbour, "(b - a) * 1 + a", differ in their last bits.
                p.mDir.x = std::tan(x * 1.3 + y * 0.7);
                p.mValues[0] = float(std::tan(x * 0.9 - y * 1.1));
            }
            if (kind == Warped)
                p.mPos.x += 0.3 * std::sin(y * 0.9) * std::sin(x * 0.4);
            if (kind == Folded && x % 5 == 3)
                p.mPos = Vector3(5.0 * (x - 2) / (nx - 1), 3.0 * (y - 3) / (ny - 1), 0);
            if (kind == NanFlow && x > 10 && x < 14)
                p.mDir.x = std::nan("");
            if (kind == SpecialValues) {
                const double special[] = {0.0, -0.0, INFINITY, -INFINITY, std::nan(""), 1e308, -1e308};
                p.mDir.x = special[(x * 3 + y) % 7];
                p.mDir.y = special[(x + y * 5) % 7];
                p.mValues[0] = float(special[(x * 2 + y * 3) % 7]);
            }
            if (kind == Degenerate) // rows at y = 0 or 3 only; row 1 far to the left
                p.mPos = Vector3(p.mPos.x - (y == 1 ? 50 : 0), y % 4 == 3 ? 3.0 : 0.0, 0);
        }));
        if (kind == FlatExtent)
            src->mMaxPos.x = 0;
        if (kind == TinyCells)
            src->mMaxPos = Vector3(50, 40, 0);
        const int gx = sameSize ? nx : nx + 7, gy = sameSize ? ny : ny - 3;
        Volume fast(gx, gy, 1), plain(gx, gy, 1);
        fast.calculateGridFrom(*src);
        plainResample(*src, plain);
        const QString diff = firstDifference(plain, fast);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));

        // Giving the source's rows back as the bands leave them changes no bit of the grid (a
        // row freed while a band still reads it would read as zeros); the source keeps its
        // size and extent, its points read as zero points.
        const Vector3 maxPos = src->mMaxPos;
        Volume released(gx, gy, 1);
        released.calculateGridReleasing(*src);
        const QString releasedDiff = firstDifference(plain, released);
        QVERIFY2(releasedDiff.isEmpty(), qPrintable(releasedDiff));
        QCOMPARE(src->getDimX(), nx);
        QCOMPARE(src->mMaxPos.x, maxPos.x);
        const DataPoint last = src->getAt(nx - 1, ny - 1, 0);
        QVERIFY(last.mValues.isEmpty() && last.mDir.x == 0.0 && last.mPos.y == 0.0);
    }
};

QTEST_MAIN(TestResample)
#include "tst_resample.moc"
