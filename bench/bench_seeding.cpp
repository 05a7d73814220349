// Evenly spaced seeding: seeds, traced points, moving points (those that do not repeat the
// point before them, what the data files keep), time per traced and per moving point, and
// the picture's coverage on the sample fields and a 1000 x 1000 field; the peak memory of
// the densest run; large fields with the view's limits and with larger ones (BM_Large); and
// a fine robustness sweep of the separating and test distances (BM_Sweep), which checks that
// every run ends within its limits.
//
//   build/bench/bench_seeding                                  everything (a few minutes)
//   build/bench/bench_seeding --benchmark_filter=BM_Seeding    the timings only
//   build/bench/bench_seeding --benchmark_filter=BM_Large      large fields, both limits
//   build/bench/bench_seeding --benchmark_filter=BM_Sweep      the sweep only
#include "streamlines/EvenlySpacedSeeding.h"
#include "tools/Flows.h"
#include "streamlines/LineData.h"
#include "data/Volume.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// The seeding writes several console lines per seed; printing them would dominate the
// measurement, so everything logged while a benchmark runs is dropped.
void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Field
{
    QString name;
    QString kind;
    flows::Size size;
};

const QList<Field> &fields()
{
    static const QList<Field> list{
        {"channel", "channel", {}},
        {"vortices", "vortices", {}},
        {"saddle", "saddle", {}},
        {"uniform", "uniform", {}},
        {"vortices1000", "vortices", {1000, 1000}},
    };
    return list;
}

// The grid volumes, generated and resampled once, as the control dock would load them.
const Volume *field(int index)
{
    static QTemporaryDir dir;
    static QMap<int, std::shared_ptr<Volume>> cache;
    if (!cache.contains(index)) {
        const Field &f = fields().at(index);
        const QString path = dir.filePath(f.name + ".gri");
        if (!flows::write(f.kind, path, f.size))
            return nullptr;
        Volume loaded;
        loaded.load(path);
        auto grid = std::make_shared<Volume>(loaded.getDimX(), loaded.getDimY(), 1);
        grid->calculateGridFrom(loaded);
        cache.insert(index, grid);
    }
    return cache.value(index).get();
}

// Resident set size figures of this process in KiB, from /proc/self/status.
long statusKiB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    return -1;
}

// Lets VmHWM restart from the current resident size, so it measures the peak of what runs next.
void resetPeakRss()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Runs `measure` in a forked child, which fills `count` doubles that come back through a
// pipe: a run's peak memory is then its own, not what earlier runs left in this process.
// False when no result came back (no pipe, no child, or the child died).
template <typename Measure>
bool inChild(double *result, std::size_t count, Measure measure)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const ssize_t bytes = ssize_t(count * sizeof(double));
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        measure(result);
        _exit(write(fds[1], result, std::size_t(bytes)) == bytes ? 0 : 1);
    }
    close(fds[1]);
    const bool received = child > 0 && read(fds[0], result, std::size_t(bytes)) == bytes;
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return received;
}

// CPU time of the whole process, every thread counted.
double processCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

struct View
{
    EvenlySpacedSeeding seeding;
    const QVector<Vector3> &seeds = seeding.seeds();
    const QVector<Streamline> &lines = seeding.lines();

    // maxSeeds, maxSteps 0: the view's limits. Larger limits end a half line at rest, as
    // tessaly-render does with them.
    void run(const Volume *v, float dSep, float dTest, int method, int maxSeeds = 0, int maxSteps = 0)
    {
        EvenlySpacedSeeding::Parameters p;
        p.dSep = dSep;
        p.dTest = dTest;
        p.method = method;
        p.viewWidth = v->getDimX();
        p.viewHeight = v->getDimY();
        if (maxSeeds > 0 || maxSteps > 0) {
            p.maxSeeds = maxSeeds > 0 ? maxSeeds : p.maxSeeds;
            p.maxSteps = maxSteps > 0 ? maxSteps : p.maxSteps;
            p.stopAtRest = true;
        }
        seeding.reset(p);
        seeding.run(v);
    }

    // The drawn lines as the data files hold them: each once, without repeated points.
    QVector<Streamline> dataLines() const
    {
        QVector<Streamline> drawn;
        for (const Streamline &line : lines)
            if (drawn.isEmpty() || drawn.last().constData() != line.constData())
                drawn.append(line);
        return withoutRepeatedPoints(drawn);
    }
};

