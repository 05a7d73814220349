// Evenly spaced seeding: the console trace, seeds and grid.log it writes, the separation test
// at its exact boundary, its limits, and the fast seeding against the plain reference.
#include "streamlines/EvenlySpacedSeeding.h"

#include "tools/Flows.h"
#include "streamlines/LineData.h"
#include "tests/streamlines/ReferenceSeeding.h"
#include "data/SpinWorker.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <stdexcept>
#include <tuple>

using namespace testsupport;

namespace {

// What the streamline view holds: its two lists and the seeding that fills them.
struct View
{
    EvenlySpacedSeeding seeding;
    const QVector<Vector3> &seeds = seeding.seeds();
    const QVector<Streamline> &lines = seeding.lines();

    // One run on `field` for a square view of `size` pixels (0: the field's own size).
    void run(float dSep, float dTest = 0.5f, int method = 0, int size = 0, const Volume *field = gridVolume)
    {
        run({dSep, dTest, 1.55, method, size ? size : field->getDimX(), size ? size : field->getDimY()}, field);
    }
    void run(const EvenlySpacedSeeding::Parameters &p, const Volume *field = gridVolume)
    {
        seeding.reset(p);
        seeding.run(field);
    }
    // Every line the run traced, once, in the order traced: the lines it searched, then
    // those still queued when it ended.
    QVector<Streamline> traced() const
    {
        QVector<Streamline> all;
        for (const Streamline &line : lines)
            if (all.isEmpty() || all.last().constData() != line.constData())
                all.append(line);
        for (const Streamline &line : seeding.queue())
            if (all.last().constData() != line.constData())
                all.append(line);
        return all;
    }
};

bool repeatsAPoint(const Streamline &line)
{
    for (qsizetype i = 1; i < line.size(); ++i)
        if (line[i] == line[i - 1])
            return true;
    return false;
}

// The closest two points of different lines, by a sweep over the points sorted by x (every
// pair closer than `reach` in x is measured); infinity when none is closer than `reach`.
double closestOfDifferentLines(const QVector<Streamline> &lines, double reach)
{
    struct Tagged { Vector3 p; int line; };
    std::vector<Tagged> all;
    for (int i = 0; i < lines.size(); ++i)
        for (qsizetype k = 0; k < lines[i].size(); ++k)
            if (k == 0 || lines[i][k] != lines[i][k - 1]) // a repeat is as far as its original
                all.push_back({lines[i][k], i});
    std::sort(all.begin(), all.end(), [](const Tagged &a, const Tagged &b) { return a.p.x < b.p.x; });
    double closest = HUGE_VAL;
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = i + 1; j < all.size() && all[j].p.x - all[i].p.x < reach; ++j)
            if (all[i].line != all[j].line)
                closest = std::min(closest, (all[j].p - all[i].p).length());
    return closest;
}

QString show(const Vector3 &p) { return QString::asprintf("(%.17g, %.17g, %.17g)", p.x, p.y, p.z); }

// How two entries or lists differ, bit for bit (NaN and -0 included); empty when they agree.
QString diff(const Vector3 &e, const Vector3 &a)
{
    return std::memcmp(&e, &a, sizeof e) ? QStringLiteral("expected %1, got %2").arg(show(e), show(a)) : QString();
}
QString diff(const QString &e, const QString &a)
{
    return e == a ? QString() : QStringLiteral("expected \"%1\", got \"%2\"").arg(e, a);
}
template <typename T>
QString diff(const QList<T> &e, const QList<T> &a)
{
    for (qsizetype i = 0; i < std::min(e.size(), a.size()); ++i)
        if (const QString d = diff(e[i], a[i]); !d.isEmpty())
            return QStringLiteral("%1: %2").arg(i).arg(d);
    return e.size() == a.size() ? QString() : QStringLiteral("expected %1 entries, got %2").arg(e.size()).arg(a.size());
}

