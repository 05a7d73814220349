#include "streamlines/EvenlySpacedSeeding.h"

#include "data/CFormat.h"
#include "streamlines/Integrate.h"
#include "streamlines/PointIndex.h"
#include "data/Volume.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

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

// floor(v) as an int cell number; values beyond the int range saturate, so a position far
// outside the grid still names a cell outside it (and is reported by addPoint).
int cellNumber(double v)
{
    const double f = floorOf(v);
    if (f >= 2147483647.0)
        return INT_MAX;
    if (f >= -2147483648.0)
        return int(f);
    return INT_MIN; // also NaN
}

// Bit for bit the same position (also in the sign of a zero), so every computation that
// starts from it gives the same bits.
bool samePosition(const Vector3 &a, const Vector3 &b)
{
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0;
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

EvenlySpacedSeeding::EvenlySpacedSeeding(QVector<Vector3> &seedPoints, QVector<Streamline> &evenLines)
    : mSeedPoints(seedPoints), mEvenLines(evenLines)
{
}

void EvenlySpacedSeeding::reset(const Parameters &parameters)
{
    mParameters = parameters;
    mQueue.clear();
    mPoints.clear();
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

const Volume *EvenlySpacedSeeding::volume() const
{
    return mVolume;
}

void EvenlySpacedSeeding::run(const Volume *grid)
{
    mVolume = nullptr;
    mSeedPoints.clear();
    mEvenLines.clear();
    mQueue.clear();
    mPoints.clear();

    if (!grid || grid->pointCount() == 0) {
        qDebug() << "No dataset loaded: no evenly spaced streamlines";
        mGrid.reset();
        return;
    }
    const float w = mGridWidth;
    const float h = mGridHeight;
    if (!(w >= 0.0f && h >= 0.0f && w <= SeparationGrid::kMaxCells && h <= SeparationGrid::kMaxCells
          && double(int(w)) * double(int(h)) <= SeparationGrid::kMaxCells)) {
        qDebug() << "Dsep" << consoleNumber(mParameters.dSep) << "gives no usable separation grid: no evenly spaced streamlines";
        mGrid.reset();
        return;
    }

    mVolume = grid;
    std::unique_ptr<SeparationGrid> previous = std::move(mGrid);
    mGrid = std::make_unique<SeparationGrid>();
    if (previous)
        mGrid->reuseStorageOf(*previous);
    previous.reset();
    mGrid->setSize(int(w), int(h));
    startIndex();

    const Vector3 firstSeed = firstSeedOn(*grid);
    qDebug() << "Initail SP:" << int(firstSeed.x) << int(firstSeed.y);
    mSeedPoints.append(firstSeed);
    Streamline current = traceStreamline(firstSeed);
    mQueue.append(current);
    qDebug() << "Enqueued 1st streamline";

    // The grid only gains points during a run, so a candidate rejected once stays rejected:
    // searching the same line again may start where the last search found its seed and
    // still finds the same candidate as a search from the first segment. (No index in the
    // grid can be out of bounds during a run, so skipped tests would print nothing.)
    SearchPosition position;
    bool lastPass = false;
    for (;;) {
        if (mSeedPoints.size() >= mParameters.maxSeeds || mPoints.size() >= kMaxPoints)
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
        mGrid->writeLog();
    mVolume = nullptr;
}

bool EvenlySpacedSeeding::isValidPoint(double x, double y, double z, float minDistance) const
{
    return probe(x, y, z, minDistance) == kValid;
}

int EvenlySpacedSeeding::probe(double x, double y, double z, float minDistance) const
{
    const Volume *field = volume();
    if (!field || !field->isInside(x, y, z))
        return kInvalid;
    const SeparationGrid *grid = mGrid.get();
    if (!grid)
        return kValid;
    const double side = mParameters.dSep;
    // Stray indices are reported in the grid's order, and the shortcuts below assume a
    // positive cell side: anything unusual walks the cells in their order, messages included.
    if (!grid->indicesBelow(mPoints.size()) || !(side > 0.0) || !std::isfinite(side))
        return isValidPointByWalk(x, y, z, minDistance) ? kValid : kInvalid;
    // Without stray indices the answer is whether any point of the 3 x 3 cells lies closer
    // than minDistance, whatever the order they are looked at in.
    int closer = PointIndex::kUndecided;
    if (mIndex.revision == grid->revision() && mIndex.side() == side)
        closer = mIndex.closerPoint(x, y, z, minDistance, mPoints.constData());
    // Where the index cannot decide, the grid's cells decide: never accept unseen.
    if (closer == PointIndex::kUndecided)
        closer = closerPointInGrid(x, y, z, minDistance);
    return closer >= 0 ? closer : kValid;
}

int EvenlySpacedSeeding::closerPointInGrid(double x, double y, double z, float minDistance) const
{
    const SeparationGrid &grid = *mGrid;
    const double side = mParameters.dSep;
    const double fcx = floorOf(x / side);
    const double fcy = floorOf(y / side);
    const double m = minDistance;
    const double m2 = m * m;
    // A cell is passed over only when its gap exceeds minDistance by far more than the
    // rounding of a distance: none of its points can then be closer.
    const double reach = m2 * (1.0 + seedingMargins::kReach);
    const double tol = boundsTolerance(x, y, side);
    const auto square = [](double v) { return v * v; };

    const Vector3 *points = mPoints.constData();
    for (int oi = -1; oi <= 1; ++oi) {
        const double ci = fcx + oi;
        if (!(ci >= 0.0 && ci < grid.mWidth))
            continue;
        const double gx = square(gap(x, ci * side - tol, (ci + 1.0) * side + tol));
        for (int oj = -1; oj <= 1; ++oj) {
            const double cj = fcy + oj;
            if (!(cj >= 0.0 && cj < grid.mHeight))
                continue;
            if (gx + square(gap(y, cj * side - tol, (cj + 1.0) * side + tol)) >= reach)
                continue;
            const size_t k = size_t(cj) * size_t(grid.mWidth) + size_t(ci);
            int found = -1;
            // index < size: checked by the caller
            if (grid.visitCell(k, [&](int index) { return closer(points[index], x, y, z, m, m2) && (found = index, true); }))
                return found;
        }
    }
    return -1;
}

void EvenlySpacedSeeding::startIndex()
{
    const double side = mParameters.dSep;
    mIndex.start(side, mGrid->mWidth, mGrid->mHeight, double(mParameters.dTest) * side, mParameters.dt);
    mIndex.points = mPoints.size();
    mIndex.revision = mGrid->revision();
}

bool EvenlySpacedSeeding::indexInStep() const
{
    const SeparationGrid *grid = mGrid.get();
    const double side = mParameters.dSep;
    return grid && grid->indicesBelow(mPoints.size()) && side > 0.0 && std::isfinite(side)
           && mIndex.revision == grid->revision() && mIndex.side() == side;
}

namespace {

// Whether the stored point p settles the seed test of c as rejected: closer than m (the
// test's rounding, `m2` = m * m) and, beyond any doubt from rounding, within the 3 x 3 cells
// around c (`room`: the cell side less the bounds tolerance), so the grid walk would meet it.
inline bool rejects(const Vector3 &p, const Vector3 &c, double room, double m, double m2)
{
    return std::fabs(p.x - c.x) < room && std::fabs(p.y - c.y) < room && closer(p, c.x, c.y, c.z, m, m2);
}

} // namespace

bool EvenlySpacedSeeding::neighbourRejects(int &witness, const Vector3 &c, double room, double m) const
{
    // Neighbours by index are points of the same line or the next; every point filed since
    // the index started went into the grid unless its cell lies outside, which is checked
    // (unless no point was left out). Anyone changing the point list or the grid behind the
    // seeding's back ends this (the caller does not ask then; the grid does not change
    // during a search, so the caller finds out once per search).
    const double side = mParameters.dSep;
    const bool allFiled = mIndex.unfiled == 0;
    const int count = int(mPoints.size());
    const Vector3 *points = mPoints.constData();
    for (int k = 1; k <= 3; ++k) {
        for (const int candidate : {witness + k, witness - k}) {
            if (candidate < 0 || candidate >= count)
                continue;
            if (!rejects(points[candidate], c, room, m, m * m))
                continue;
            if (!allFiled) {
                const Vector3 &p = points[candidate];
                const double cx = cellOf(p.x, side, mIndex.inverseSide());
                const double cy = cellOf(p.y, side, mIndex.inverseSide());
                if (!mGrid->isValidCell(cx, cy))
                    continue;
            }
            witness = candidate;
            return true;
        }
    }
    return false;
}

bool EvenlySpacedSeeding::isValidPointByWalk(double x, double y, double z, float minDistance) const
{
    const double side = mParameters.dSep;
    const double cx = std::floor(x / side);
    const double cy = std::floor(y / side);
    QVector<int> indices;
    for (const Vector2 &c : mGrid->getNeighbourCells(cx, cy))
        indices += mGrid->getCell(int(c.x), int(c.y));
    const Vector3 position(x, y, z);
    for (int index : std::as_const(indices)) {
        // Negative indices count as out of bound too: they name no stored point.
        if (index < 0 || index >= mPoints.size()) {
            qDebug() << "INDEX OUT OF BOUND:" << index << " count:" << mPoints.size();
            continue;
        }
        if ((mPoints.at(index) - position).length() < minDistance)
            return false;
    }
    return true;
}

void EvenlySpacedSeeding::halfTrace(const Vector3 &seed, double dt, float minDistance, const Volume *field,
                                    std::vector<Vector3> &out) const
{
    out.clear();
    Vector3 p = seed;
    const int maxSteps = mParameters.maxSteps;
    const bool stopAtRest = mParameters.stopAtRest;
    const auto atRest = [stopAtRest](const Vector3 &from, const Vector3 &to) {
        return stopAtRest && to.x == from.x && to.y == from.y && to.z == from.z;
    };
    if (!indexInStep()) {
        for (int step = 0; step < maxSteps; ++step) {
            if (!field->isInside(p.x, p.y, p.z))
                break;
            const Vector3 q = integrate(p, dt, mParameters.method, field);
            if (atRest(p, q) || !isValidPoint(q.x, q.y, q.z, minDistance))
                break;
            out.push_back(q);
            p = q;
        }
        return;
    }

    // The same trace, with fewer full separation tests. A test that finds every stored
    // point at least D away from q also clears the points that follow q, as long as the
    // path walked since q stays below D - minDistance (the triangle inequality); every
    // step's length is measured, so no assumption on the step is made. Margins of kStep
    // keep rounding on the safe side. Where the clearance is too small to cover a step, the
    // plain test is used for a while (first for 2 steps, doubling up to 64 while it does
    // not pay). A clearance looks no further than `radius`: a step and a quarter (or the
    // test distance) beyond the test distance, where a wider look cost more than the steps
    // it saved on the benchmark fields.
    const double m = minDistance;
    const double radius = m + std::max(m, 1.25 * std::fabs(dt));
    double slack = -1.0;
    int plainTests = 0;
    int backOff = 2;
    const bool knownStep = mParameters.method == Euler || mParameters.method == RungeKutta;
    const bool rungeKutta = mParameters.method == RungeKutta;
    constexpr double e = seedingMargins::kStep;
    const double stepBound = std::fabs(dt) * (1.0 + e);
    // p is inside throughout: the seed was checked by the caller, every later p passed the
    // inside test below.
    for (int step = 0; step < maxSteps; ++step) {
        const Vector3 q = knownStep ? integration::step(p, dt, rungeKutta, *field, true)
                                    : integrate(p, dt, mParameters.method, field);
        if (!field->isInside(q.x, q.y, q.z) || atRest(p, q))
            break;
        // Lines bend slowly, so the step five ahead starts near q + 5 (q - p): its field
        // samples are fetched now. On a field larger than the caches a sample otherwise waits
        // for main memory (about a third of the time per point on a 1000 x 1000 field).
        integration::prefetchSample(*field, q.x + 5.0 * (q.x - p.x), q.y + 5.0 * (q.y - p.y), q.z + 5.0 * (q.z - p.z));
        // Euler and Runge-Kutta steps move by |dt| along a unit (or zero) direction, up to
        // the rounding of the sum; other method codes jump anywhere, so they are measured.
        double moved = stepBound;
        if (!knownStep) {
            const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
            moved = std::sqrt(dx * dx + dy * dy + dz * dz) * (1.0 + e);
        }
        slack -= moved + e * (std::fabs(q.x) + std::fabs(q.y) + std::fabs(q.z));
        if (slack < 0.0) {
            if (plainTests > 0) {
                --plainTests;
                if (mIndex.mayHaveCloser(q.x, q.y, q.z, minDistance, mPoints.constData())
                    && probe(q.x, q.y, q.z, minDistance) != kValid)
                    break;
            } else {
                const double d = mIndex.clearance(q.x, q.y, q.z, minDistance, radius, mPoints.constData());
                if (d < 0.0 && probe(q.x, q.y, q.z, minDistance) != kValid)
                    break;
                slack = d * (1.0 - e) - m * (1.0 + e)
                        - e * (std::fabs(q.x) + std::fabs(q.y) + mParameters.dSep);
                // Crowded surroundings: back off, longer each time it does not pay.
                if (slack < std::fabs(dt)) {
                    plainTests = backOff;
                    backOff = std::min(2 * backOff, 64);
                } else {
                    backOff = 2;
                }
            }
        }
        out.push_back(q);
        // A step that does not move: every later step starts from the same position in the
        // same grid (a line's points enter it only after both halves are traced), so it
        // lands there again and passes the same test. The rest of the half is that point.
        if (samePosition(p, q)) {
            out.insert(out.end(), size_t(maxSteps - step - 1), q);
            return;
        }
        p = q;
    }
}

Streamline EvenlySpacedSeeding::traceStreamline(Vector3 seed)
{
    const Volume *field = volume();
    if (!field || !field->isInside(seed.x, seed.y, seed.z))
        return Streamline{seed};

    const float minDistance = mParameters.dTest * mParameters.dSep;
    // Both halves are traced before any point enters the grid: a line never stops at its
    // own points.
    const double dt = mParameters.dt;
    halfTrace(seed, dt * -1.0, minDistance, field, mBackward);
    halfTrace(seed, dt, minDistance, field, mForward);

    const qsizetype backward = qsizetype(mBackward.size());
    const qsizetype n = backward + 1 + qsizetype(mForward.size());
    Streamline line(n);
    Vector3 *out = line.data();
    std::reverse_copy(mBackward.begin(), mBackward.end(), out);
    out[backward] = seed;
    std::copy(mForward.begin(), mForward.end(), out + backward + 1);

    const qsizetype first = mPoints.size();
    mPoints.append(line.constBegin(), line.constEnd());
    if (mGrid) {
        const double side = mParameters.dSep;
        const double inverse = 1.0 / side;
        SeparationGrid &grid = *mGrid;
        // Each point's cell, and its entry in the grid (-1: outside the grid).
        mLineCells.resize(size_t(3 * n));
        int *cells = mLineCells.data();
        for (qsizetype k = 0; k < n; ++k) {
            if (k > 0 && samePosition(out[k], out[k - 1])) { // a trace standing still
                std::copy(cells + 3 * (k - 1), cells + 3 * k, cells + 3 * k);
                continue;
            }
            const int cx = cellNumber(cellOf(out[k].x, side, inverse));
            const int cy = cellNumber(cellOf(out[k].y, side, inverse));
            const bool inGrid = cx >= 0 && cx < grid.mWidth && cy >= 0 && cy < grid.mHeight;
            cells[3 * k] = cx;
            cells[3 * k + 1] = cy;
            cells[3 * k + 2] = inGrid ? cy * grid.mWidth + cx : -1;
        }
        // Consecutive points in one cell are stored together: store(k, end) for each run
        // [k, end) of them.
        const auto forEachRun = [&](auto &&store) {
            for (qsizetype k = 0; k < n;) {
                const int key = cells[3 * k + 2];
                qsizetype end = k + 1;
                if (key >= 0)
                    while (end < n && cells[3 * end + 2] == key)
                        ++end;
                store(k, end);
                k = end;
            }
        };
        // A fine grid's entries lie far apart in memory: the one an append reads is fetched a
        // few points ahead.
        const auto storeInGrid = [&](qsizetype k, qsizetype end) {
            if (end + 8 < n && cells[3 * (end + 8) + 2] >= 0)
                __builtin_prefetch(grid.tailOf(size_t(cells[3 * (end + 8) + 2])));
            grid.addPoints(cells[3 * k], cells[3 * k + 1], int(first + k), int(end - k));
            if (cells[3 * k + 2] < 0) // outside the grid: not stored
                mIndex.unfiled += end - k;
        };
        const auto fileInIndex = [&](qsizetype k, qsizetype end) {
            if (cells[3 * k + 2] >= 0)
                mIndex.file(out + k, cells[3 * k], cells[3 * k + 1], int(first + k), int(end - k));
        };
        // The index follows the grid only while nobody else changed the grid; it then files
        // what the grid stored.
        const bool indexFollows = mIndex.revision == grid.revision();
        forEachRun([&](qsizetype k, qsizetype end) {
            storeInGrid(k, end);
            if (indexFollows)
                fileInIndex(k, end);
        });
        if (indexFollows)
            mIndex.revision = grid.revision();
    }
    mIndex.points = mPoints.size();
    return line;
}

bool EvenlySpacedSeeding::flowMissingAt(const Vector3 &c) const
{
    // Only called for candidates inside the field (they passed the separation test).
    return !finite(flowDirection(*volume(), c.x, c.y, c.z));
}

Vector3 EvenlySpacedSeeding::findSeedPoint(Streamline line)
{
    SearchPosition position;
    return searchFrom(line, position);
}

Vector3 EvenlySpacedSeeding::searchFrom(const Streamline &line, SearchPosition &position) const
{
    const float dSep = mParameters.dSep;
    const double side = dSep;

    if (mEvenLines.isEmpty()) {
        // The first search of a run looks beside the first segment only, and both of its
        // candidates keep the z of a + d * dSep.
        if (line.size() < 2)
            return kNoSeed;
        const Vector3 &a = line.at(0);
        const Vector3 dir = (line.at(1) - a).normalized();
        const Vector3 below = a + minus90().apply(dir) * side;
        if (isValidPoint(below.x, below.y, below.z, dSep) && !flowMissingAt(below))
            return below;
        const Vector3 above = a + plus90().apply(dir) * side;
        if (isValidPoint(above.x, above.y, above.z, dSep) && !flowMissingAt(above))
            return above;
        return kNoSeed;
    }

    // The rest of the line's segments.
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
                                                                   qsizetype end) const
{
    const float dSep = mParameters.dSep;
    const double side = dSep;
    // Per side, the stored point that ruled out the last candidate there. It often rules out
    // the next candidate on that side too, or one of its neighbours along its line does: the
    // candidates move along beside it, so the neighbour in the direction of its last move
    // (`drift`) is tried first. A point settles the test only where the full test would take
    // the same view (see rejects() and neighbourRejects()). Witnesses come only from regimes
    // without stray indices.
    int witness[2] = {-1, -1};
    int drift[2] = {1, 1};
    const bool neighbours = indexInStep() && mIndex.points == mPoints.size();
    const bool allFiled = mIndex.unfiled == 0;
    const int count = int(mPoints.size());
    const Vector3 *points = mPoints.constData();
    const double m = dSep;
    const double m2 = m * m;
    const auto witnessRejects = [&](const Vector3 &c, int sideIndex) __attribute__((always_inline)) {
        int &w = witness[sideIndex];
        if (w < 0)
            return false;
        const double room = side - boundsTolerance(c.x, c.y, side);
        if (rejects(points[w], c, room, m, m2))
            return true;
        if (!neighbours)
            return false;
        const int ahead = w + drift[sideIndex];
        if (allFiled && ahead >= 0 && ahead < count && rejects(points[ahead], c, room, m, m2)) {
            w = ahead;
            return true;
        }
        const int before = w;
        if (!neighbourRejects(w, c, room, m))
            return false;
        drift[sideIndex] = w > before ? 1 : -1;
        return true;
    };
    const auto accepted = [&](const Vector3 &c, int sideIndex) __attribute__((always_inline)) {
        if (witnessRejects(c, sideIndex))
            return false;
        const int verdict = probe(c.x, c.y, c.z, dSep);
        if (verdict >= 0)
            witness[sideIndex] = verdict;
        return verdict == kValid && !flowMissingAt(c);
    };
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
