// Evenly spaced seeding: seeds, traced points, time and time per traced point on the sample
// fields and a 1000 x 1000 field; the peak memory of the densest run; and a fine
// robustness sweep of the separating and test distances (BM_Sweep), which checks that every
// run ends within its limits.
//
//   build/bench/bench_seeding                                  everything
//   build/bench/bench_seeding --benchmark_filter=BM_Seeding    the timings only
//   build/bench/bench_seeding --benchmark_filter=BM_Sweep      the sweep only
#include "EvenlySpacedSeeding.h"
#include "Flows.h"
#include "Volume.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtGlobal>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

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

// CPU time of the whole process: the seeding traces half of each line on a second thread.
double processCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

struct View
{
    QVector<Vector3> seeds;
    QVector<Streamline> lines;
    EvenlySpacedSeeding seeding{seeds, lines};

    void run(const Volume *v, float dSep, float dTest, int method)
    {
        EvenlySpacedSeeding::Parameters p;
        p.dSep = dSep;
        p.dTest = dTest;
        p.method = method;
        p.viewWidth = v->getDimX();
        p.viewHeight = v->getDimY();
        seeding.reset(p);
        seeding.run(v);
    }
};

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
        points += view.seeding.mPoints.size();
        seeds += view.seeds.size();
    }
    qInstallMessageHandler(previous);

    const double n = double(state.iterations());
    state.counters["seeds"] = double(seeds) / n;
    state.counters["points"] = double(points) / n;
    // Wall time, the figure a user waits for, and the CPU time of both threads (the worker's
    // waits included), which shows what the second core costs.
    state.counters["ns_per_point"] = points > 0 ? ns / double(points) : 0.0;
    state.counters["cpu_ns_per_point"] = points > 0 ? cpuNs / double(points) : 0.0;
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
        int fds[2];
        if (pipe(fds) != 0)
            break;
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            View view;
            const long before = statusKiB("VmRSS");
            resetPeakRss();
            view.run(v, float(state.range(0)), float(state.range(1) * 0.01), int(state.range(2)));
            const double result[2] = {(statusKiB("VmHWM") - before) / 1024.0, double(view.seeding.mPoints.size())};
            const ssize_t written = write(fds[1], result, sizeof(result));
            _exit(written == ssize_t(sizeof(result)) ? 0 : 1);
        }
        close(fds[1]);
        double result[2] = {-1.0, 0.0};
        if (child > 0 && read(fds[0], result, sizeof(result)) == ssize_t(sizeof(result))) {
            peakMiB = result[0];
            points = result[1];
        }
        close(fds[0]);
        if (child > 0)
            waitpid(child, nullptr, 0);
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
                    const qint64 n = view.seeding.mPoints.size();
                    points += n;
                    maxPoints = std::max(maxPoints, n);
                    maxSeeds = std::max<qint64>(maxSeeds, view.seeds.size());
                    bool ok = view.seeds.size() >= 1 && view.seeds.size() <= 501 && view.seeding.mGrid;
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
