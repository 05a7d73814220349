// Evenly spaced seeding: the console trace, the seeds and lines it places, the separation
// test at its exact boundary, its limits, and a coarse robustness sweep over the samples.
#include "EvenlySpacedSeeding.h"

#include "Flows.h"
#include "PointIndex.h"
#include "ReferenceSeeding.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

using namespace testsupport;

namespace {

// What the streamline view holds: its two lists and the seeding that fills them.
struct View
{
    QVector<Vector3> seeds;
    QVector<Streamline> lines;
    EvenlySpacedSeeding seeding{seeds, lines};

    void reset(int w, int h, float dSep, float dTest = 0.5f, int method = 0)
    {
        const EvenlySpacedSeeding::Parameters p{dSep, dTest, 1.55, method, w, h};
        seeding.reset(p);
        seeding.use(gridVolume, p); // what the view's own calls read
    }
    void run(const Volume *field, int w, int h, float dSep, float dTest = 0.5f, int method = 0)
    {
        reset(w, h, dSep, dTest, method);
        seeding.run(field);
    }
    void run(float dSep, float dTest = 0.5f, int method = 0)
    {
        run(gridVolume, gridVolume->getDimX(), gridVolume->getDimY(), dSep, dTest, method);
    }
};

Volume *uniformX(int w, int h)
{
    return makeGrid(w, h, [](int, int) { return Vector3(1.0, 0.0, 0.0); });
}

QString show(const Vector3 &p)
{
    return QStringLiteral("(%1, %2, %3)").arg(p.x, 0, 'g', 17).arg(p.y, 0, 'g', 17).arg(p.z, 0, 'g', 17);
}
QString show(const QString &s) { return QLatin1Char('"') + s + QLatin1Char('"'); }
QString show(const QVector<Vector3> &l) { return QStringLiteral("a line of %1 points").arg(l.size()); }

bool same(const Vector3 &a, const Vector3 &b)
{
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0; // bit for bit, NaN and -0 included
}
bool same(const QString &a, const QString &b) { return a == b; }
bool same(const QVector<Vector3> &a, const QVector<Vector3> &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto &p, auto &q) { return same(p, q); });
}

// "" when equal, else where the two lists part first and how.
template <typename List>
QString firstDifference(const char *what, const List &expected, const List &actual)
{
    for (qsizetype i = 0; i < std::min(expected.size(), actual.size()); ++i) {
        if (same(expected[i], actual[i]))
            continue;
        QString more;
        if constexpr (std::is_same_v<List, QVector<QVector<Vector3>>>)
            more = firstDifference("  point", expected[i], actual[i]);
        return QStringLiteral("%1 %2: expected %3, got %4%5")
            .arg(QLatin1String(what)).arg(i).arg(show(expected[i]), show(actual[i]), more);
    }
    if (expected.size() != actual.size())
        return QStringLiteral("%1: expected %2 entries, got %3").arg(QLatin1String(what)).arg(expected.size()).arg(actual.size());
    return QString();
}

} // namespace

