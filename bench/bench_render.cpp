// tessaly-render's two figures, as ratios measured in one run:
//
//  overhead  the whole process (start, load, resample, render, write the PNG) for the arrow
//            plot of the channel sample with its pressure background, minus the same load,
//            resample and render done in this process. Limit: 100 ms.
//  svg/png   the evenly spaced lines of the 1000 x 1000 vortices at Dsep 3 written as SVG
//            over the same written as PNG, both as whole processes (seeding included) and
//            for the output stage alone (raster + PNG encoding vs. SVG painting + writing).
//            Limit: 2.
//  figures   the evenly spaced lines of the 1000 x 1000 vortices (the view's Dsep 30, and
//            Dsep 3) coloured by speed, antialiased, as whole processes: --scale 4 over
//            --scale 1 as PNG (limit 2), and PDF and SVG over PNG at --scale 4 (limit 1.5).
//  whole process  wall and CPU time (all threads, from the children's resource usage) of
//            `--view evenly --dsep 10` and of `--view arrows --fit` on the 1000 x 1000
//            vortices, each against `true` (the cost of starting a process). Limits: 100 ms
//            and 80 ms.
//
// Run: build/bench/bench_render [--benchmark_min_time=...]. Times are wall-clock on whatever
// machine runs it; on a shared machine they move with the load, the ratios much less.

#include "data/Dataset.h"
#include "tools/Flows.h"
#include "tools/render/Output.h"
#include "tools/render/Pipeline.h"
#include "data/Volume.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
std::map<std::string, double> gSeconds; // mean seconds per iteration, by benchmark

QTemporaryDir &workDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tessaly-render-bench-XXXXXX"));
    return dir;
}

QString dataset(const QString &kind, flows::Size size = {})
{
    const QString path = workDir().filePath(kind + QString::number(size.x) + QStringLiteral(".gri"));
    if (!QFile::exists(path))
        flows::write(kind, path, size);
    return path;
}

template <typename Body>
void timed(benchmark::State &state, const std::string &key, Body body)
{
    double total = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        body();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(s);
        total += s;
    }
    gSeconds[key] = total / static_cast<double>(state.iterations());
}

void runTool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TESSALY_RENDER), args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        std::fprintf(stderr, "tessaly-render failed: %s\n", p.readAllStandardError().constData());
}

double childCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Runs `program` with `args` as a whole process per iteration; records wall and CPU seconds.
void wholeProcess(benchmark::State &state, const std::string &key, const QString &program, const QStringList &args)
{
    double cpu = 0;
    timed(state, key, [&] {
        const double c0 = childCpuSeconds();
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitCode() != 0)
            std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        cpu += childCpuSeconds() - c0;
    });
    gSeconds[key + " cpu"] = cpu / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = gSeconds[key + " cpu"] * 1e3;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

void BM_ArrowsInProcess(benchmark::State &state)
{
    const QString channel = dataset(QStringLiteral("channel"));
    pipeline::ArrowSettings s;
    s.pressure = true;
    timed(state, "arrows in process", [&] {
        const DatasetResult loaded = loadDataset(channel);
        const Volume &grid = loaded.dataset->grid();
        const QImage image = arrowrender::renderPicture(&grid, pipeline::arrowPicture(grid, s));
        benchmark::DoNotOptimize(image.constBits());
    });
}

void BM_ArrowsProcess(benchmark::State &state)
{
    const QStringList args{dataset(QStringLiteral("channel")), "--view", "arrows", "--pressure", "-o",
                           workDir().filePath("arrows.png")};
    timed(state, "arrows process", [&] { runTool(args); });
}

void BM_EvenlyProcess(benchmark::State &state)
{
    const char *format = state.range(0) ? "svg" : "png";
    const QStringList args{dataset(QStringLiteral("vortices"), {1000, 1000}), "--view", "evenly", "--dsep", "3", "-o",
                           workDir().filePath(QStringLiteral("evenly.") + QLatin1String(format))};
    timed(state, std::string("evenly process ") + format, [&] { runTool(args); });
}

void BM_EvenlyOutput(benchmark::State &state)
{
    const bool svg = state.range(0) != 0;
    const DatasetResult loaded = loadDataset(dataset(QStringLiteral("vortices"), {1000, 1000}));
    const Volume *grid = &loaded.dataset->grid();
    pipeline::StreamSettings s;
    s.evenly = true;
    s.dSep = 3.0f;
    const pipeline::StreamRun run = pipeline::seedStreamlines(*grid, s);
    const QString out = workDir().filePath(svg ? "stage.svg" : "stage.png");
    QString error;
    timed(state, svg ? "evenly output svg" : "evenly output png", [&] {
        if (svg) {
            output::writeSvg(out, run.size, QString(), [&](QPainter &painter) {
                painter.fillRect(QRect(QPoint(0, 0), run.size), Qt::black);
                painter.translate(0.5, 0.5);
                paintStreamlines(painter, pipeline::vectorPolylines(run, *grid), false);
            }, &error);
        } else {
            QImage image = blankStreamlineImage(run.size);
            paintPolylines(image, run.polylines, false);
            output::writePng(out, image, &error);
        }
    });
    state.counters["lines"] = double(run.lines.size());
}

