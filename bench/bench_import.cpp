// tessaly-import on a 2000 x 2000 NetCDF field (float u, v and pressure on 1-D coordinates,
// a descending latitude, a few fill values, two steps of an unlimited time dimension) in the
// classic (64-bit offset, record variables) and the NetCDF-4 format, against Tessaly's own
// load of the pair it writes; and the importer's peak memory (as a separate process)
// against the pair's size.
//
// Times are CPU seconds of this process (user + system, every thread), which a busy machine
// disturbs less than wall time. The summary prints import / load (goal <= 2) for the loader
// alone (Volume::load) and for loadDataset (load and resampling, what the views wait for),
// and peak resident memory / output bytes (goal <= 2).

#include "data/Dataset.h"
#include "data/Volume.h"
#include "tools/import/GridChecks.h"
#include "tools/import/ImportGrid.h"
#include "tools/import/NetcdfReader.h"

#include <benchmark/benchmark.h>
#include <netcdf.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>

#include <cmath>
#include <cstdio>
#include <vector>

extern char **environ;

namespace {

constexpr int kN = 2000;
constexpr int kSteps = 2;
enum Format { Classic, Netcdf4, kFormats };
const char *const kFormatNames[] = {"classic", "NetCDF-4"};
double gImport[kFormats] = {}, gLoad = 0, gLoadDataset = 0;

QTemporaryDir &workDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tessaly-import-bench-XXXXXX"));
    return dir;
}

double cpuSeconds()
{
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

QString inputPath(int format)
{
    return workDir().filePath(format == Classic ? QStringLiteral("field.nc") : QStringLiteral("field4.nc"));
}

bool writeInput(int format, const QString &path)
{
    int nc, dT, dY, dX, vT, vY, vX, vU, vV, vP;
    if (nc_create(qPrintable(path), NC_CLOBBER | (format == Classic ? NC_64BIT_OFFSET : NC_NETCDF4), &nc) != NC_NOERR)
        return false;
    nc_def_dim(nc, "time", NC_UNLIMITED, &dT);
    nc_def_dim(nc, "lat", kN, &dY);
    nc_def_dim(nc, "lon", kN, &dX);
    nc_def_var(nc, "time", NC_DOUBLE, 1, &dT, &vT);
    nc_def_var(nc, "lat", NC_DOUBLE, 1, &dY, &vY);
    nc_def_var(nc, "lon", NC_DOUBLE, 1, &dX, &vX);
    const int dims[] = {dT, dY, dX};
    nc_def_var(nc, "u", NC_FLOAT, 3, dims, &vU);
    nc_def_var(nc, "v", NC_FLOAT, 3, dims, &vV);
    nc_def_var(nc, "msl", NC_FLOAT, 3, dims, &vP);
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
    for (std::size_t t = 0; t < kSteps; ++t) {
        const double hours = 6.0 * double(t);
        const std::size_t one = 1;
        nc_put_vara_double(nc, vT, &t, &one, &hours);
        for (std::size_t k = 0; k < u.size(); ++k) {
            const double x = double(k % kN) / kN, y = double(k / kN) / kN;
            u[k] = k % 97 == 0 ? fill : float(10 * std::sin(6.28 * y + double(t)));
            v[k] = float(5 * std::cos(6.28 * x));
            p[k] = float(1000 + 30 * x * y);
        }
        const std::size_t start[] = {t, 0, 0}, count[] = {1, kN, kN};
        nc_put_vara_float(nc, vU, start, count, u.data());
        nc_put_vara_float(nc, vV, start, count, v.data());
        nc_put_vara_float(nc, vP, start, count, p.data());
    }
    return nc_close(nc) == NC_NOERR;
}

QString output() { return workDir().filePath(QStringLiteral("field.gri")); }

// The steps of tessaly-import INPUT OUT.gri, without its command line and summary.
bool importOnce(int format)
{
    using namespace tessimport;
    Grid g;
    ScalarMapping m;
    QString error;
    return readNetcdf(inputPath(format), {}, g, error) && orient(g).isEmpty() && positionProblem(g).isEmpty()
           && missingFlow(g) < g.points() && scalarMapping(g, false, 0, 0, m, error)
           && writeDataset(g, m, 1.0, output(), error, inputPath(format));
}

void BM_Import(benchmark::State &state)
{
    const int format = int(state.range(0));
    state.SetLabel(kFormatNames[format]);
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        if (!importOnce(format))
            state.SkipWithError("import failed");
        const double s = cpuSeconds() - t0;
        state.SetIterationTime(s);
        gImport[format] += s / double(state.max_iterations);
    }
}

void BM_Load(benchmark::State &state)
{
    if (!QFile::exists(output()))
        importOnce(Classic);
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        Volume v;
        v.load(output());
        benchmark::DoNotOptimize(v.pointCount());
        const double s = cpuSeconds() - t0;
        state.SetIterationTime(s);
        gLoad += s / double(state.max_iterations);
    }
}

void BM_LoadDataset(benchmark::State &state)
{
    if (!QFile::exists(output()))
        importOnce(Classic);
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        const DatasetResult r = loadDataset(output());
        benchmark::DoNotOptimize(r.dataset.get());
        const double s = cpuSeconds() - t0;
        state.SetIterationTime(s);
        gLoadDataset += s / double(state.max_iterations);
    }
}

// Manual time = CPU seconds (see the top).
BENCHMARK(BM_Import)->Arg(Classic)->Arg(Netcdf4)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDataset)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

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

double ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    if (argc == 4 && QByteArray(argv[1]) == "--write-input") {
        // The inputs are made in a child of their own, so that their arrays never count in
        // this process's peak (see runPeak).
        return writeInput(QByteArray(argv[2]).toInt(), QFile::decodeName(argv[3])) ? 0 : 1;
    }
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    for (int f = 0; f < kFormats; ++f) {
        char *args[] = {const_cast<char *>(self.constData()), const_cast<char *>("--write-input"), nullptr, nullptr, nullptr};
        const QByteArray which = QByteArray::number(f), path = QFile::encodeName(inputPath(f));
        args[2] = const_cast<char *>(which.constData());
        args[3] = const_cast<char *>(path.constData());
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args, environ) != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)
            || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_import: cannot write the %s input field\n", kFormatNames[f]);
            return 1;
        }
    }
    const long long peak = runPeak(QByteArrayLiteral(TESSALY_IMPORT_BIN), QFile::encodeName(inputPath(Classic)),
                                   QFile::encodeName(workDir().filePath(QStringLiteral("cmd.gri"))));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double outBytes = double(QFileInfo(output()).size() + QFileInfo(workDir().filePath(QStringLiteral("field.00000.dat"))).size());
    std::printf("\n%d x %d NetCDF field, CPU ms: load of the written pair %.0f, loadDataset %.0f\n", kN, kN, gLoad * 1e3,
                gLoadDataset * 1e3);
    for (int f = 0; f < kFormats; ++f)
        std::printf("import %-8s %.0f ms: / load %.2f, / loadDataset %.2f (goal <= 2)\n", kFormatNames[f], gImport[f] * 1e3,
                    ratio(gImport[f], gLoad), ratio(gImport[f], gLoadDataset));
    std::printf("tessaly-import peak resident memory %.1f MB, output %.1f MB: ratio %.2f (goal <= 2)\n", peak / 1048576.0,
                outBytes / 1048576.0, ratio(double(peak), outBytes));
    return 0;
}