// Fields of setField(); view: a square view of that size, 0 for the field's own size.
const std::tuple<const char *, float, float, int, int> kCases[] = {
    {"vortex", 6, 0.5f, 1, 0},     {"vortex", 2, 0.1f, 0, 0},     {"vortex", 64, 1.0f, 1, 0},  {"vortex", 7, 0.5f, 0, 40},
    {"vortices", 3, 0.1f, 1, 0},   {"vortices", 1, 0.5f, 0, 0},   {"vortices", 13, 0.01f, 0, 0}, {"saddle", 10, 0.5f, 0, 0},
    {"saddle", 1, 0.1f, 1, 0},     {"saddle", 64, 0.5f, 1, 0},    {"channel", 13, 1.0f, 1, 0}, {"channel", 4, 0.2f, 0, 0},
    {"channel", 5, 0.5f, 2, 0},    {"uniform", 30, 0.5f, 0, 0},   {"uniform", 2, 0.01f, 1, 0}, {"limit", 2, 0.5f, 0, 0},
    {"land", 6, 0.5f, 0, 0},       {"land", 2, 0.1f, 1, 0},       {"stagnant", 8, 0.5f, 1, 0}, {"infinite", 4, 0.5f, 1, 0},
    {"hostile", 2, 0.5f, 0, 0},    {"hostile", 13, 1.0f, 1, 0},   {"zero", 10, 0.5f, 0, 0},    {"allnan", 10, 0.5f, 1, 0},
    {"small", 30, 0.5f, 0, 0},
};

} // namespace

