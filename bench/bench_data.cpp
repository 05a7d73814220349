// Loading, resampling and sampling at growing dataset sizes.
//
// Prints Google Benchmark's table and then a summary: load time over the raw read time of
// the same two files (page cache warm; into fresh buffers, and into reused buffers as the
// bandwidth limit), resampling time over load time, the cost of one
// interpolated flow-direction sample, memory per point of the two volumes, and how the
// times per point grow from 500^2 to 2000^2. Last, the peak resident bytes per point of a
// whole `tessaly-render --view evenly --dsep 10` process on the vortices at 2000^2 and
// 4000^2 (goal: 48).

#include "tools/Flows.h"
#include "data/Volume.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <vector>

#include <spawn.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

std::atomic<long long> gAllocations{0};

const int kSizes[] = {500, 1000, 2000};
std::map<std::string, double> gSeconds; // median seconds per iteration, by benchmark

QTemporaryDir &workDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tessaly-bench-XXXXXX"));
    return dir;
}

QString datasetPath(int n)
{
    const QString path = workDir().filePath(QStringLiteral("saddle%1.gri").arg(n));
    if (!QFile::exists(path))
        flows::write(QStringLiteral("saddle"), path, {n, n});
    return path;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

std::vector<char> readAll(const QString &name)
{
    std::FILE *f = std::fopen(QFile::encodeName(name).constData(), "rb");
    std::vector<char> bytes;
    if (!f)
        return bytes;
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    bytes.resize(got);
    return bytes;
}

using Clock = std::chrono::steady_clock;

// Times each iteration; the summary uses the median, which an occasional stall of the
// virtual machine's memory (a huge-page compaction, a host hiccup) does not move.
template <typename Body>
void timed(benchmark::State &state, const std::string &key, Body body)
{
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        body(state);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(s);
        times.push_back(s);
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    gSeconds[key] = times[times.size() / 2];
}

std::string key(const char *what, int n) { return std::string(what) + "/" + std::to_string(n); }

void BM_RawRead(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const QString grid = datasetPath(n);
    const QString data = grid.left(grid.size() - 4) + QStringLiteral(".00000.dat");
    readAll(grid);
    timed(state, key("raw", n), [&](benchmark::State &) {
        std::vector<char> a = readAll(grid), b = readAll(data);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    });
}

// The same two files read into buffers that are allocated once and reused: no page faults,
// only the copy out of the page cache. This is the bandwidth limit of any load.
void BM_RawReadReused(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const QString grid = datasetPath(n);
    const QString data = grid.left(grid.size() - 4) + QStringLiteral(".00000.dat");
    std::vector<char> a = readAll(grid), b = readAll(data); // sized and faulted in once
    const auto readInto = [](const QString &name, std::vector<char> &into) {
        std::FILE *f = std::fopen(QFile::encodeName(name).constData(), "rb");
        if (!f)
            return;
        const std::size_t got = std::fread(into.data(), 1, into.size(), f);
        std::fclose(f);
        benchmark::DoNotOptimize(got);
    };
    timed(state, key("limit", n), [&](benchmark::State &) {
        readInto(grid, a);
        readInto(data, b);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    });
}

void BM_Load(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const QString grid = datasetPath(n);
    timed(state, key("load", n), [&](benchmark::State &) {
        Volume v;
        v.load(grid);
        benchmark::DoNotOptimize(v.pointCount());
    });
    state.counters["ns/point"] = gSeconds[key("load", n)] * 1e9 / (double(n) * n);
}

void BM_Resample(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Volume loaded;
    loaded.load(datasetPath(n));
    // As a load makes its volume, the resampling's time includes making and freeing its grid.
    timed(state, key("resample", n), [&](benchmark::State &) {
        Volume grid(n, n, 1);
        grid.calculateGridFrom(loaded);
    });
    Volume grid(n, n, 1);
    grid.calculateGridFrom(loaded);
    auto bytes = [](const Volume &v) {
        const PointStore &s = v.store();
        return double(s.size()) * (2 * sizeof(Vector3) + sizeof(int32_t) + sizeof(float) * std::size_t(s.stride()));
    };
    gSeconds[key("bytes/point", n)] = (bytes(loaded) + bytes(grid)) / (double(n) * n);
    state.counters["ns/point"] = gSeconds[key("resample", n)] * 1e9 / (double(n) * n);
}

void BM_SampleDir(benchmark::State &state)
{
    const int n = 1000;
    Volume loaded;
    loaded.load(datasetPath(n));
    Volume grid(n, n, 1);
    grid.calculateGridFrom(loaded);
    // Positions as integration visits them: a walk of 1.55-unit steps, turning slowly.
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> turn(-0.3, 0.3);
    std::vector<Vector3> at(4096);
    Vector3 p(n / 2.0, n / 2.0, 0.0);
    double heading = 0.0;
    for (Vector3 &q : at) {
        heading += turn(rng);
        p = p + Vector3(std::cos(heading), std::sin(heading), 0.0) * 1.55;
        p.x = std::fmod(p.x + n, double(n));
        p.y = std::fmod(p.y + n, double(n));
        q = p;
    }
    std::size_t i = 0;
    const long long allocationsBefore = gAllocations.load();
    long long samples = 0;
    for (auto _ : state) {
        const Vector3 &p = at[i++ & 4095];
        benchmark::DoNotOptimize(grid.sampleDir(p.x, p.y, p.z));
        ++samples;
    }
    state.counters["allocs/sample"] = double(gAllocations.load() - allocationsBefore) / double(samples);
}

} // namespace