// How well the lines fill a w x h picture: the share of its grid points (the pixels at the
// initial zoom) within dSep of a point of a line, and the share of lines shorter than
// 2 dSep. The points of a line lie a step (1.55) apart, so the discs around them miss
// slivers of under 0.03 units of the band around the line at Dsep 10.
struct Coverage
{
    double covered = 0.0; // per cent
    double shortLines = 0.0;
    qint64 movingPoints = 0;
};

Coverage coverage(const QVector<Streamline> &lines, int w, int h, double dSep)
{
    Coverage c;
    const size_t words = (size_t(w) + 63) / 64;
    std::vector<quint64> bits(words * size_t(h), 0);
    // Sets the bits a ... b (inclusive) of row y.
    const auto mark = [&](int y, int a, int b) {
        quint64 *row = bits.data() + size_t(y) * words;
        for (int wi = a / 64; wi <= b / 64; ++wi) {
            const int lo = std::max(a, wi * 64) - wi * 64, hi = std::min(b, wi * 64 + 63) - wi * 64;
            row[wi] |= (hi == 63 ? ~quint64(0) : (quint64(1) << (hi + 1)) - 1) & ~((quint64(1) << lo) - 1);
        }
    };
    qint64 shortLines = 0;
    for (const Streamline &line : lines) {
        double length = 0.0;
        for (qsizetype k = 0; k < line.size(); ++k) {
            const Vector3 &p = line[k];
            if (k > 0)
                length += (p - line[k - 1]).length();
            const int y0 = std::max(0, int(std::ceil(p.y - dSep))), y1 = std::min(h - 1, int(std::floor(p.y + dSep)));
            for (int y = y0; y <= y1; ++y) {
                const double half = std::sqrt(std::max(0.0, dSep * dSep - (y - p.y) * (y - p.y)));
                const int x0 = std::max(0, int(std::ceil(p.x - half))), x1 = std::min(w - 1, int(std::floor(p.x + half)));
                if (x0 <= x1)
                    mark(y, x0, x1);
            }
        }
        c.movingPoints += line.size();
        shortLines += length < 2.0 * dSep;
    }
    qint64 set = 0;
    for (const quint64 b : bits)
        set += __builtin_popcountll(b);
    c.covered = 100.0 * double(set) / (double(w) * double(h));
    c.shortLines = lines.isEmpty() ? 0.0 : 100.0 * double(shortLines) / double(lines.size());
    return c;
}

// Arguments: field index, dSep, dTest in hundredths, method.
void BM_Seeding(benchmark::State &state)
{
    const QtMessageHandler previous = qInstallMessageHandler(dropMessages);
    const Volume *v = field(int(state.range(0)));
    if (!v) {
        qInstallMessageHandler(previous);
        state.SkipWithError("field not generated");
        return;
    }
    const float dSep = float(state.range(1));
    const float dTest = float(state.range(2) * 0.01);
    const int method = int(state.range(3));
    state.SetLabel(QStringLiteral("%1 Dsep %2 Dtest %3 %4")
                       .arg(fields().at(int(state.range(0))).name)
                       .arg(dSep)
                       .arg(dTest)
                       .arg(method == 0 ? "Euler" : "RK")
                       .toStdString());

    View view;
    qint64 points = 0;
    qint64 seeds = 0;
    double ns = 0.0;
    double cpuNs = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuNs();
        view.run(v, dSep, dTest, method);
        cpuNs += processCpuNs() - cpuStart;
        ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        points += view.seeding.points().size();
        seeds += view.seeds.size();
    }
    qInstallMessageHandler(previous);

    const double n = double(state.iterations());
    const Coverage c = coverage(view.dataLines(), v->getDimX(), v->getDimY(), dSep); // every run is the same
    state.counters["seeds"] = double(seeds) / n;
    state.counters["points"] = double(points) / n;
    state.counters["moving"] = double(c.movingPoints);
    // Wall time, the figure a user waits for, and the CPU time of every thread of the
    // process, which is what the run costs the machine; per traced point and per moving
    // point. Their ratio is 1 for a run on one thread with its core to itself; above 1, more
    // threads work (or wait spinning); below 1, the run waited for a core (a busy machine:
    // the wall figures then say little).
    state.counters["ns_per_point"] = points > 0 ? ns / double(points) : 0.0;
    state.counters["ns_per_moving"] = c.movingPoints > 0 ? ns / n / double(c.movingPoints) : 0.0;
    state.counters["cpu_ns_per_point"] = points > 0 ? cpuNs / double(points) : 0.0;
    state.counters["cpu_per_wall"] = ns > 0.0 ? cpuNs / ns : 0.0;
    state.counters["covered_pct"] = c.covered;
    state.counters["short_pct"] = c.shortLines;
}