// 0: `true`, 1: the evenly spaced lines at Dsep 10, 2: the arrow plot with --fit.
void BM_WholeProcess(benchmark::State &state)
{
    const QString vortices = dataset(QStringLiteral("vortices"), {1000, 1000});
    switch (state.range(0)) {
    case 0:
        wholeProcess(state, "whole true", QStringLiteral("true"), {});
        break;
    case 1:
        wholeProcess(state, "whole evenly", QStringLiteral(TESSALY_RENDER),
                     {vortices, "--view", "evenly", "--dsep", "10", "-o", workDir().filePath("whole-evenly.png")});
        break;
    default:
        wholeProcess(state, "whole arrows", QStringLiteral(TESSALY_RENDER),
                     {vortices, "--view", "arrows", "--fit", "-o", workDir().filePath("whole-arrows.png")});
    }
}

// Args: Dsep, scale, format (0 png, 1 svg, 2 pdf).
void BM_FigureProcess(benchmark::State &state)
{
    static const char *const formats[] = {"png", "svg", "pdf"};
    const QString dsep = QString::number(state.range(0));
    const QString scale = QString::number(state.range(1));
    const char *format = formats[state.range(2)];
    const QStringList args{dataset(QStringLiteral("vortices"), {1000, 1000}), "--view", "evenly", "--dsep", dsep,
                           "--color-by", "speed", "--antialias", "--scale", scale, "-o",
                           workDir().filePath(QStringLiteral("figure.") + QLatin1String(format))};
    timed(state, "figure " + dsep.toStdString() + " " + scale.toStdString() + " " + format, [&] { runTool(args); });
}

} // namespace

BENCHMARK(BM_ArrowsInProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ArrowsProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EvenlyProcess)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EvenlyOutput)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WholeProcess)->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FigureProcess)
    ->ArgsProduct({{30, 3}, {1}, {0}})
    ->ArgsProduct({{30, 3}, {4}, {0, 1, 2}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto ms = [](const char *k) { return gSeconds[k] * 1e3; };
    std::printf("\noverhead of the process (limit 100 ms): %.1f ms (process %.1f ms, in process %.1f ms)\n",
                ms("arrows process") - ms("arrows in process"), ms("arrows process"), ms("arrows in process"));
    std::printf("svg/png, whole processes (limit 2): %.2f (%.0f ms / %.0f ms)\n",
                gSeconds["evenly process svg"] / gSeconds["evenly process png"], ms("evenly process svg"),
                ms("evenly process png"));
    std::printf("svg/png, output stage alone: %.2f (%.0f ms / %.0f ms)\n",
                gSeconds["evenly output svg"] / gSeconds["evenly output png"], ms("evenly output svg"),
                ms("evenly output png"));
    for (const char *what : {"evenly", "arrows"}) {
        const std::string k = std::string("whole ") + what;
        std::printf("whole process, %s (limit %s ms): wall %.1f ms, CPU %.1f ms; less `true` (wall %.1f ms, CPU %.1f "
                    "ms): wall %.1f ms, CPU %.1f ms\n",
                    what, std::strcmp(what, "evenly") == 0 ? "100" : "80", gSeconds[k] * 1e3, gSeconds[k + " cpu"] * 1e3,
                    ms("whole true"), gSeconds["whole true cpu"] * 1e3, (gSeconds[k] - gSeconds["whole true"]) * 1e3,
                    (gSeconds[k + " cpu"] - gSeconds["whole true cpu"]) * 1e3);
    }
    for (const char *dsep : {"30", "3"}) {
        const auto f = [&](const char *scale, const char *format) {
            return gSeconds[std::string("figure ") + dsep + " " + scale + " " + format];
        };
        std::printf("figure, Dsep %s: scale 4 / scale 1, PNG (limit 2): %.2f (%.0f ms / %.0f ms); at scale 4, "
                    "PDF / PNG (limit 1.5): %.2f (%.0f ms), SVG / PNG (limit 1.5): %.2f (%.0f ms)\n",
                    dsep, f("4", "png") / f("1", "png"), f("4", "png") * 1e3, f("1", "png") * 1e3,
                    f("4", "pdf") / f("4", "png"), f("4", "pdf") * 1e3, f("4", "svg") / f("4", "png"),
                    f("4", "svg") * 1e3);
    }
    return 0;
}
