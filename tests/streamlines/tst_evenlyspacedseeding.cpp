// Evenly spaced seeding: the console trace, the seeds and lines it places, the separation
// test at its exact boundary, its limits, and a coarse robustness sweep over the samples.
#include "EvenlySpacedSeeding.h"

#include "Flows.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

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

Volume *recordedField(int field)
{
    return field == 0 ? makeGrid(60, 60, [](int x, int y) { return Vector3(-(y - 27.5), x - 31.0, 0); })
                      : makeGrid(80, 50, [](int x, int y) { return Vector3(1 + 0.03 * y, 0.4 - 0.01 * x, 0); });
}

Volume *uniformX(int w, int h)
{
    return makeGrid(w, h, [](int, int) { return Vector3(1.0, 0.0, 0.0); });
}

// Every bit of a run's outcome, part by part, so a mismatch names the part that differs:
// each line's length, and counts and digests of the seeds, console, stored points and grid.log.
QStringList outcome(const QStringList &console, const QVector<Vector3> &seeds, const QVector<Streamline> &lines,
                    const QVector<Vector3> &points)
{
    auto digest = [](const QByteArray &bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().left(12));
    };
    auto bytesOf = [](const QVector<Vector3> &pts) {
        return QByteArray(reinterpret_cast<const char *>(pts.constData()), pts.size() * qsizetype(sizeof(Vector3)));
    };
    QStringList parts;
    parts << QStringLiteral("seeds: %1 %2").arg(seeds.size()).arg(digest(bytesOf(seeds)));
    QString lengths = QStringLiteral("line lengths:");
    for (const Streamline &l : lines)
        lengths += QStringLiteral(" %1").arg(l.size());
    parts << lengths;
    parts << QStringLiteral("console: %1 lines %2").arg(console.size()).arg(digest(console.join('\n').toUtf8()));
    parts << QStringLiteral("points: %1 %2").arg(points.size()).arg(digest(bytesOf(points)));
    parts << QStringLiteral("grid.log: %1").arg(digest(readGridLog()));
    return parts;
}

} // namespace

class TestEvenlySpacedSeeding : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

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

    // Recorded from a plain implementation of the rules (no cell skipping, no resumed
    // searches) that agreed with this seeding bit for bit on these fields.
    void runMatchesRecordedPlainResults_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<float>("dTest");
        QTest::addColumn<int>("method");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("vortex rk 6 0.5") << 0 << 6.0f << 0.5f << 1 << QStringList{
            "seeds: 8 2769a6a2e2d6", "line lengths: 2001 2001 2001 2001 2001 2001 1002 1002 1007 1013 1013 1019 1019 2001 1001 2001",
            "console: 58 lines 477aa024717f", "points: 11045 15335c687c28", "grid.log: a25fe6f296d8"};
        QTest::newRow("shear euler 4 0.2") << 1 << 4.0f << 0.2f << 0 << QStringList{
            "seeds: 14 c54c96d76aee",
            "line lengths: 52 52 52 52 52 52 53 53 52 52 49 49 52 52 29 53 53 52 52 51 51 52 52 52 52 52 52 4", "console: 100 lines e6839e4ff861", "points: 655 1ab290c3bc37", "grid.log: 5f463e817052"};
    }
    void runMatchesRecordedPlainResults()
    {
        QFETCH(int, field);
        QFETCH(float, dSep);
        QFETCH(float, dTest);
        QFETCH(int, method);
        setVolumes(nullptr, recordedField(field));
        ConsoleCapture console;
        View view;
        view.run(dSep, dTest, method);
        QTEST(outcome(console.lines(), view.seeds, view.lines, view.seeding.mPoints), "parts");
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