void seedingArguments(benchmark::internal::Benchmark *b)
{
    for (int f = 0; f < fields().size(); ++f)
        for (int dSep : {30, 10, 3, 1})
            for (int dTest : {50, 10})
                for (int method : {0, 1})
                    b->Args({f, dSep, dTest, method});
}

BENCHMARK(BM_Seeding)->Apply(seedingArguments)->Unit(benchmark::kMillisecond)->MinTime(0.3);

// Peak memory of one run of the densest configurations (the 1000 x 1000 field, Dtest 0.1,
// Runge-Kutta; arguments Dsep, Dtest in hundredths, method), measured in a child process so that nothing allocated by earlier
// runs can be reused: the growth of the resident set's high-water mark over the run.
void BM_PeakMemory(benchmark::State &state)
{
    const QtMessageHandler previous = qInstallMessageHandler(dropMessages);
    const Volume *v = field(4);
    if (!v) {
        qInstallMessageHandler(previous);
        state.SkipWithError("field not generated");
        return;
    }
    double peakMiB = -1.0;
    double points = 0.0;
    for (auto _ : state) {
        double result[2] = {-1.0, 0.0};
        const bool measured = inChild(result, 2, [&](double *r) {
            View view;
            const long before = statusKiB("VmRSS");
            resetPeakRss();
            view.run(v, float(state.range(0)), float(state.range(1) * 0.01), int(state.range(2)));
            r[0] = (statusKiB("VmHWM") - before) / 1024.0;
            r[1] = double(view.seeding.points().size());
        });
        if (!measured)
            break;
        peakMiB = result[0];
        points = result[1];
    }
    qInstallMessageHandler(previous);
    state.SetLabel(QStringLiteral("vortices1000 Dsep %1 Dtest %2 %3")
                       .arg(state.range(0))
                       .arg(state.range(1) * 0.01)
                       .arg(state.range(2) == 0 ? "Euler" : "RK")
                       .toStdString());
    state.counters["peak_MiB"] = peakMiB;
    state.counters["points"] = points;
    state.counters["bytes_per_point"] = points > 0 ? peakMiB * 1024.0 * 1024.0 / points : 0.0;
}