class TestEvenlySpacedSeeding : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

    // A named test field as the grid volume (sample fields as the dock loads them).
    bool setField(const QString &name)
    {
        const double nan = std::nan("");
        const auto grid = [](int w, int h, const std::function<Vector3(int, int)> &flow) { setVolumes(nullptr, makeGrid(w, h, flow)); };
        const auto vortex = [](int x, int y) { return Vector3(-(y - 27.5), x - 31.0, 0); };
        if (name == "vortex")
            grid(60, 60, vortex);
        else if (name == "shear")
            grid(80, 50, [](int x, int y) { return Vector3(1 + 0.03 * y, 0.4 - 0.01 * x, 0); });
        else if (name == "limit") // see seedLimitStillAllowsA501stSeed
            grid(1700, 21, [](int, int y) { return y == 10 ? Vector3(1, 0, 0) : Vector3(0, y > 10 ? -1 : 1, 0); });
        else if (name == "nanband") // missing rows across the field
            grid(60, 60, [&](int x, int y) { return y >= 25 && y < 30 ? Vector3(nan, nan, 0) : vortex(x, y); });
        else if (name == "land") // land around the first seed and an island
            grid(60, 60, [&](int x, int y) {
                const bool land = (x < 18 && y < 14) || (x - 40) * (x - 40) + (y - 35) * (y - 35) < 40;
                return land ? Vector3(nan, nan, 0) : vortex(x, y);
            });
        else if (name == "stagnant") // complete data, zero flow at the first seed
            grid(50, 50, [](int x, int y) { return Vector3(-(y - 10), x - 10, 0); });
        else if (name == "infinite")
            grid(70, 40, [](int x, int y) { return x > 30 && x < 36 ? Vector3(HUGE_VAL, -HUGE_VAL, 0) : Vector3(1, 0.01 * y, 0); });
        else if (name == "hostile")
            grid(60, 60, [](int x, int y) {
                const double v[] = {std::nan(""), HUGE_VAL, 1e300, 1e-300, 0.0};
                const int k = (x * 7 + y * 3) % 7;
                return k < 5 ? Vector3(v[k], k == 4 ? 0.0 : 1.0, k == 3 ? 1.0 : 0.0)
                             : Vector3(std::cos(x * 0.3), std::sin(y * 0.2), 0.1);
            });
        else if (name == "zero")
            grid(40, 40, [](int, int) { return Vector3(); });
        else if (name == "allnan")
            grid(40, 40, [&](int, int) { return Vector3(nan, nan, nan); });
        else if (name == "small")
            setVolumes(nullptr, uniformX(10, 10));
        else {
            ConsoleCapture quiet;
            const QString path = mDir.filePath(name + QStringLiteral(".gri"));
            if (!flows::write(name, path))
                return false;
            loadLikeTheDock(path);
        }
        return gridVolume != nullptr;
    }