class TestEvenlySpacedSeeding : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;

    // A named test field, or a sample flow loaded as the dock does, as the grid volume.
    bool setField(const QString &name)
    {
        const double nan = std::nan("");
        const auto grid = [](int w, int h, const std::function<Vector3(int, int)> &flow) { setVolumes(nullptr, makeGrid(w, h, flow)); };
        const auto vortex = [](int x, int y) { return Vector3(-(y - 27.5), x - 31.0, 0); };
        if (name == "vortex")
            grid(60, 60, vortex);
        else if (name == "limit") // see seedLimitStillAllowsA501stSeed
            grid(1700, 21, [](int, int y) { return y == 10 ? Vector3(1, 0, 0) : Vector3(0, y > 10 ? -1 : 1, 0); });
        else if (name == "land") // land (NaN) around the first seed and an island
            grid(60, 60, [&](int x, int y) {
                const bool land = (x < 18 && y < 14) || (x - 40) * (x - 40) + (y - 35) * (y - 35) < 40;
                return land ? Vector3(nan, nan, 0) : vortex(x, y);
            });
        else if (name == "wide") // too wide for lines of 1000 steps a half
            setVolumes(nullptr, uniformFlow(3200, 40, 1, 0.001));
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
        else if (name == "small") // the first seed (10, 10) lies outside: that seed alone
            setVolumes(nullptr, uniformFlow(10, 10, 1, 0));
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
        setVolumes(nullptr, uniformFlow(100, 100, 1, 0));
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
        // 100 * (1/30) + 1 = 4.33: four cells a side; rows 0, 1, 2 hold one line each.
        QCOMPARE(readGridLog(), QByteArray("\t19\t20\t19\t7\n\t19\t20\t19\t7\n\t19\t20\t19\t7\n\t0\t0\t0\t0\n"));

        view.run(50.0f); // a rerun replaces grid.log and the state
        QCOMPARE(readGridLog().count('\n'), 3); // 100 * (1/50) + 1 = 3 rows
        QVERIFY(view.seeds.size() == 2 && view.seeding.points().size() == 65 * 2); // y = 10 and 60
    }

    // The separation test and the seed test with its witness shortcut, at their exact
    // boundary: a stored point exactly minDistance away leaves a position valid.
    void separationBoundaryIsStrict()
    {
        setVolumes(nullptr, uniformFlow(200, 200, 1, 0));
        SeparationTest t;
        t.start(30.0, 7, 7, 15.0, 1.55);
        t.store({Vector3(50, 50, 0)});
        const auto valid = [&](double x, double y, double z, float m) { return t.isValidPoint(gridVolume, x, y, z, m); };
        QVERIFY(valid(80, 50, 0, 30.0f));                         // exactly 30 away
        QVERIFY(!valid(std::nextafter(80.0, 0.0), 50, 0, 30.0f)); // a hair closer
        QVERIFY(valid(68, 74, 0, 30.0f));                         // 30 across a cell corner
        QVERIFY(!valid(68, 73.99999, 0, 30.0f));
        QVERIFY(valid(50, 50, 0.75, 0.75f)); // same x and y, 0.75 apart in z
        QVERIFY(!valid(50, 50, 0.75, 0.76f));
        QVERIFY(!valid(-1, 50, 0, 1.0f) && !t.isValidPoint(nullptr, 150, 150, 0, 1.0f)); // outside, no field
        // Seed candidates: the first rejection makes the stored point the witness, which then
        // rejects only what the full test rejects.
        const auto seedClear = [&](double x, double y) { return t.seedIsClear(*gridVolume, Vector3(x, y, 0), 0, 30.0f); };
        QVERIFY(!seedClear(50, 79));
        QVERIFY(seedClear(68, 74));
        QVERIFY(!seedClear(68, 73.99999));
        QVERIFY(seedClear(50, 80));
        QVERIFY(!seedClear(50, std::nextafter(80.0, 0.0)));
        QCOMPARE(t.points().size(), 1);
        QCOMPARE(t.grid()->getCell(1, 1), QVector<int>{0});
    }

    // The fast seeding against the plain one on every sample flow, fields with missing (NaN),
    // infinite and zero flow, an invalid method code, the seed limit and a view smaller than
    // the field: console trace, seeds, stored points, lines and grid.log must agree exactly.
    void matchesPlainReference_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kCases)); ++i)
            QTest::addRow("%s %g %g m%d v%d", std::get<0>(kCases[i]), std::get<1>(kCases[i]), std::get<2>(kCases[i]),
                          std::get<3>(kCases[i]), std::get<4>(kCases[i])) << i;
    }
    void matchesPlainReference()
    {
        QFETCH(int, row);
        const auto [field, dSep, dTest, method, view] = kCases[row];
        QVERIFY(setField(QLatin1String(field)));
        ReferenceSeeding plain(dSep, dTest, method, view ? view : gridVolume->getDimX(), view ? view : gridVolume->getDimY());
        ConsoleCapture console;
        plain.run();
        const QStringList expected = console.lines();
        console.clear();
        View fast;
        fast.run(dSep, dTest, method, view);

        for (const auto &[what, d] : {std::pair{"console line", diff(expected, console.lines())},
                                      std::pair{"seed", diff(plain.seeds, fast.seeds)},
                                      std::pair{"stored point", diff(plain.points, fast.seeding.points())},
                                      std::pair{"line", diff(plain.evenLines, fast.lines)}})
            QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral("%1 %2").arg(what, d)));
        QCOMPARE(readGridLog(), plain.gridLog);
    }

    // Lines as the files hold them: a stalled trace's repeats go, and so does a line they
    // leave with one point. Sample flows whose far edges (and, for Runge-Kutta, near edges)
    // sample as zero flow, and hand-made lines.
    void exportedLinesHoldNoRepeats_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<int>("method");
        for (int method : {0, 1}) {
            QTest::addRow("vortices 10 m%d", method) << "vortices" << 10.0f << method;
            QTest::addRow("saddle 6 m%d", method) << "saddle" << 6.0f << method;
        }
    }
    void exportedLinesHoldNoRepeats()
    {
        QFETCH(QString, field);
        QFETCH(float, dSep);
        QFETCH(int, method);
        QVERIFY(setField(field));
        ConsoleCapture quiet;
        View view;
        view.run(dSep, 0.5f, method);
        const QVector<Streamline> raw = view.traced();
        qint64 rawPoints = 0;
        for (const Streamline &line : raw)
            rawPoints += line.size();
        QVERIFY(std::any_of(raw.begin(), raw.end(), repeatsAPoint)); // the trace stalls here
        DroppedRepeats dropped;
        const QVector<Streamline> data = withoutRepeatedPoints(raw, &dropped);
        qint64 dataPoints = 0;
        for (const Streamline &line : data) {
            QVERIFY(!repeatsAPoint(line));
            QVERIFY(line.size() >= 2 || raw.contains(line)); // one point only if it had one
            dataPoints += line.size();
        }
        QVERIFY(dropped.points > 0);
        QCOMPARE(data.size() + dropped.lines, raw.size());
        QCOMPARE(dataPoints + dropped.points + dropped.lines, rawPoints);
    }

    void repeatedPointsLeftOut()
    {
        const Vector3 a(1, 2, 0), b(3, 2, 0), nan(std::nan(""), 0, 0), minusZero(-0.0, 2, 0), zero(0.0, 2, 0);
        const QVector<Streamline> lines{{a, a, b, b, b, a}, {b, b, b}, {a}, {}, {nan, nan}, {zero, minusZero, a}};
        DroppedRepeats dropped{10, 20}; // counts add up
        const QVector<Streamline> data = withoutRepeatedPoints(lines, &dropped);
        QCOMPARE(data.size(), 5);
        QCOMPARE(data.mid(0, 3), (QVector<Streamline>{{a, b, a}, {a}, {}}));
        QVERIFY(data[3].size() == 2 && std::isnan(data[3][1].x)); // NaN is never a repeat
        QCOMPARE(data[4], (Streamline{zero, a}));
        QCOMPARE(dropped.points, 10 + 3 + 2 + 1);
        QCOMPARE(dropped.lines, 20 + 1);
        QCOMPARE(data[1].constData(), lines[2].constData()); // shared, not copied
    }

    // Limits above the view's: the run goes on where the view's stops (the seed limit on the
    // first field, the step limit on the second), and no two lines come closer than
    // Dtest * Dsep; also where the trace ends at rest, as tessaly-render's larger limits do.
    void largerLimitsGiveMoreLinesKeptApart_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<float>("dSep");
        QTest::addColumn<float>("dTest");
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("stopAtRest");
        QTest::addColumn<bool>("moreLines"); // else longer ones
        QTest::newRow("limit euler") << "limit" << 2.0f << 0.5f << 0 << false << true;
        QTest::newRow("limit rk at rest") << "limit" << 2.0f << 0.3f << 1 << true << true;
        QTest::newRow("wide euler at rest") << "wide" << 9.0f << 0.5f << 0 << true << false;
        QTest::newRow("wide rk") << "wide" << 7.0f << 0.8f << 1 << false << false;
    }
    void largerLimitsGiveMoreLinesKeptApart()
    {
        QFETCH(QString, field);
        QFETCH(float, dSep);
        QFETCH(float, dTest);
        QFETCH(int, method);
        QFETCH(bool, stopAtRest);
        QFETCH(bool, moreLines);
        QVERIFY(setField(field));
        ConsoleCapture quiet;
        EvenlySpacedSeeding::Parameters p{dSep, dTest, 1.55, method, gridVolume->getDimX(), gridVolume->getDimY()};
        View view;
        view.run(p);
        const QVector<Streamline> before = view.traced();
        const auto moving = [](const QVector<Streamline> &lines) {
            qsizetype n = 0;
            for (const Streamline &line : withoutRepeatedPoints(lines))
                n += line.size();
            return n;
        };
        p.maxSeeds = 4000;
        p.maxSteps = 5000;
        p.stopAtRest = stopAtRest;
        view.run(p);
        const QVector<Streamline> after = view.traced();
        qsizetype points = 0, longest = 0;
        for (const Streamline &line : after) {
            points += line.size();
            longest = std::max(longest, line.size());
            QVERIFY(line.size() <= 2 * p.maxSteps + 1);
            QVERIFY(!stopAtRest || !repeatsAPoint(line));
        }
        QCOMPARE(points, view.seeding.points().size()); // traced() found every line
        QVERIFY2(moreLines ? after.size() > before.size() : longest > 2001 && moving(after) > moving(before),
                 qPrintable(QStringLiteral("%1 lines of %2 moving points before, %3 of %4 after")
                                .arg(before.size())
                                .arg(moving(before))
                                .arg(after.size())
                                .arg(moving(after))));
        QVERIFY(view.seeds.size() <= p.maxSeeds + 1);
        const float minDistance = dTest * dSep;
        const double closest = closestOfDifferentLines(after, minDistance);
        QVERIFY2(closest >= minDistance, qPrintable(QString::number(closest)));
    }

    // Row 10 flows along +x; beside it the flow points at it, so every later line stays short
    // and the long first line offers seed after seed. The pass that starts with 500 seeds
    // runs to its end, then the run stops.
    void seedLimitStillAllowsA501stSeed()
    {
        QVERIFY(setField(QStringLiteral("limit")));
        ConsoleCapture console;
        View view;
        view.run(2.0f);
        QCOMPARE(view.seeds.size(), 501);
        const QStringList lines = console.lines();
        QCOMPARE(lines.mid(lines.indexOf(QStringLiteral("500 : Seedpoints")) + 1),
                 (QStringList{"772.6 12  is valid as new seedpoint.", "SP generated at: 772.6 12",
                              "found valid SP at: 772.6 12", "501 : Seedpoints", "file written to: grid.log"}));
    }

    // The second thread of the resampling: a task's writes are seen after wait(), what it
    // throws is rethrown there once, and the worker goes on (also after a sleep).
    void workerHandsBackResultsAndErrors()
    {
        SpinWorker worker;
        if (!worker.ready())
            QSKIP("one core: no second thread");
        std::vector<int> out;
        auto fill = [&] { out.assign(100000, 7); };
        auto fail = [] { throw std::runtime_error("task failed"); };
        worker.start(fill);
        worker.wait();
        QCOMPARE(out.size(), size_t(100000));
        QCOMPARE(out.back(), 7);
        worker.start(fail);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, worker.wait());
        worker.wait(); // nothing left to rethrow
        QTest::qWait(20); // the worker sleeps by now
        out.clear();
        worker.start(fill);
        worker.wait();
        QCOMPARE(out.size(), size_t(100000));
    }

    // No dataset, or a separation of 0 (no usable grid): the run ends at once and leaves no
    // lists, grid or grid.log of an earlier run behind.
    void noDatasetOrUnusableSeparationEndsAtOnce()
    {
        setVolumes(nullptr, uniformFlow(100, 100, 1, 0));
        View view;
        view.run(30.0f);
        QFile::remove(QStringLiteral("grid.log"));
        ConsoleCapture console;
        view.run(30.0f, 0.5f, 0, 100, nullptr);
        QVERIFY(view.seeds.isEmpty() && view.lines.isEmpty() && view.seeding.points().isEmpty() && !view.seeding.grid());
        QVERIFY(!QFile::exists(QStringLiteral("grid.log")));
        QCOMPARE(console.lines(), QStringList{"No dataset loaded: no evenly spaced streamlines"});
        view.run(30.0f);
        view.run(0.0f);
        QVERIFY(view.seeds.isEmpty() && view.lines.isEmpty() && !view.seeding.grid());
        view.run(INFINITY); // cells without a finite side
        QVERIFY(view.seeds.isEmpty() && !view.seeding.grid());
        // A regular run leaves neither the points nor a grid that would index them.
        view.run(30.0f);
        view.seeding.reset({30.0f, 0.5f, 1.55, 0, 100, 100});
        QVERIFY(view.seeding.points().isEmpty() && !view.seeding.grid());
    }
};

QTEST_GUILESS_MAIN(TestEvenlySpacedSeeding)
#include "tst_evenlyspacedseeding.moc"
