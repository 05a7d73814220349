// Evenly spaced seeding: the console trace, the seeds and lines it places, the separation
// test at its exact boundary, and its agreement with a plain rendering of the rules.
#include "EvenlySpacedSeeding.h"

#include "Flows.h"
#include "ReferenceSeeding.h"
#include "TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

using testsupport::ConsoleCapture;
using Parameters = EvenlySpacedSeeding::Parameters;

namespace {

// What the streamline view holds: its two lists and the seeding that fills them.
struct View
{
    QVector<Vector3> seeds;
    QVector<Streamline> lines;
    EvenlySpacedSeeding seeding{seeds, lines};

    void run(const Volume *field, const Parameters &p)
    {
        seeding.reset(p);
        seeding.run(field);
    }
};

Parameters params(int viewWidth, int viewHeight, float dSep, float dTest = 0.5f, int method = 0, double dt = 1.55)
{
    Parameters p;
    p.dSep = dSep;
    p.dTest = dTest;
    p.dt = dt;
    p.method = method;
    p.viewWidth = viewWidth;
    p.viewHeight = viewHeight;
    return p;
}

Parameters params(const Volume *v, float dSep, float dTest = 0.5f, int method = 0)
{
    return params(v->getDimX(), v->getDimY(), dSep, dTest, method);
}

bool same(const Vector3 &a, const Vector3 &b)
{
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0;
}

bool same(const QVector<Vector3> &a, const QVector<Vector3> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i]))
            return false;
    return true;
}

