// tessaly-import on a 2000 x 2000 NetCDF field (float u, v and pressure on 1-D coordinates,
// a descending latitude, a few fill values) against Tessaly's own load of the pair it
// writes, and the importer's peak memory (as a separate process) against the pair's size.
//
// Prints Google Benchmark's table and a summary: import time / load time (goal <= 3) and
// peak resident memory / output bytes (goal <= 2).

#include "tools/import/ImportGrid.h"
#include "tools/import/NetcdfReader.h"
#include "data/Volume.h"

#include <benchmark/benchmark.h>
#include <netcdf.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

extern char **environ;

namespace {

constexpr int kN = 2000;
double gImport = 0, gLoad = 0;

QTemporaryDir &workDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tessaly-import-bench-XXXXXX"));
    return dir;
}

QString input()
{
    const QString path = workDir().filePath(QStringLiteral("field.nc"));
    if (QFile::exists(path))
        return path;
    int nc, dY, dX, vY, vX, vU, vV, vP;
    nc_create(qPrintable(path), NC_CLOBBER | NC_64BIT_OFFSET, &nc);
    nc_def_dim(nc, "lat", kN, &dY);
    nc_def_dim(nc, "lon", kN, &dX);
    nc_def_var(nc, "lat", NC_DOUBLE, 1, &dY, &vY);
    nc_def_var(nc, "lon", NC_DOUBLE, 1, &dX, &vX);
    const int dims[] = {dY, dX};
    nc_def_var(nc, "u", NC_FLOAT, 2, dims, &vU);
    nc_def_var(nc, "v", NC_FLOAT, 2, dims, &vV);
    nc_def_var(nc, "msl", NC_FLOAT, 2, dims, &vP);
    const float fill = -1e34f;
    for (int v : {vU, vV, vP})
        nc_put_att_float(nc, v, "_FillValue", NC_FLOAT, 1, &fill);
    nc_enddef(nc);
    std::vector<double> lat(kN), lon(kN);
    for (int i = 0; i < kN; ++i) {
        lat[std::size_t(i)] = 89.9 - 0.09 * i; // descending, as many files store it
        lon[std::size_t(i)] = 0.18 * i;
    }
    nc_put_var_double(nc, vY, lat.data());
    nc_put_var_double(nc, vX, lon.data());
    std::vector<float> u(std::size_t(kN) * kN), v(u.size()), p(u.size());
    for (std::size_t k = 0; k < u.size(); ++k) {
        const double x = double(k % kN) / kN, y = double(k / kN) / kN;
        u[k] = k % 97 == 0 ? fill : float(10 * std::sin(6.28 * y));
        v[k] = float(5 * std::cos(6.28 * x));
        p[k] = float(1000 + 30 * x * y);
    }
    nc_put_var_float(nc, vU, u.data());
    nc_put_var_float(nc, vV, v.data());
    nc_put_var_float(nc, vP, p.data());
    nc_close(nc);
    return path;
}

QString output() { return workDir().filePath(QStringLiteral("field.gri")); }

bool importOnce()
{
    using namespace tessimport;
    Grid g;
    ScalarMapping m;
    QString error;
    return readNetcdf(input(), {}, g, error) && orient(g).isEmpty() && scalarMapping(g, false, 0, 0, m, error)
           && writeDataset(g, m, 1.0, output(), error);
}

void BM_Import(benchmark::State &state)
{
    input();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!importOnce())
            state.SkipWithError("import failed");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        gImport += s / double(state.max_iterations);
    }
}

void BM_Load(benchmark::State &state)
{
    if (!QFile::exists(output()))
        importOnce();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Volume v;
        v.load(output());
        benchmark::DoNotOptimize(v.pointCount());
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        gLoad += s / double(state.max_iterations);
    }
}

BENCHMARK(BM_Import)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Runs a program and returns its peak resident memory in bytes (-1 on failure). A spawned
// child's figure includes the peak of the process that spawned it (Linux keeps the larger
// at exec), so this is called while the bench itself is still small.
long long runPeak(const QByteArray &bin, const QByteArray &a1, const QByteArray &a2)
{
    char *argv[] = {const_cast<char *>(bin.constData()), const_cast<char *>(a1.constData()), const_cast<char *>(a2.constData()),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, bin.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    if (argc == 3 && QByteArray(argv[1]) == "--write-input") {
        // The input is made in a child of its own, so that its 48 MB of arrays never count
        // in this process's peak (see runPeak).
        return QFile::rename(input(), QFile::decodeName(argv[2])) ? 0 : 1;
    }
    const QString in = workDir().filePath(QStringLiteral("field.nc"));
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    if (runPeak(self, "--write-input", QFile::encodeName(in)) < 0) {
        std::fprintf(stderr, "bench_import: cannot write the input field\n");
        return 1;
    }
    const long long peak = runPeak(QByteArrayLiteral(TESSALY_IMPORT_BIN), QFile::encodeName(in),
                                   QFile::encodeName(workDir().filePath(QStringLiteral("cmd.gri"))));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double outBytes = double(QFileInfo(output()).size() + QFileInfo(workDir().filePath(QStringLiteral("field.00000.dat"))).size());
    std::printf("\n%d x %d NetCDF field: import %.0f ms, load of the written pair %.0f ms: ratio %.2f (goal <= 3)\n", kN, kN,
                gImport * 1e3, gLoad * 1e3, gLoad > 0 ? gImport / gLoad : 0.0);
    std::printf("tessaly-import peak resident memory %.1f MB, output %.1f MB: ratio %.2f (goal <= 2)\n", peak / 1048576.0,
                outBytes / 1048576.0, outBytes > 0 ? peak / outBytes : 0.0);
    return 0;
}
