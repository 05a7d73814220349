// Robustness of the evenly spaced seeding: separating and test distances across their
// ranges, both methods, on every sample (closed orbits in the vortices, a stagnation point
// in the saddle) and on hostile fields and parameters. Every run must end within its
// limits, keep its grid consistent and touch nothing out of bounds (this also runs under
// the sanitizers). The finer sweep is the benchmark's BM_Sweep.
#include "EvenlySpacedSeeding.h"

#include "Flows.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using testsupport::ConsoleCapture;

namespace {

struct View
{
    QVector<Vector3> seeds;
    QVector<Streamline> lines;
    EvenlySpacedSeeding seeding{seeds, lines};
};

// Checks what every finished run must satisfy; returns an empty string or the fault.
QString checkRun(const View &view, const Volume &field, const QStringList &console)
{
    const EvenlySpacedSeeding &s = view.seeding;
    if (view.seeds.isEmpty() || view.seeds.size() > 501)
        return QStringLiteral("seed count %1").arg(view.seeds.size());
    if (view.lines.isEmpty())
        return QStringLiteral("no lines");
    for (const Streamline &l : view.lines)
        if (l.isEmpty() || l.size() > 2001)
            return QStringLiteral("line of %1 points").arg(l.size());
    if (s.mPoints.size() > 501 * 2001)
        return QStringLiteral("too many points");
    if (!s.mGrid)
        return QStringLiteral("no grid");
    qsizetype filed = 0;
    for (const QVector<int> &cell : s.mGrid->mCells) {
        for (int index : cell)
            if (index < 0 || index >= s.mPoints.size())
                return QStringLiteral("stray index %1").arg(index);
        filed += cell.size();
    }
    // The grid covers the whole field here, so every point is filed exactly once.
    if (filed != s.mPoints.size())
        return QStringLiteral("%1 points, %2 filed").arg(s.mPoints.size()).arg(filed);
    for (const Vector3 &p : s.mPoints)
        if (!field.isInside(p.x, p.y, p.z))
            return QStringLiteral("point outside the field");
    if (console.isEmpty() || console.last() != QLatin1String("file written to: grid.log"))
        return QStringLiteral("run did not end with the grid dump");
    for (const QString &line : console)
        if (line.startsWith(QLatin1String("INDEX OUT OF BOUND")) || line.startsWith(QLatin1String("index out of range")))
            return line;
    return {};
}

} // namespace

class TestSeedingSweep : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

    void runAll(const Volume &field, const QList<float> &dSeps, const QList<float> &dTests, const QList<int> &methods,
                double dt = 1.55)
    {
        View view;
        ConsoleCapture console;
        for (float dSep : dSeps) {
            for (float dTest : dTests) {
                for (int method : methods) {
                    console.clear();
                    EvenlySpacedSeeding::Parameters p;
                    p.dSep = dSep;
                    p.dTest = dTest;
                    p.dt = dt;
                    p.method = method;
                    p.viewWidth = field.getDimX();
                    p.viewHeight = field.getDimY();
                    view.seeding.reset(p);
                    view.seeding.run(&field);
                    const QString fault = checkRun(view, field, console.lines());
                    if (!fault.isEmpty())
                        QFAIL(qPrintable(QStringLiteral("Dsep %1 Dtest %2 method %3 dt %4: %5")
                                             .arg(dSep)
                                             .arg(dTest)
                                             .arg(method)
                                             .arg(dt)
                                             .arg(fault)));
                }
            }
        }
    }

private slots:
    void everySampleAcrossTheRanges_data()
    {
        QTest::addColumn<QString>("kind");
        for (const QString &kind : flows::kinds())
            QTest::newRow(qPrintable(kind)) << kind;
    }

    void everySampleAcrossTheRanges()
    {
        QFETCH(QString, kind);
        const QString path = mDir.filePath(kind + ".gri");
        QVERIFY(flows::write(kind, path));
        Volume loaded;
        Volume grid;
        {
            ConsoleCapture quiet;
            loaded.load(path);
            grid.setSize(loaded.getDimX(), loaded.getDimY(), 1);
            grid.calculateGridFrom(loaded);
        }
        QVERIFY(grid.pointCount() > 0);
        runAll(grid, {1.0f, 2.0f, 5.0f, 13.0f, 30.0f, 64.0f, 100.0f}, {0.01f, 0.1f, 0.5f, 1.0f}, {0, 1});
    }

    void hostileFields()
    {
        // Vectors that are NaN, infinite, huge or tiny, and z components, side by side.
        std::unique_ptr<Volume> field(testsupport::makeGrid(60, 60, [](int x, int y) {
            const double inf = std::numeric_limits<double>::infinity();
            switch ((x * 7 + y * 3) % 9) {
            case 0: return Vector3(std::nan(""), 1.0, 0.0);
            case 1: return Vector3(inf, 0.0, 0.0);
            case 2: return Vector3(1e300, -1e300, 0.0);
            case 3: return Vector3(1e-300, 0.0, 0.0);
            case 4: return Vector3(0.0, 0.0, 1.0);
            case 5: return Vector3(0.0, 0.0, 0.0);
            default: return Vector3(std::cos(x * 0.3), std::sin(y * 0.2), 0.1);
            }
        }));
        runAll(*field, {1.0f, 3.0f, 10.0f, 30.0f}, {0.01f, 0.5f, 1.0f}, {0, 1});
    }

    void oddStepsAndMethods()
    {
        std::unique_ptr<Volume> field(testsupport::makeGrid(80, 50, [](int x, int y) {
            return Vector3(-(y - 25.0), x - 40.0, 0.0);
        }));
        for (double dt : {0.0, -1.55, 1e-9, 7.5, 1e9, std::nan("")})
            runAll(*field, {2.0f, 10.0f}, {0.5f}, {0, 1}, dt);
        // Unknown method codes make every step jump to the origin.
        runAll(*field, {5.0f}, {0.5f}, {2, -1});
    }

    void manyRunsKeepMemoryBounded()
    {
        // Alternating dense and sparse runs reuse the grid's storage: nothing piles up.
        std::unique_ptr<Volume> field(testsupport::makeGrid(200, 200, [](int x, int y) {
            return Vector3(-(y - 100.0), x - 100.0, 0.0);
        }));
        View view;
        ConsoleCapture console;
        EvenlySpacedSeeding::Parameters p;
        p.viewWidth = 200;
        p.viewHeight = 200;
        for (int i = 0; i < 6; ++i) {
            p.dSep = (i % 2) ? 40.0f : 1.0f;
            view.seeding.reset(p);
            view.seeding.run(field.get());
            const SeparationGrid &g = *view.seeding.mGrid;
            QCOMPARE(g.mCells.size(), qsizetype(g.mWidth) * g.mHeight);
            QVERIFY(g.mCells.capacity() <= 2 * g.mCells.size() + 4096);
        }
    }
};

QTEST_GUILESS_MAIN(TestSeedingSweep)
#include "tst_seedingsweep.moc"
