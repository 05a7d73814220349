// Streamline benchmarks on the channel sample (314 x 538) with the view's default parameters:
// one integration step, the widget-free regular picture, and the view's whole
// drawStreamLines() on a hidden widget (no painting to the screen).
//
// Run: build/bench/streamlines_bench. The counter allocs/step is the number of heap
// allocations (malloc, calloc, realloc) per integration step inside the timed loop.

#include "tools/Flows.h"
#include "streamlines/Integrate.h"
#include "streamlines/StreamlineRender.h"
#include "data/ui/Volumes.h"
#include "streamlines/ui/streamlines.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

// Counting allocator: the executable's malloc family interposes the C library's for the whole
// process, so Qt containers and operator new are counted too.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}
namespace {
std::atomic<long long> gAllocations{0};
}
extern "C" void *malloc(size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t s)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, s);
}
extern "C" void *realloc(void *p, size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

namespace {

const Vector3 kSeed(11.0, 18.0, 0.0);

void integrateSteps(benchmark::State &state, int method)
{
    const Volume &grid = *gridVolume;
    Vector3 p = kSeed;
    long long steps = 0;
    const long long before = gAllocations.load();
    for (auto _ : state) {
        // A dependent chain, as in a trace; restart at the seed once the line leaves.
        p = integrate(p, 1.55, method, &grid);
        if (!grid.isInside(p.x, p.y, p.z))
            p = kSeed;
        benchmark::DoNotOptimize(p);
        ++steps;
    }
    state.counters["allocs/step"] = double(gAllocations.load() - before) / double(steps);
}

void BM_IntegrateEuler(benchmark::State &state) { integrateSteps(state, Euler); }
void BM_IntegrateRungeKutta(benchmark::State &state) { integrateSteps(state, RungeKutta); }
BENCHMARK(BM_IntegrateEuler);
BENCHMARK(BM_IntegrateRungeKutta);

// Args: max length, method, antialiased.
void BM_RegularPicture(benchmark::State &state)
{
    const Volume &grid = *gridVolume;
    const QSize size(grid.getDimX(), grid.getDimY());
    const ViewRect view{0, 0, grid.getDimX(), grid.getDimY()};
    const TraceSettings settings{1.55, int(state.range(1)), int(state.range(0))};
    long long points = 0;
    for (auto _ : state) {
        const RegularPicture picture = renderRegularPicture(size, view, 10, 10, settings, state.range(2) != 0, grid);
        points = 0;
        for (const QPolygon &p : picture.polylines)
            points += p.size();
        benchmark::DoNotOptimize(picture.image.constBits());
    }
    state.counters["points"] = double(points);
}
BENCHMARK(BM_RegularPicture)
    ->ArgNames({"len", "rk", "aa"})
    ->Args({200, 0, 0})
    ->Args({200, 1, 0})
    ->Args({400, 0, 0})
    ->Args({200, 0, 1})
    ->Args({400, 0, 1})
    ->Unit(benchmark::kMillisecond);

// The two halves of a picture apart: tracing and mapping the 100 lines, and painting them.
void BM_TraceOnly(benchmark::State &state)
{
    const Volume &grid = *gridVolume;
    const ViewRect view{0, 0, grid.getDimX(), grid.getDimY()};
    QVector<Vector3> seeds;
    appendRegularSeeds(seeds, view, 10, 10);
    const PixelMapping mapping(view, grid.getDimX(), grid.getDimY());
    for (auto _ : state) {
        QVector<QPolygon> polylines;
        traceRegularPolylines(seeds, TraceSettings{1.55, Euler, int(state.range(0))}, grid, mapping, polylines);
        benchmark::DoNotOptimize(polylines.data());
    }
}
BENCHMARK(BM_TraceOnly)->ArgName("len")->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);

void BM_PaintOnly(benchmark::State &state)
{
    const Volume &grid = *gridVolume;
    const QSize size(grid.getDimX(), grid.getDimY());
    const ViewRect view{0, 0, grid.getDimX(), grid.getDimY()};
    const RegularPicture picture = renderRegularPicture(size, view, 10, 10, TraceSettings{1.55, Euler, 200}, false, grid);
    for (auto _ : state) {
        QImage image = blankStreamlineImage(size);
        paintPolylines(image, picture.polylines, state.range(0) != 0);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintOnly)->ArgName("aa")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The view's own rendering: seeding, progress, tracing, painting, event processing; the
// widget is not shown, so nothing reaches the screen. Args: max length, antialiased.
void BM_ViewDrawStreamLines(benchmark::State &state)
{
    streamlines view;
    view.mMaxLength = int(state.range(0));
    view.mAntialiased = state.range(1) != 0;
    for (auto _ : state) {
        view.drawStreamLines();
        benchmark::DoNotOptimize(view.mImage.constBits());
    }
}
BENCHMARK(BM_ViewDrawStreamLines)
    ->ArgNames({"len", "aa"})
    ->Args({200, 0})
    ->Args({400, 0})
    ->Args({200, 1})
    ->Args({400, 1})
    ->Unit(benchmark::kMillisecond);

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("channel.gri"));
    if (!flows::write(QStringLiteral("channel"), file)) {
        std::fprintf(stderr, "cannot write the channel sample\n");
        return 1;
    }
    qInstallMessageHandler(quiet); // the load and every seeding run write console lines
    setCurrentDataset(loadDataset(file).dataset);
    if (!usableGrid(gridVolume)) {
        std::fprintf(stderr, "the channel sample did not load\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