private slots:
    void init() { QFile::remove(QStringLiteral("grid.log")); }
    void cleanup() { setVolumes(nullptr, nullptr); }

    void uniformFlowGivesHorizontalLinesDsepApart()
    {
        setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        view.run(30.0f);
        QCOMPARE(console.lines(),
                 (QStringList{"Initail SP: 10 10", "Enqueued 1st streamline",
                              "SP generated at: 0.7 40", // the first search prints no verdict
                              "found valid SP at: 0.7 40", "2 : Seedpoints", "SP generated at: -1 -1", "queue count: 1",
                              "2 : Seedpoints", "SP generated at: -1 -1", "queue count: 0", "2 : Seedpoints",
                              "0.7 70  is valid as new seedpoint.", "SP generated at: 0.7 70",
                              "found valid SP at: 0.7 70", "3 : Seedpoints", "SP generated at: -1 -1",
                              "queue count: 0", "3 : Seedpoints", "SP generated at: -1 -1", "the queue is empty!",
                              "3 : Seedpoints", "file written to: grid.log"}));
        QCOMPARE(view.seeds.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(view.seeds[i].y == 10 + 30 * i && std::fabs(view.seeds[i].x - (i ? 0.7 : 10)) < 1e-9);
        // One entry per search; from the left border (10 - 6 steps) to the right one.
        QCOMPARE(view.lines.size(), 6);
        QCOMPARE(view.lines[0].size(), 65);
        QVERIFY(std::fabs(view.lines[0].first().x - 0.7) < 1e-12);
        QVERIFY(view.lines[0].last().x < 100.0 && view.lines[0].last().x + 1.55 >= 100.0);
        for (const Streamline &l : view.lines)
            for (const Vector3 &p : l)
                QVERIFY(p.y == l.first().y && p.z == 0.0);
        QCOMPARE(view.seeding.mPoints.size(), 65 * 3);
        // 100 * (1/30) + 1 = 4.33: four cells a side; rows 0, 1, 2 hold one line each.
        QCOMPARE(readGridLog(), QByteArray("\t19\t20\t19\t7\n\t19\t20\t19\t7\n\t19\t20\t19\t7\n\t0\t0\t0\t0\n"));

        // A rerun replaces grid.log and the state.
        view.run(50.0f);
        QCOMPARE(readGridLog().count('\n'), 3); // 100 * (1/50) + 1 = 3 rows
        QCOMPARE(view.seeds.size(), 2);         // y = 10 and 60
        QCOMPARE(view.seeding.mPoints.size(), 65 * 2);
    }

    void smallFieldGivesOnlyTheFirstSeed_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("10x10") << 10 << 10;
        QTest::newRow("10x300") << 10 << 300;
        QTest::newRow("1x1") << 1 << 1;
    }
    void smallFieldGivesOnlyTheFirstSeed()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        setVolumes(nullptr, uniformX(w, h));
        ConsoleCapture console;
        View view;
        view.run(30.0f);
        QCOMPARE(console.lines(), (QStringList{"Initail SP: 10 10", "Enqueued 1st streamline", "SP generated at: -1 -1",
                                               "queue count: 0", "1 : Seedpoints", "SP generated at: -1 -1",
                                               "the queue is empty!", "1 : Seedpoints", "file written to: grid.log"}));
        QCOMPARE(view.seeds.size(), 1);
        QCOMPARE(view.lines, (QVector<Streamline>{{Vector3(10, 10, 0)}, {Vector3(10, 10, 0)}}));
        QCOMPARE(view.seeding.mPoints.size(), 0);
    }

    void separationBoundaryIsStrict()
    {
        setVolumes(nullptr, uniformX(200, 200));
        View view;
        view.reset(200, 200, 30.0f);
        EvenlySpacedSeeding &s = view.seeding;
        s.mPoints = {Vector3(50, 50, 0)};
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(7, 7);
        s.mGrid->addPoint(1, 1, 0);
        QVERIFY(s.isValidPoint(80, 50, 0, 30.0f));                         // exactly 30 away
        QVERIFY(!s.isValidPoint(std::nextafter(80.0, 0.0), 50, 0, 30.0f)); // a hair closer
        QVERIFY(s.isValidPoint(68, 74, 0, 30.0f));                         // 30 across a cell corner
        QVERIFY(!s.isValidPoint(68, 73.99999, 0, 30.0f));
        QVERIFY(s.isValidPoint(50, 50, 0.75, 0.75f)); // same x and y, 0.75 apart in z
        QVERIFY(!s.isValidPoint(50, 50, 0.75, 0.76f));
        // A seed candidate exactly dSep from a stored point is accepted, a slightly closer one not.
        const Streamline line{Vector3(50, 110, 0), Vector3(51, 110, 0)};
        view.lines = {line}; // not the first search of a run
        ConsoleCapture console;
        QCOMPARE(s.findSeedPoint(line).y, 80.0); // the -90 degree candidate
        QCOMPARE(console.lines(), QStringList{"50 80  is valid as new seedpoint."});
        s.mPoints.append(Vector3(50, 50.0001, 0));
        s.mGrid->addPoint(1, 1, 1);
        QCOMPARE(s.findSeedPoint(line).y, 140.0); // so the +90 degree one
    }

    // The fast seeding against the plain one, on sample fields, fields with missing (NaN),
    // infinite and zero flow, the seed limit and a view smaller than the field: console
    // trace, seeds, lines, stored points and grid.log must agree exactly.
    void matchesPlainReference_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<float>("dTest");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("view"); // view width = height; 0 = the field's size
        const struct
        {
            const char *field;
            float dSep, dTest;
            int method, view;
        } rows[] = {
            {"vortex", 6, 0.5f, 1, 0},      {"vortex", 2, 0.1f, 0, 0},      {"vortex", 64, 1.0f, 1, 0},
            {"shear", 4, 0.2f, 0, 0},       {"shear", 5, 0.01f, 1, 0},      {"shear", 5, 0.5f, 2, 0},
            {"vortices", 3, 0.1f, 1, 0},    {"vortices", 1, 0.5f, 0, 0},    {"saddle", 10, 0.5f, 0, 0},
            {"saddle", 1, 0.1f, 1, 0},      {"channel", 13, 1.0f, 1, 0},    {"uniform", 30, 0.5f, 0, 0},
            {"limit", 2, 0.5f, 0, 0},       {"nanband", 5, 0.5f, 0, 0},     {"nanband", 3, 0.3f, 1, 0},
            {"land", 6, 0.5f, 0, 0},        {"land", 2, 0.1f, 1, 0},        {"stagnant", 8, 0.5f, 1, 0},
            {"infinite", 4, 0.5f, 1, 0},    {"hostile", 2, 0.5f, 0, 0},     {"hostile", 13, 1.0f, 1, 0},
            {"zero", 10, 0.5f, 0, 0},       {"allnan", 10, 0.5f, 1, 0},     {"small", 30, 0.5f, 0, 0},
            {"vortex", 7, 0.5f, 0, 40},
        };
        for (const auto &r : rows)
            QTest::addRow("%s %g %g m%d v%d", r.field, r.dSep, r.dTest, r.method, r.view)
                << QString::fromLatin1(r.field) << r.dSep << r.dTest << r.method << r.view;
    }
    void matchesPlainReference()
    {
        QFETCH(QString, field);
        QFETCH(float, dSep);
        QFETCH(float, dTest);
        QFETCH(int, method);
        QFETCH(int, view);
        QVERIFY(setField(field));
        const int w = view ? view : gridVolume->getDimX();
        const int h = view ? view : gridVolume->getDimY();

        ConsoleCapture console;
        ReferenceSeeding plain;
        plain.dSep = dSep;
        plain.dTest = dTest;
        plain.method = method;
        plain.viewWidth = w;
        plain.viewHeight = h;
        plain.run();
        const QStringList expected = console.lines();
        console.clear();
        View fast;
        fast.run(gridVolume, w, h, dSep, dTest, method);

        QString diff = firstDifference("console", expected, console.lines());
        if (diff.isEmpty())
            diff = firstDifference("seeds", plain.seeds, fast.seeds);
        if (diff.isEmpty())
            diff = firstDifference("points", plain.points, fast.seeding.mPoints);
        if (diff.isEmpty())
            diff = firstDifference("lines", plain.evenLines, fast.lines);
        if (diff.isEmpty() && readGridLog() != plain.gridLog)
            diff = QStringLiteral("grid.log differs");
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void pointIndexClaimsOnlyWhatItLookedAt()
    {
        PointIndex index;
        index.start(32.0, 10, 10, 2.0, 0.5); // 16 x 16 squares of 2 units per cell
        const QVector<Vector3> points{Vector3(40, 40, 0)};
        index.file(points[0], 1, 1, 0, points.constData());
        QCOMPARE(index.closerPoint(41.5, 40, 0, 2.0f, points.constData()), 0);
        QCOMPARE(index.closerPoint(42, 40, 0, 2.0f, points.constData()), PointIndex::kNone); // exactly 2 away
        const double bound = index.clearance(50, 40, 0, 2.0f, 20.0, points.constData());
        QVERIFY2(bound > 9.999 && bound <= 10.0, qPrintable(QString::number(bound)));
        // Too many squares to look at: no bound at all (the caller then tests exactly).
        QCOMPARE(index.clearance(50, 40, 0, 2.0f, 200.0, points.constData()), -1.0);
    }

    void missingFlowIsNeitherSeededNorTraced()
    {
        // Land (NaN) around (10, 10): the run starts from the nearest grid point with flow.
        QVERIFY(setField(QStringLiteral("land")));
        ConsoleCapture console;
        View view;
        view.run(4.0f);
        QCOMPARE(console.lines().first(), QStringLiteral("Initail SP: 10 14"));
        QVERIFY(view.seeds.size() > 20);
        for (const Vector3 &p : std::as_const(view.seeding.mPoints))
            QVERIFY2(std::isfinite(p.x) && std::isfinite(p.y) && gridVolume->isInside(p.x, p.y, p.z), qPrintable(show(p)));
        for (const Vector3 &s : std::as_const(view.seeds)) {
            const Vector3 d = gridVolume->getValue(s.x, s.y, s.z).mDir;
            QVERIFY2(std::isfinite(d.x) && std::isfinite(d.y), qPrintable(show(s)));
        }
        QVERIFY(!console.contains(QStringLiteral("index out of range")));
    }

    void seedLimitStillAllowsA501stSeed()
    {
        // Row 10 flows along +x; beside it the flow points at it, so every later line stays
        // short and the long first line offers seed after seed.
        setVolumes(nullptr, makeGrid(1700, 21, [](int, int y) {
                       return y == 10 ? Vector3(1, 0, 0) : Vector3(0, y > 10 ? -1 : 1, 0);
                   }));
        ConsoleCapture console;
        View view;
        view.run(2.0f);
        QCOMPARE(view.seeds.size(), 501);
        const QStringList lines = console.lines();
        const qsizetype at500 = lines.indexOf(QStringLiteral("500 : Seedpoints"));
        // The pass that starts with 500 seeds runs to its end, then the run stops.
        QCOMPARE(lines.mid(at500 + 1),
                 (QStringList{"772.6 12  is valid as new seedpoint.", "SP generated at: 772.6 12",
                              "found valid SP at: 772.6 12", "501 : Seedpoints", "file written to: grid.log"}));
    }

    void noDatasetOrUnusableSeparationEndsAtOnce()
    {
        setVolumes(nullptr, uniformX(100, 100));
        View view;
        view.run(30.0f); // leaves a grid and lists behind
        QFile::remove(QStringLiteral("grid.log"));
        setVolumes(nullptr, nullptr);
        ConsoleCapture console;
        view.run(nullptr, 100, 100, 30.0f);
        QVERIFY(view.seeds.isEmpty() && view.lines.isEmpty() && view.seeding.mPoints.isEmpty() && !view.seeding.mGrid);
        QVERIFY(!QFile::exists(QStringLiteral("grid.log")));
        QCOMPARE(console.lines().size(), 1);
        QVERIFY(console.lines().first().contains(QStringLiteral("No dataset")));
        setVolumes(nullptr, uniformX(100, 100));
        view.run(0.0f);
        QVERIFY(view.seeds.isEmpty() && !view.seeding.mGrid);
    }

    void largerDatasetThanTheView()
    {
        // Sized for 100 x 100 with a 300 x 300 field loaded since: the grid covers 0..120
        // only; points beyond are reported and kept out of the cells.
        setVolumes(nullptr, uniformX(300, 300));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, 100, 100, 30.0f);
        const EvenlySpacedSeeding &s = view.seeding;
        QCOMPARE(s.mGrid->mCells.size(), 16);
        int outside = 0;
        for (const Vector3 &p : s.mPoints)
            outside += p.x >= 120.0 || p.y >= 120.0;
        QVERIFY(outside > 0);
        QCOMPARE(console.lines().filter(QStringLiteral("index out of range")).size(), outside);
    }

    // Every sample and a hostile field, a few separating and test distances, both methods:
    // every run ends within its limits with a consistent grid and nothing out of bounds.
    void sweepEveryRunEnds_data()
    {
        QTest::addColumn<QString>("kind");
        const QStringList kinds = flows::kinds() << QStringLiteral("hostile");
        for (const QString &kind : kinds)
            QTest::newRow(qPrintable(kind)) << kind;
    }
    void sweepEveryRunEnds()
    {
        QFETCH(QString, kind);
        if (kind == QLatin1String("hostile")) {
            setVolumes(nullptr, makeGrid(60, 60, [](int x, int y) {
                           const double v[] = {std::nan(""), HUGE_VAL, 1e300, 1e-300, 0.0};
                           const int k = (x * 7 + y * 3) % 7;
                           return k < 5 ? Vector3(v[k], k == 4 ? 0.0 : 1.0, k == 3 ? 1.0 : 0.0)
                                        : Vector3(std::cos(x * 0.3), std::sin(y * 0.2), 0.1);
                       }));
        } else {
            ConsoleCapture quiet;
            const QString path = mDir.filePath(kind + QStringLiteral(".gri"));
            QVERIFY(flows::write(kind, path));
            loadLikeTheDock(path);
        }
        ConsoleCapture console;
        View view;
        for (float dSep : {2.0f, 13.0f, 64.0f})
            for (float dTest : {0.01f, 0.5f, 1.0f})
                for (int method : {0, 1}) {
                    console.clear();
                    view.run(dSep, dTest, method);
                    const EvenlySpacedSeeding &s = view.seeding;
                    bool ok = !view.seeds.isEmpty() && view.seeds.size() <= 501 &&
                              console.lines().last() == QLatin1String("file written to: grid.log") &&
                              !console.contains(QStringLiteral("INDEX OUT OF BOUND"));
                    qsizetype filed = 0;
                    for (const QVector<int> &cell : s.mGrid->mCells) {
                        filed += cell.size();
                        for (int index : cell)
                            ok = ok && index >= 0 && index < s.mPoints.size();
                    }
                    for (const Streamline &l : view.lines)
                        ok = ok && !l.isEmpty() && l.size() <= 2001;
                    // The grid covers the whole field here: every point is filed exactly once.
                    QVERIFY2(ok && filed == s.mPoints.size(),
                             qPrintable(QStringLiteral("Dsep %1 Dtest %2 method %3").arg(dSep).arg(dTest).arg(method)));
                }
    }
};

QTEST_GUILESS_MAIN(TestEvenlySpacedSeeding)
#include "tst_evenlyspacedseeding.moc"