// Counts heap allocations so the sampling benchmark can show it makes none.
void *operator new(std::size_t size)
{
    ++gAllocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

BENCHMARK(BM_RawRead)->Arg(500)->Arg(1000)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawReadReused)->Arg(500)->Arg(1000)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(500)->Arg(1000)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample)->Arg(500)->Arg(1000)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SampleDir);

namespace {

// Peak resident bytes of one renderer process on `gri`, or 0 when it did not run to success.
double renderPeakBytes(const QString &gri, const QString &out)
{
    const QByteArray a0 = TESSALY_RENDER, a1 = QFile::encodeName(gri), a4 = QFile::encodeName(out);
    const char *argv[] = {a0.constData(), a1.constData(), "--view", "evenly", "--dsep", "10", "-o", a4.constData(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
        return 0;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 0;
    return double(usage.ru_maxrss) * 1024.0; // kilobytes on Linux
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    // The renders' peaks come first: a child's peak starts from its parent's at the spawn,
    // which the warm-up below and the generation of the fields would raise. Each field is
    // written by a child process of its own for that reason.
    std::vector<std::pair<int, double>> peaks;
    for (int n : {2000, 4000}) {
        const QString gri = workDir().filePath(QStringLiteral("vortices%1.gri").arg(n));
        const pid_t pid = fork();
        if (pid == 0)
            _exit(flows::write(QStringLiteral("vortices"), gri, {n, n}) ? 0 : 1);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            continue;
        peaks.emplace_back(n, renderPeakBytes(gri, workDir().filePath(QStringLiteral("evenly.png"))));
        QFile::remove(gri);
        QFile::remove(gri.chopped(4) + QStringLiteral(".00000.dat"));
    }
    // In a virtual machine the first touch of memory the guest never used costs many times
    // what a touch costs later. Touch what the runs will need once, so that every run pays
    // the steady-state price of fresh memory, as a program that has run for a while does.
    {
        const std::size_t bytes = std::size_t(3) << 30;
        if (char *p = static_cast<char *>(std::malloc(bytes))) {
            for (std::size_t i = 0; i < bytes; i += 4096)
                p[i] = 1;
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // load/raw compares with a read into fresh buffers (which pays the page faults a load
    // pays too); load/limit with the read into reused buffers, the page-cache bandwidth limit.
    std::printf("\n%-8s %10s %11s %14s %14s %16s %12s\n", "points", "load/raw", "load/limit", "resample/load",
                "load ns/point", "resample ns/pt", "bytes/point");
    for (int n : kSizes) {
        const double raw = gSeconds[key("raw", n)], load = gSeconds[key("load", n)], res = gSeconds[key("resample", n)];
        const double limit = gSeconds[key("limit", n)];
        if (raw == 0 || load == 0 || limit == 0)
            continue;
        const double pts = double(n) * n;
        std::printf("%4d^2   %10.2f %11.2f %14.2f %14.2f %16.2f %12.0f\n", n, load / raw, load / limit, res / load,
                    load * 1e9 / pts, res * 1e9 / pts, gSeconds[key("bytes/point", n)]);
    }
    const double l5 = gSeconds[key("load", 500)], l20 = gSeconds[key("load", 2000)];
    const double r5 = gSeconds[key("resample", 500)], r20 = gSeconds[key("resample", 2000)];
    if (l5 > 0 && r5 > 0)
        std::printf("growth 500^2 -> 2000^2 (16x points): load %.1fx, resample %.1fx\n", l20 / l5, r20 / r5);
    std::printf("\npeak resident bytes per point, tessaly-render --view evenly --dsep 10 (goal 48):\n");
    for (const auto &[n, peak] : peaks)
        std::printf("%4d^2   %8.1f bytes/point (%.0f MB)\n", n, peak / (double(n) * n), peak / 1e6);
    return 0;
}