QByteArray readGridLog()
{
    QFile f(QStringLiteral("grid.log"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Volume *uniformX(int w, int h)
{
    return testsupport::makeGrid(w, h, [](int, int) { return Vector3(1.0, 0.0, 0.0); });
}

// The separation test as the rules walk it, with its console messages.
bool walkedIsValid(const EvenlySpacedSeeding &s, float dSep, double x, double y, double z, float minDistance)
{
    if (!gridVolume || !gridVolume->isInside(x, y, z))
        return false;
    QVector<int> list;
    for (const Vector2 &c : s.mGrid->getNeighbourCells(std::floor(x / double(dSep)), std::floor(y / double(dSep))))
        list += s.mGrid->getCell(int(c.x), int(c.y));
    for (int index : list) {
        if (index >= s.mPoints.size()) {
            qDebug() << "INDEX OUT OF BOUND:" << index << " count:" << s.mPoints.size();
            continue;
        }
        if ((s.mPoints[index] - Vector3(x, y, z)).length() < minDistance)
            return false;
    }
    return true;
}

} // namespace

class TestEvenlySpacedSeeding : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

    // Loads a generated sample the way the control dock does.
    void loadSample(const QString &kind, flows::Size size = {})
    {
        ConsoleCapture quiet;
        const QString path = mDir.filePath(kind + QString::number(size.x) + ".gri");
        if (!QFile::exists(path))
            QVERIFY(flows::write(kind, path, size));
        testsupport::loadLikeTheDock(path);
        QVERIFY(gridVolume && gridVolume->pointCount() > 0);
    }

private slots:
    void init() { QFile::remove(QStringLiteral("grid.log")); }
    void cleanup() { testsupport::setVolumes(nullptr, nullptr); }

    void uniformFlowGivesHorizontalLinesDsepApart()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 30.0f));

        QCOMPARE(console.lines(), (QStringList{
                                      "Initail SP: 10 10",
                                      "Enqueued 1st streamline",
                                      "SP generated at: 0.7 40", // the first search prints no verdict
                                      "found valid SP at: 0.7 40",
                                      "2 : Seedpoints",
                                      "SP generated at: -1 -1",
                                      "queue count: 1",
                                      "2 : Seedpoints",
                                      "SP generated at: -1 -1",
                                      "queue count: 0",
                                      "2 : Seedpoints",
                                      "0.7 70  is valid as new seedpoint.",
                                      "SP generated at: 0.7 70",
                                      "found valid SP at: 0.7 70",
                                      "3 : Seedpoints",
                                      "SP generated at: -1 -1",
                                      "queue count: 0",
                                      "3 : Seedpoints",
                                      "SP generated at: -1 -1",
                                      "the queue is empty!",
                                      "3 : Seedpoints",
                                      "file written to: grid.log",
                                  }));

        QCOMPARE(view.seeds.size(), 3);
        QVERIFY(same(view.seeds[0], Vector3(10, 10, 0)));
        const double ys[] = {10, 40, 70};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(view.seeds[i].y, ys[i]);

        // One entry per search: the first line three times (it was also queued), then the
        // second twice and the third once.
        const QVector<Streamline> &lines = view.lines; // const: reading must not detach
        QCOMPARE(lines.size(), 6);
        const Streamline &first = lines[0];
        QVERIFY(first.constData() == lines[1].constData()); // shared, not copied
        // From the left border (10 - 6 steps) to the right one, on y = 10.
        QCOMPARE(first.size(), 65);
        QVERIFY(std::fabs(first.first().x - 0.7) < 1e-12);
        QVERIFY(first.last().x < 100.0 && first.last().x + 1.55 >= 100.0);
        for (const Streamline &l : lines)
            for (const Vector3 &p : l)
                QVERIFY(p.y == l.first().y && p.z == 0.0);
        // Each new seed is the +90 degree candidate of the first point of the line before.
        QVERIFY(std::fabs(view.seeds[1].x - first.first().x) < 1e-9);
        QVERIFY(lines[2].constData() == first.constData());
        QVERIFY(std::fabs(view.seeds[2].x - lines[3].first().x) < 1e-9);
        QCOMPARE(lines[3].first().y, 40.0);
        QVERIFY(lines[4].constData() == lines[3].constData());
        QCOMPARE(lines[5].first().y, 70.0);

        QCOMPARE(view.seeding.mPoints.size(), 65 * 3);
        // 100 * (1/30) + 1 = 4.33: four cells a side; rows 0, 1, 2 hold one line each.
        const QByteArray log = readGridLog();
        QCOMPARE(log.count('\n'), 4);
        QVERIFY(log.endsWith("\t0\t0\t0\t0\n"));
        int sum = 0;
        for (const QByteArray &f : log.split('\t'))
            sum += f.trimmed().toInt();
        QCOMPARE(sum, 65 * 3);
    }

    void smallFieldGivesOnlyTheFirstSeed_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("10x10") << 10 << 10;
        QTest::newRow("11x10") << 11 << 10;
        QTest::newRow("10x300") << 10 << 300;
        QTest::newRow("1x1") << 1 << 1;
    }

    void smallFieldGivesOnlyTheFirstSeed()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        testsupport::setVolumes(nullptr, uniformX(w, h));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 30.0f));
        QCOMPARE(console.lines(), (QStringList{"Initail SP: 10 10", "Enqueued 1st streamline", "SP generated at: -1 -1",
                                               "queue count: 0", "1 : Seedpoints", "SP generated at: -1 -1",
                                               "the queue is empty!", "1 : Seedpoints",
                                               "file written to: grid.log"}));
        QCOMPARE(view.seeds.size(), 1);
        QCOMPARE(view.lines.size(), 2);
        for (const Streamline &l : view.lines) {
            QCOMPARE(l.size(), 1);
            QVERIFY(same(l[0], Vector3(10, 10, 0)));
        }
        QCOMPARE(view.seeding.mPoints.size(), 0);
    }

    void separationBoundaryIsStrict()
    {
        testsupport::setVolumes(nullptr, uniformX(200, 200));
        View view;
        view.seeding.reset(params(200, 200, 30.0f));
        EvenlySpacedSeeding &s = view.seeding;
        // An empty grid: everything inside is valid, nothing outside is.
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(7, 7);
        QVERIFY(s.isValidPoint(50, 50, 0, 30.0f));
        QVERIFY(s.isValidPoint(0, 0, 0, 30.0f));
        QVERIFY(!s.isValidPoint(-0.001, 50, 0, 0.0f));
        QVERIFY(!s.isValidPoint(200, 50, 0, 0.0f));
        QVERIFY(!s.isValidPoint(50, 50, 1.0, 0.0f));

        s.mPoints.append(Vector3(50, 50, 0));
        s.mGrid->addPoint(1, 1, 0);
        QVERIFY(s.isValidPoint(80, 50, 0, 30.0f));                          // exactly 30 away
        QVERIFY(!s.isValidPoint(std::nextafter(80.0, 0.0), 50, 0, 30.0f));  // a hair closer
        QVERIFY(s.isValidPoint(50, 20, 0, 30.0f));
        QVERIFY(!s.isValidPoint(50, 20.000001, 0, 30.0f));
        QVERIFY(s.isValidPoint(68, 74, 0, 30.0f)); // (18, 24): 30 across a cell corner
        QVERIFY(!s.isValidPoint(68, 73.99999, 0, 30.0f));
        // The test distance as the trace computes it, the float product 0.5f * 30.0f.
        QVERIFY(s.isValidPoint(65, 50, 0, 0.5f * 30.0f));
        QVERIFY(!s.isValidPoint(64.9999, 50, 0, 0.5f * 30.0f));
    }

    void separationCountsTheZDifference()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        View view;
        view.seeding.reset(params(100, 100, 10.0f));
        EvenlySpacedSeeding &s = view.seeding;
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(11, 11);
        s.mPoints.append(Vector3(35, 35, 0.0));
        s.mGrid->addPoint(3, 3, 0);
        // Same x and y, 0.75 apart in z.
        QVERIFY(s.isValidPoint(35, 35, 0.75, 0.75f));
        QVERIFY(!s.isValidPoint(35, 35, 0.75, 0.76f));
        QVERIFY(!s.isValidPoint(35, 35, 0.0, 0.01f));
    }

    void seedCandidateAtExactlyDsepIsAccepted()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        EvenlySpacedSeeding &s = view.seeding;
        s.reset(params(100, 100, 30.0f));
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(4, 4);
        const Streamline line{Vector3(20, 50, 0), Vector3(21, 50, 0)};
        view.lines.append(line); // not the first search of a run

        // A stored point exactly dSep from the -90 degree candidate (20, 20) leaves it valid.
        s.mPoints.append(Vector3(20, 50, 0));
        s.mGrid->addPoint(0, 1, 0);
        Vector3 c = s.findSeedPoint(line);
        QVERIFY(std::fabs(c.x - 20.0) < 1e-9);
        QCOMPARE(c.y, 20.0);
        QCOMPARE(console.lines(), QStringList{"20 20  is valid as new seedpoint."});

        // A point a little closer to it rules it out; the +90 degree candidate (20, 80) is next.
        s.mPoints.append(Vector3(20, 49.9999, 0));
        s.mGrid->addPoint(0, 1, 1);
        c = s.findSeedPoint(line);
        QCOMPARE(c.y, 80.0);

        // With both sides blocked the search gives the marker.
        s.mPoints.append(Vector3(20, 50.0001, 0));
        s.mGrid->addPoint(0, 1, 2);
        QVERIFY(same(s.findSeedPoint(line), Vector3(-1, -1, -1)));
        // So does a line of one point.
        QVERIFY(same(s.findSeedPoint(Streamline{Vector3(20, 50, 0)}), Vector3(-1, -1, -1)));
    }

    void firstSearchKeepsZOnBothSides()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        EvenlySpacedSeeding &s = view.seeding;
        s.reset(params(100, 100, 30.0f));
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(4, 4);
        // Block the -90 degree side so the +90 degree candidate is the answer.
        s.mPoints.append(Vector3(20, 20, 0.5));
        s.mGrid->addPoint(0, 0, 0);
        const Streamline line{Vector3(20, 50, 0.5), Vector3(21, 50, 0.5)};

        const Vector3 first = s.findSeedPoint(line); // no lines yet: the first search
        QCOMPARE(first.y, 80.0);
        QCOMPARE(first.z, 0.5);
        QVERIFY(console.lines().isEmpty());

        view.lines.append(line);
        const Vector3 later = s.findSeedPoint(line);
        QCOMPARE(later.y, 80.0);
        QCOMPARE(later.z, 0.0);
        QCOMPARE(console.lines().size(), 1);
    }

    void fastTestAgreesWithTheCellWalk_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<float>("dTest");
        QTest::newRow("vortices 10") << "vortices" << 10.0f << 0.5f;
        QTest::newRow("vortices 3") << "vortices" << 3.0f << 0.1f;
        QTest::newRow("channel 7") << "channel" << 7.0f << 1.0f;
    }

    void fastTestAgreesWithTheCellWalk()
    {
        QFETCH(QString, kind);
        QFETCH(float, dSep);
        QFETCH(float, dTest);
        loadSample(kind);
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, dSep, dTest, 1));
        const EvenlySpacedSeeding &s = view.seeding;
        QVERIFY(s.mPoints.size() > 1000);

        QRandomGenerator rng(12345);
        const double w = gridVolume->getDimX(), h = gridVolume->getDimY();
        int rejected = 0;
        for (int i = 0; i < 20000; ++i) {
            double x, y;
            const int mode = i % 4;
            if (mode == 0) { // anywhere, also a little outside
                x = rng.generateDouble() * (w + 20) - 10;
                y = rng.generateDouble() * (h + 20) - 10;
            } else if (mode == 1) { // on cell borders
                x = std::floor(rng.generateDouble() * w / dSep) * double(dSep);
                y = rng.generateDouble() * h;
            } else { // at a stored point's distance boundary
                const Vector3 p = s.mPoints[rng.bounded(int(s.mPoints.size()))];
                const double a = rng.generateDouble() * 6.283185307179586;
                const double r = double(dSep) * (mode == 2 ? 1.0 : double(dTest));
                x = p.x + r * std::cos(a);
                y = p.y + r * std::sin(a);
            }
            const float m = (i % 3 == 0) ? dSep : (i % 3 == 1) ? dTest * dSep : float(rng.generateDouble()) * dSep;
            const bool expected = walkedIsValid(s, dSep, x, y, 0.0, m);
            rejected += expected ? 0 : 1;
            if (s.isValidPoint(x, y, 0.0, m) != expected)
                QFAIL(qPrintable(QStringLiteral("differs at %1 %2 for %3").arg(x, 0, 'g', 17).arg(y, 0, 'g', 17).arg(m)));
        }
        QVERIFY(rejected > 2000 && rejected < 18000); // both answers were exercised
        QVERIFY(!console.contains(QStringLiteral("INDEX OUT OF BOUND")));
    }

    void strayIndicesAreReportedAndSkipped()
    {
        loadSample(QStringLiteral("saddle"));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 10.0f));
        EvenlySpacedSeeding &s = view.seeding;
        // A regular run empties the points but keeps the grid: every stored index is stale.
        const Parameters p = params(gridVolume, 10.0f);
        s.reset(p);
        QCOMPARE(s.mPoints.size(), 0);
        for (const Vector3 &q : {Vector3(64, 64, 0), Vector3(3, 120, 0), Vector3(127.5, 0.5, 0)}) {
            console.clear();
            QVERIFY(walkedIsValid(s, 10.0f, q.x, q.y, q.z, 5.0f));
            const QStringList expected = console.lines();
            console.clear();
            QVERIFY(s.isValidPoint(q.x, q.y, q.z, 5.0f));
            QVERIFY(!expected.isEmpty());
            QCOMPARE(console.lines(), expected);
        }
        // A negative index names no point either.
        s.mPoints.append(Vector3(64, 64, 0));
        s.mGrid = std::make_unique<SeparationGrid>();
        s.mGrid->setSize(13, 13);
        s.mGrid->addPoint(6, 6, -4);
        s.mGrid->addPoint(6, 6, 0);
        console.clear();
        QVERIFY(!s.isValidPoint(64.5, 64, 0, 1.0f));
        QCOMPARE(console.lines(), QStringList{"INDEX OUT OF BOUND: -4  count: 1"});
    }

    void runMatchesThePlainRules_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<float>("dTest");
        QTest::addColumn<int>("method");
        QTest::newRow("vortices rk 20 0.5") << "vortices" << 20.0f << 0.5f << 1;
        QTest::newRow("vortices euler 6 0.2") << "vortices" << 6.0f << 0.2f << 0;
        QTest::newRow("channel euler 12 0.3") << "channel" << 12.0f << 0.3f << 0;
        QTest::newRow("channel rk 41 1.0") << "channel" << 41.0f << 1.0f << 1;
        QTest::newRow("saddle rk 5 0.8") << "saddle" << 5.0f << 0.8f << 1;
        QTest::newRow("saddle euler 2 0.01") << "saddle" << 2.0f << 0.01f << 0;
        QTest::newRow("uniform euler 3 0.5") << "uniform" << 3.0f << 0.5f << 0;
    }

    void runMatchesThePlainRules()
    {
        QFETCH(QString, kind);
        QFETCH(float, dSep);
        QFETCH(float, dTest);
        QFETCH(int, method);
        loadSample(kind);
        const Parameters p = params(gridVolume, dSep, dTest, method);

        ConsoleCapture console;
        ReferenceSeeding ref;
        ref.p = p;
        ref.field = gridVolume;
        ref.run();
        const QStringList refLines = console.lines();
        const QByteArray refLog = readGridLog();
        QFile::remove(QStringLiteral("grid.log"));

        console.clear();
        View view;
        view.run(gridVolume, p);
        const QStringList lines = console.lines();

        QCOMPARE(lines.size(), refLines.size());
        QCOMPARE(lines, refLines);
        QCOMPARE(readGridLog(), refLog);
        QVERIFY(same(view.seeds, ref.seeds));
        QCOMPARE(view.lines.size(), ref.evenLines.size());
        for (qsizetype i = 0; i < view.lines.size(); ++i)
            QVERIFY2(same(view.lines[i], ref.evenLines[i]), qPrintable(QString::number(i)));
        QVERIFY(same(view.seeding.mPoints, ref.points));
        QCOMPARE(view.seeding.mGrid->mCells, ref.grid.mCells);
        QVERIFY(view.seeds.size() > 3);
    }

    void linesKeepTheirDistance()
    {
        loadSample(QStringLiteral("vortices"));
        const float dSep = 12.0f, dTest = 0.4f;
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, dSep, dTest, 1));
        const EvenlySpacedSeeding &s = view.seeding;

        // The distinct traced lines in the order they were made: each found seed starts one.
        QVector<Streamline> traced;
        for (const Streamline &l : view.lines)
            if (traced.isEmpty() || l.constData() != traced.last().constData())
                if (std::none_of(traced.begin(), traced.end(), [&](const Streamline &t) { return t.constData() == l.constData(); }))
                    traced.append(l);
        QCOMPARE(traced.size(), view.seeds.size());
        qsizetype stored = 0;
        for (const Streamline &l : traced)
            stored += l.size();
        QCOMPARE(stored, s.mPoints.size());
        QCOMPARE(console.lines().count(QStringLiteral("file written to: grid.log")), 1);

        // Every traced point but the seed keeps dTest * dSep from all earlier lines, every
        // seed after the first keeps dSep; no line is longer than two halves of 1000 steps.
        const float minTest = dTest * dSep;
        int tooClose = 0;
        for (qsizetype li = 1; li < traced.size(); ++li) {
            const Streamline &line = traced[li];
            QVERIFY(line.size() <= 2001);
            for (const Vector3 &p : line) {
                const double limit = same(p, view.seeds[li]) ? double(dSep) : double(minTest);
                for (qsizetype lj = 0; lj < li; ++lj)
                    for (const Vector3 &q : traced[lj])
                        if (std::fabs(p.x - q.x) < limit && std::fabs(p.y - q.y) < limit)
                            tooClose += (p - q).length() < limit ? 1 : 0;
            }
        }
        QCOMPARE(tooClose, 0);
        // Every index in the grid points at a point of that cell.
        const SeparationGrid &g = *s.mGrid;
        int filed = 0;
        for (int cy = 0; cy < g.mHeight; ++cy)
            for (int cx = 0; cx < g.mWidth; ++cx)
                for (int index : g.getCell(cx, cy)) {
                    const Vector3 &p = s.mPoints[index];
                    QCOMPARE(int(std::floor(p.x / double(dSep))), cx);
                    QCOMPARE(int(std::floor(p.y / double(dSep))), cy);
                    ++filed;
                }
        QCOMPARE(filed, int(s.mPoints.size()));
    }

    void closedOrbitIsNotCutAtItsCrossing()
    {
        // A single vortex around (30, 30): the first line circles it with both halves at
        // full length, crossing itself many times.
        testsupport::setVolumes(nullptr, testsupport::makeGrid(100, 100, [](int x, int y) {
                                    return Vector3(-(y - 30.0), x - 30.0, 0.0);
                                }));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 10.0f, 0.5f, 1));
        QCOMPARE(view.lines.first().size(), 2001);
        QVERIFY(view.seeds.size() > 5);
    }

    void stagnantFieldYieldsNoSecondSeed()
    {
        // Zero flow: the first line repeats its seed 2001 times; every segment has zero
        // length, both candidates sit on the stored point and are rejected.
        testsupport::setVolumes(nullptr, testsupport::makeGrid(50, 50, [](int, int) { return Vector3(); }));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 5.0f));
        QCOMPARE(view.seeds.size(), 1);
        QCOMPARE(view.lines.size(), 2);
        QCOMPARE(view.lines[0].size(), 2001);
        QCOMPARE(view.seeding.mPoints.size(), 2001);
        QVERIFY(console.contains(QStringLiteral("the queue is empty!")));
    }

    void seedLimitStillAllowsA501stSeed()
    {
        // Row 10 flows along +x; above it the flow points down at it, below it up, so every
        // line started beside row 10 runs into it after a step and stays short. The long
        // first line then offers seed after seed from its own searches.
        testsupport::setVolumes(nullptr, testsupport::makeGrid(1700, 21, [](int, int y) {
                                    return y == 10 ? Vector3(1, 0, 0) : Vector3(0, y > 10 ? -1 : 1, 0);
                                }));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 2.0f));
        QCOMPARE(view.seeds.size(), 501);
        const QStringList lines = console.lines();
        const qsizetype at500 = lines.indexOf(QStringLiteral("500 : Seedpoints"));
        QVERIFY(at500 > 0);
        // The pass that starts with 500 seeds runs to its end, then the run stops.
        QCOMPARE(lines.mid(at500 + 1),
                 (QStringList{"772.6 12  is valid as new seedpoint.", "SP generated at: 772.6 12",
                              "found valid SP at: 772.6 12", "501 : Seedpoints", "file written to: grid.log"}));
    }

    void rerunReplacesGridLogAndState()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(gridVolume, 30.0f));
        QCOMPARE(readGridLog().count('\n'), 4);
        view.run(gridVolume, params(gridVolume, 50.0f));
        QCOMPARE(readGridLog().count('\n'), 3); // 100 * (1/50) + 1 = 3 rows
        QCOMPARE(view.seeding.mGrid->mWidth, 3);
        QCOMPARE(view.seeds.size(), 2); // y = 10 and 60
        QCOMPARE(view.seeding.mPoints.size(), 65 * 2);
        QCOMPARE(console.lines().count(QStringLiteral("file written to: grid.log")), 2);
    }

    void noDatasetEndsAtOnce()
    {
        ConsoleCapture console;
        View view;
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        view.run(gridVolume, params(gridVolume, 30.0f)); // leaves a grid and lists behind
        QFile::remove(QStringLiteral("grid.log"));
        testsupport::setVolumes(nullptr, nullptr);

        console.clear();
        view.run(nullptr, params(100, 100, 30.0f));
        QVERIFY(view.seeds.isEmpty());
        QVERIFY(view.lines.isEmpty());
        QVERIFY(view.seeding.mPoints.isEmpty());
        QVERIFY(view.seeding.mQueue.isEmpty());
        QVERIFY(!view.seeding.mGrid);
        QVERIFY(!QFile::exists(QStringLiteral("grid.log")));
        QCOMPARE(console.lines().size(), 1);
        QVERIFY(console.lines().first().contains(QStringLiteral("No dataset")));

        Volume empty;
        view.run(&empty, params(100, 100, 30.0f));
        QVERIFY(view.seeds.isEmpty() && view.lines.isEmpty());
        QVERIFY(!QFile::exists(QStringLiteral("grid.log")));

        // The view's own calls read the missing gridVolume safely too.
        QVERIFY(!view.seeding.isValidPoint(10, 10, 0, 1.0f));
        QCOMPARE(view.seeding.traceStreamline(Vector3(10, 10, 0)).size(), 1);
        QVERIFY(same(view.seeding.findSeedPoint(Streamline{Vector3(1, 1, 0), Vector3(2, 1, 0)}), Vector3(-1, -1, -1)));
    }

    void unusableSeparationEndsAtOnce()
    {
        testsupport::setVolumes(nullptr, uniformX(100, 100));
        ConsoleCapture console;
        View view;
        for (float dSep : {0.0f, -5.0f, std::nanf(""), 1e-30f}) {
            console.clear();
            view.run(gridVolume, params(gridVolume, dSep));
            QVERIFY(view.seeds.isEmpty());
            QVERIFY(!view.seeding.mGrid);
            QCOMPARE(console.lines().size(), 1);
        }
    }

    void largerDatasetThanTheView()
    {
        // The view was sized for 100 x 100; a 300 x 300 field was loaded since. The grid
        // covers 0..120 only: points beyond are reported and kept out of the cells.
        testsupport::setVolumes(nullptr, uniformX(300, 300));
        ConsoleCapture console;
        View view;
        view.run(gridVolume, params(100, 100, 30.0f));
        const EvenlySpacedSeeding &s = view.seeding;
        QCOMPARE(s.mGrid->mWidth, 4);
        QCOMPARE(s.mGrid->mCells.size(), 16);
        int outside = 0;
        for (const Vector3 &p : s.mPoints)
            if (p.x >= 120.0 || p.y >= 120.0)
                ++outside;
        QVERIFY(outside > 0);
        QCOMPARE(console.lines().filter(QStringLiteral("index out of range")).size(), outside);
        int filed = 0;
        for (int cy = 0; cy < 4; ++cy)
            for (int cx = 0; cx < 4; ++cx)
                for (int index : s.mGrid->getCell(cx, cy)) {
                    QCOMPARE(int(s.mPoints[index].x / 30.0), cx);
                    ++filed;
                }
        QCOMPARE(filed + outside, int(s.mPoints.size()));
        QCOMPARE(readGridLog().count('\n'), 4);
        QVERIFY(view.seeds.size() <= 501);
    }
};

QTEST_GUILESS_MAIN(TestEvenlySpacedSeeding)
#include "tst_evenlyspacedseeding.moc"