BENCHMARK(BM_PeakMemory)->Args({1, 10, 1})->Args({3, 10, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

// The "vortices" flow on a square grid of `side` points, built in memory as the grid volume
// (only the flow is written: a dataset of 8000 x 8000 points written, loaded and resampled
// would take minutes and two volumes of 3.6 GB).
std::unique_ptr<Volume> largeVortices(int side)
{
    auto grid = std::make_unique<Volume>(side, side, 1);
    if (grid->pointCount() != size_t(side) * size_t(side))
        return nullptr;
    Vector3 *dir = grid->store().dir();
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            float d[2];
            flows::vorticesFlow(i, j, {side, side}, d);
            dir[grid->indexOf(i, j, 0)] = Vector3(d[0], d[1], 0.0);
        }
    return grid;
}

// Larger limits that let the lines cover an 8000 x 8000 field at Dsep 10.
constexpr int kLargeSeeds = 5000;
constexpr int kLargeSteps = 5000;

// One evenly spaced run on a large field at Dsep 10, Dtest 0.5, Euler, in a child process
// (the field is built there and freed with it): arguments side, max seeds, max steps (0, 0:
// the view's limits). Wall time, the peak memory the run adds to the field's, and coverage.
void BM_Large(benchmark::State &state)
{
    const int side = int(state.range(0)), maxSeeds = int(state.range(1)), maxSteps = int(state.range(2));
    constexpr float dSep = 10.0f;
    enum { kMs, kPeakMiB, kSeeds, kPoints, kMoving, kCovered, kShort, kCount };
    double result[kCount] = {};
    result[kMs] = -1.0;
    for (auto _ : state) {
        const bool measured = inChild(result, kCount, [&](double *r) {
            qInstallMessageHandler(dropMessages);
            r[kMs] = -1.0; // stays so when the field cannot be built
            if (const std::unique_ptr<Volume> field = largeVortices(side)) {
                View view;
                const long before = statusKiB("VmRSS");
                resetPeakRss();
                const auto start = std::chrono::steady_clock::now();
                view.run(field.get(), dSep, 0.5f, 0, maxSeeds, maxSteps);
                r[kMs] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                // The high-water mark, or what the run still holds where the reset of the mark
                // was refused (the kernel may), whichever is larger.
                r[kPeakMiB] = (std::max(statusKiB("VmHWM"), statusKiB("VmRSS")) - before) / 1024.0;
                r[kSeeds] = double(view.seeds.size());
                r[kPoints] = double(view.seeding.points().size());
                const Coverage c = coverage(view.dataLines(), side, side, dSep);
                r[kMoving] = double(c.movingPoints);
                r[kCovered] = c.covered;
                r[kShort] = c.shortLines;
            }
        });
        if (!measured)
            result[kMs] = -1.0;
    }
    if (result[kMs] < 0.0) {
        state.SkipWithError("no field or no result");
        return;
    }
    state.SetLabel(QStringLiteral("vortices %1^2 Dsep 10 Euler, %2")
                       .arg(side)
                       .arg(maxSeeds ? QStringLiteral("max-seeds %1 max-steps %2").arg(maxSeeds).arg(maxSteps)
                                     : QStringLiteral("view's limits"))
                       .toStdString());
    state.counters["run_ms"] = result[kMs];
    state.counters["peak_MiB"] = result[kPeakMiB];
    state.counters["seeds"] = result[kSeeds];
    state.counters["points"] = result[kPoints];
    state.counters["moving"] = result[kMoving];
    state.counters["ns_per_moving"] = result[kMoving] > 0 ? result[kMs] * 1e6 / result[kMoving] : 0.0;
    state.counters["covered_pct"] = result[kCovered];
    state.counters["short_pct"] = result[kShort];
}

void largeArguments(benchmark::internal::Benchmark *b)
{
    for (int side : {1000, 2000, 4000, 8000}) {
        b->Args({side, 0, 0});
        b->Args({side, kLargeSeeds, kLargeSteps});
    }
}

BENCHMARK(BM_Large)->Apply(largeArguments)->Iterations(1)->Unit(benchmark::kMillisecond);

// Every Dsep from 1 to 100 with Dtest from 0.01 to 1 and both methods on one field: each run
// must end with at most 501 seeds, lines of at most 2001 points and a complete grid.
void BM_Sweep(benchmark::State &state)
{
    const int index = int(state.range(0));
    const QtMessageHandler previous = qInstallMessageHandler(dropMessages);
    const Volume *v = field(index);
    if (!v) {
        qInstallMessageHandler(previous);
        state.SkipWithError("field not generated");
        return;
    }
    state.SetLabel(fields().at(index).name.toStdString());
    qint64 runs = 0, points = 0, maxPoints = 0, maxSeeds = 0;
    QString failure;
    for (auto _ : state) {
        View view;
        for (int dSep = 1; dSep <= 100; ++dSep) {
            for (int dTest : {1, 2, 5, 10, 20, 33, 50, 75, 100}) {
                for (int method : {0, 1}) {
                    view.run(v, float(dSep), float(dTest * 0.01), method);
                    ++runs;
                    const qint64 n = view.seeding.points().size();
                    points += n;
                    maxPoints = std::max(maxPoints, n);
                    maxSeeds = std::max<qint64>(maxSeeds, view.seeds.size());
                    bool ok = view.seeds.size() >= 1 && view.seeds.size() <= 501 && view.seeding.grid();
                    for (const Streamline &l : std::as_const(view.lines))
                        ok = ok && l.size() <= 2001;
                    if (!ok && failure.isEmpty())
                        failure = QStringLiteral("Dsep %1 Dtest %2 method %3").arg(dSep).arg(dTest).arg(method);
                }
            }
        }
    }
    qInstallMessageHandler(previous);
    if (!failure.isEmpty())
        state.SkipWithError(("limits broken at " + failure).toStdString().c_str());
    state.counters["runs"] = double(runs);
    state.counters["points"] = double(points);
    state.counters["max_points"] = double(maxPoints);
    state.counters["max_seeds"] = double(maxSeeds);
}

BENCHMARK(BM_Sweep)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
