// The streamlines as data: the tool's seeding run (tools/render/Pipeline, on the core's
// StreamlineRuns) and its data lines, in index or world coordinates.

#include "python/src/AdapterPrivate.h"

#include "data/SinglePrecision.h"
#include "data/Volume.h"

#include <chrono>
#include <cmath>

namespace tessalypy {

namespace {

// The ranges and messages of tessaly-render's options, named as the Python arguments.
double checkNumber(const char *name, double v, double lo, double hi)
{
    if (!std::isfinite(v) || v < lo || v > hi)
        throw ValueError(std::string(name) + " " + number(v) + ": expected a number from " + number(lo) + " to "
                         + number(hi));
    return v;
}

int checkWhole(const char *name, long long v, int hi)
{
    if (v < 1 || v > hi)
        throw ValueError(std::string(name) + " " + std::to_string(v) + ": expected a whole number from 1 to "
                         + std::to_string(hi));
    return int(v);
}

int method(const std::string &m)
{
    if (m == "euler")
        return Euler;
    if (m == "rk" || m == "runge-kutta")
        return RungeKutta;
    throw ValueError("method " + m + ": expected euler or rk");
}

Lines toLines(const QVector<Streamline> &lines, const Volume &loaded, Coords coords)
{
    Lines out;
    std::size_t n = 0;
    for (const Streamline &l : lines)
        n += std::size_t(l.size());
    out.xy.reserve(2 * n);
    out.offsets.reserve(std::size_t(lines.size()) + 1);
    for (const Streamline &l : lines) {
        for (const Vector3 &p : l) {
            if (coords == Coords::World) {
                // tessaly-render's CSV: world_x, world_y of the index position.
                const Vector3 w = loaded.getWorldPos(p.x, p.y);
                out.xy.push_back(w.x);
                out.xy.push_back(w.y);
            } else {
                out.xy.push_back(p.x);
                out.xy.push_back(p.y);
            }
        }
        out.offsets.push_back(out.xy.size() / 2);
    }
    return out;
}

// Seeds given as x, y pairs in `coords`, as index positions.
QVector<Vector3> indexSeeds(const Volume &loaded, const std::vector<double> &seeds, Coords coords)
{
    // World positions into index space: the inverse of getWorldPos, with its scales.
    const double sx = loaded.getWorldPos(1.0, 0.0).x - loaded.getWorldPos(0.0, 0.0).x;
    const double sy = loaded.getWorldPos(0.0, 1.0).y - loaded.getWorldPos(0.0, 0.0).y;
    QVector<Vector3> out;
    out.reserve(int(seeds.size() / 2));
    for (std::size_t k = 0; k + 1 < seeds.size(); k += 2) {
        double x = seeds[k], y = seeds[k + 1];
        if (coords == Coords::World) {
            x = sx != 0.0 ? (x - loaded.mMinPos.x) / sx : 0.0;
            y = sy != 0.0 ? (y - loaded.mMinPos.y) / sy : 0.0;
        }
        out.append(Vector3(x, y, 0.0));
    }
    return out;
}

} // namespace

pipeline::StreamSettings streamSettings(const LineSettings &l, bool evenly)
{
    pipeline::StreamSettings s;
    s.evenly = evenly;
    s.method = method(l.method);
    s.dt = checkNumber("dt", l.dt, 0.0, 7.5);
    if (!(s.dt > 0.0))
        throw ValueError("dt " + number(l.dt) + ": the step must be above 0");
    if (!evenly) {
        s.maxLength = checkWhole("max_length", l.maxLength, 100000);
        return s;
    }
    s.dSep = roundToSingle(checkNumber("dsep", l.dSep, 1, 100));
    s.dTest = roundToSingle(checkNumber("dtest", l.dTest, 0.01, 1));
    s.maxSeeds = checkWhole("max_seeds", l.maxSeeds, 1000000);
    s.maxSteps = checkWhole("max_steps", l.maxSteps, 100000);
    return s;
}

Lines evenlySpaced(const Dataset &d, const LineSettings &l, Coords coords, double *seedingSeconds)
{
    const pipeline::StreamSettings s = streamSettings(l, true);
    Quiet quiet;
    const auto start = std::chrono::steady_clock::now();
    const pipeline::StreamRun run = pipeline::seedStreamlines(*d.grid, s);
    if (seedingSeconds)
        *seedingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return toLines(pipeline::dataLines(run, *d.grid), *d.loaded, coords);
}

Lines worldLines(const Dataset &d, const Lines &index)
{
    Lines out = index;
    for (std::size_t k = 0; k + 1 < out.xy.size(); k += 2) {
        const Vector3 w = d.loaded->getWorldPos(index.xy[k], index.xy[k + 1]);
        out.xy[k] = w.x;
        out.xy[k + 1] = w.y;
    }
    return out;
}

Lines streamlines(const Dataset &d, const std::vector<double> *seeds, const LineSettings &l, Coords coords)
{
    const pipeline::StreamSettings s = streamSettings(l, false);
    Quiet quiet;
    // Given seeds are traced as they are; the view's seed grid only without them.
    const QVector<Vector3> from = seeds ? indexSeeds(*d.loaded, *seeds, coords) : pipeline::seedStreamlines(*d.grid, s).seeds;
    return toLines(pipeline::regularLines(from, s, *d.grid), *d.loaded, coords);
}

} // namespace tessalypy
