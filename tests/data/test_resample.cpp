// Resampling onto the regular grid: coverage, exact corners, the copy case, corner cases.

#include "TestSupport.h"
#include "Volume.h"

#include <QtTest>

#include <cmath>

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
