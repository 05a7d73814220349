#include "streamlines/EvenlySpacedSeeding.h"

#include "data/CFormat.h"
#include "data/Volume.h"
#include "streamlines/EvenlySpacedTrace.h"
#include "streamlines/Integrate.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

using namespace seedingMath;

namespace {

const Vector3 kNoSeed(-1.0, -1.0, -1.0);

// The turn of Vector3::rotateZ by a fixed angle, with its cosine and sine worked out once:
// the seed search turns two directions per segment and the two library calls per turn
// would cost more than the rest of the search. Rotating (1, 0, 0) yields exactly
// (cos, sin) (the other terms are products with zero), and apply() repeats rotateZ's
// arithmetic term by term, so the results are bit for bit those of rotateZ.
struct Turn
{
    double c = 0.0;
    double s = 0.0;

    explicit Turn(double degrees)
    {
        Vector3 e(1.0, 0.0, 0.0);
        e.rotateZ(degrees);
        c = e.x;
        s = e.y;
    }

    Vector3 apply(const Vector3 &v) const
    {
        const double nx = c * v.x - s * v.y;
        const double ny = c * v.y + s * v.x;
        return Vector3(std::clamp(nx, -1.0, 1.0), std::clamp(ny, -1.0, 1.0), v.z);
    }
};

const Turn &minus90()
{
    static const Turn t(-90.0);
    return t;
}

const Turn &plus90()
{
    static const Turn t(90.0);
    return t;
}

bool finite(const Vector3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A step from a grid point moves: its flow direction is finite and not zero.
bool hasFlow(const Volume &field, int x, int y)
{
    const Vector3 d = flowDirection(field, x, y, 0.0);
    return finite(d) && !(d.x == 0.0 && d.y == 0.0 && d.z == 0.0);
}

// The first seed (10, 10, 0), unless it lies inside the field where the flow is missing or
// zero: a line from there is that point alone, and the run would place nothing (a dataset
// whose corner is land, a stagnation point). The nearest grid point with flow is taken
// instead, ties to the lower y, then the lower x; (10, 10) stays when no point has flow.
// Searched in square rings around (10, 10): a point on ring r is at least r away, so the
// search ends with the first ring beyond the best distance found.
Vector3 firstSeedOn(const Volume &field)
{
    constexpr int c = 10;
    const Vector3 fixed(c, c, 0.0);
    if (!field.isInside(c, c, 0.0) || hasFlow(field, c, c))
        return fixed;
    const int w = field.getDimX();
    const int h = field.getDimY();
    const int maxRing = std::max({c, w - 1 - c, h - 1 - c});
    long long best = -1;
    int bestX = c, bestY = c;
    for (int r = 1; r <= maxRing && (best < 0 || (long long)r * r <= best); ++r) {
        for (int y = std::max(c - r, 0); y <= std::min(c + r, h - 1); ++y) {
            const bool fullRow = y == c - r || y == c + r;
            for (int x = c - r; x <= c + r; x += fullRow ? 1 : 2 * r) {
                if (x < 0 || x >= w)
                    continue;
                const long long d2 = (long long)(x - c) * (x - c) + (long long)(y - c) * (y - c);
                const bool better = best < 0 || d2 < best || (d2 == best && (y < bestY || (y == bestY && x < bestX)));
                if (better && hasFlow(field, x, y)) {
                    best = d2;
                    bestX = x;
                    bestY = y;
                }
            }
        }
    }
    return best < 0 ? fixed : Vector3(bestX, bestY, 0.0);
}

} // namespace

void EvenlySpacedSeeding::reset(const Parameters &parameters)
{
    mParameters = parameters;
    mSeedPoints.clear();
    mEvenLines.clear();
    mQueue.clear();
    // A regular run leaves no grid: it would index points that are gone.
    mTest.clear();
    // Single-precision arithmetic throughout, as the sizes are kept: it decides the column
    // count where w / dSep is a whole number (549 / 61: 9 columns here, 10 in double).
    const float perCell = 1.0f / parameters.dSep;
    const float w = static_cast<float>(parameters.viewWidth) * perCell + 1.0f;
    const float h = static_cast<float>(parameters.viewHeight) * perCell + 1.0f;
    // A separation of 0 or one below float range would give no sensible grid; run()
    // refuses a NaN size.
    const bool usable = std::isfinite(w) && std::isfinite(h) && std::fabs(w) < 1e30 && std::fabs(h) < 1e30;
    mGridWidth = usable ? w : NAN;
    mGridHeight = usable ? h : NAN;
}

// The set-up of an evenly spaced run: a new, empty separation grid for the field, or false
// (with the console's reason) when there is no field or no usable grid.
bool EvenlySpacedSeeding::startGrid(const Volume *grid)
{
    if (!grid || grid->pointCount() == 0) {
        qDebug() << "No dataset loaded: no evenly spaced streamlines";
        return false;
    }
    const float w = mGridWidth;
    const float h = mGridHeight;
    const double side = mParameters.dSep;
    // The cells must have a positive, finite side for points to fall into them.
    if (!(w >= 0.0f && h >= 0.0f && w <= SeparationGrid::kMaxCells && h <= SeparationGrid::kMaxCells
          && double(int(w)) * double(int(h)) <= SeparationGrid::kMaxCells && side > 0.0 && std::isfinite(side))) {
        qDebug() << "Dsep" << consoleNumber(mParameters.dSep) << "gives no usable separation grid: no evenly spaced streamlines";
        return false;
    }
    mTest.start(side, int(w), int(h), double(mParameters.dTest) * side, mParameters.dt);
    return true;
}

void EvenlySpacedSeeding::run(const Volume *grid)
{
    mVolume = nullptr;
    mSeedPoints.clear();
    mEvenLines.clear();
    mQueue.clear();
    mTest.clear();
    if (!startGrid(grid))
        return;
    mVolume = grid;

    const Vector3 firstSeed = firstSeedOn(*grid);
    qDebug() << "Initail SP:" << int(firstSeed.x) << int(firstSeed.y);
    mSeedPoints.append(firstSeed);
    Streamline current = traceStreamline(firstSeed);
    mQueue.append(current);
    qDebug() << "Enqueued 1st streamline";

    // The grid only gains points during a run, so a candidate rejected once stays rejected:
    // searching the same line again may start where the last search found its seed and
    // still finds the same candidate as a search from the first segment.
    SearchPosition position;
    bool lastPass = false;
    for (;;) {
        if (mSeedPoints.size() >= mParameters.maxSeeds || points().size() >= kMaxPoints)
            lastPass = true;
        const Vector3 candidate = searchFrom(current, position);
        qDebug() << "SP generated at:" << consoleNumber(candidate.x) << consoleNumber(candidate.y);
        mEvenLines.append(current);
        if (grid->isInside(candidate.x, candidate.y, candidate.z)) {
            qDebug() << "found valid SP at:" << consoleNumber(candidate.x) << consoleNumber(candidate.y);
            mSeedPoints.append(candidate);
            mQueue.append(traceStreamline(candidate));
        } else if (mQueue.isEmpty()) {
            qDebug() << "the queue is empty!";
            lastPass = true;
        } else {
            current = mQueue.takeFirst();
            position = SearchPosition();
            qDebug() << "queue count:" << mQueue.size();
        }
        qDebug() << mSeedPoints.size() << ": Seedpoints";
        if (lastPass)
            break;
    }
    if (mParameters.writeLog)
        mTest.grid()->writeLog();
    mVolume = nullptr;
}

Streamline EvenlySpacedSeeding::traceStreamline(Vector3 seed)
{
    const Volume *field = mVolume;
    if (!field || !field->isInside(seed.x, seed.y, seed.z))
        return Streamline{seed};

    // Both halves are traced before any point is stored: a line never stops at its own
    // points.
    const HalfTraceSettings settings{mParameters.method, mParameters.maxSteps, mParameters.stopAtRest,
                                     mParameters.dTest * mParameters.dSep, mParameters.dSep};
    const double dt = mParameters.dt;
    traceHalf(*field, mTest, settings, seed, dt * -1.0, mBackward);
    traceHalf(*field, mTest, settings, seed, dt, mForward);

    // From the end of the backward half through the seed to the end of the forward half.
    const qsizetype backward = qsizetype(mBackward.size());
    Streamline line(backward + 1 + qsizetype(mForward.size()));
    Vector3 *out = line.data();
    std::reverse_copy(mBackward.begin(), mBackward.end(), out);
    out[backward] = seed;
    std::copy(mForward.begin(), mForward.end(), out + backward + 1);
    mTest.store(line);
    return line;
}

bool EvenlySpacedSeeding::flowMissingAt(const Vector3 &c) const
{
    // Only called for candidates inside the field (they passed the separation test).
    return !finite(flowDirection(*mVolume, c.x, c.y, c.z));
}

Vector3 EvenlySpacedSeeding::findSeedPoint(Streamline line)
{
    SearchPosition position;
    return searchFrom(line, position);
}

// The first search of a run looks beside the first segment only, and both of its candidates
// keep the z of a + d * dSep.
Vector3 EvenlySpacedSeeding::firstSearch(const Streamline &line) const
{
    const float dSep = mParameters.dSep;
    if (line.size() < 2)
        return kNoSeed;
    const Vector3 &a = line.at(0);
    const Vector3 dir = (line.at(1) - a).normalized();
    const Vector3 below = a + minus90().apply(dir) * double(dSep);
    if (isValidPoint(below.x, below.y, below.z, dSep) && !flowMissingAt(below))
        return below;
    const Vector3 above = a + plus90().apply(dir) * double(dSep);
    if (isValidPoint(above.x, above.y, above.z, dSep) && !flowMissingAt(above))
        return above;
    return kNoSeed;
}

Vector3 EvenlySpacedSeeding::searchFrom(const Streamline &line, SearchPosition &position)
{
    if (mEvenLines.isEmpty())
        return firstSearch(line);
    const qsizetype last = line.size() - 1;
    const Candidate found = searchSegments(line, position, last);
    if (found.accepted) {
        position = found.at;
        qDebug() << consoleNumber(found.position.x) << consoleNumber(found.position.y) << " is valid as new seedpoint.";
        return found.position;
    }
    position = SearchPosition{int(std::max<qsizetype>(last, 0)), 0};
    return kNoSeed;
}

EvenlySpacedSeeding::Candidate EvenlySpacedSeeding::searchSegments(const Streamline &line, SearchPosition from,
                                                                   qsizetype end)
{
    const Volume *field = mVolume;
    if (!field)
        return {};
    const float dSep = mParameters.dSep;
    const double side = dSep;
    const auto accepted = [&](const Vector3 &c, int sideIndex) __attribute__((always_inline)) {
        return mTest.seedIsClear(*field, c, sideIndex, dSep) && !flowMissingAt(c);
    };
    mTest.forgetWitnesses();
    const Turn &below = minus90();
    const Turn &above = plus90();
    for (qsizetype k = from.segment; k < end; ++k) {
        // A segment from and to the point the one before started from (a trace standing
        // still) has that segment's candidates, which were rejected, and the grid has not
        // changed since.
        if (k > from.segment && samePosition(line.at(k), line.at(k - 1)) && samePosition(line.at(k + 1), line.at(k)))
            continue;
        const Vector3 &a = line.at(k);
        // Vector3::normalized(), inline: the same operations in the same order.
        const Vector3 dir = integration::unitDirection(line.at(k + 1) - a);
        if (k > from.segment || from.side == 0) {
            const Vector3 d = below.apply(dir);
            const Vector3 c = a + d * side;
            if (accepted(c, 0))
                return {c, SearchPosition{int(k), 0}, true};
        }
        const Vector3 d = above.apply(dir);
        const Vector3 c(a.x + d.x * side, a.y + d.y * side, 0.0);
        if (accepted(c, 1))
            return {c, SearchPosition{int(k), 1}, true};
    }
    return {};
}
