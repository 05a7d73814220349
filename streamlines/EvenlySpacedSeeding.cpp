#include "EvenlySpacedSeeding.h"

#include "Integrate.h"
#include "Volume.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>

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

// std::floor without the library call (the baseline x86-64 instruction set has no
// rounding instruction): exact for |v| < 2^52, the library beyond and for NaN.
inline double floorOf(double v)
{
    if (!(std::fabs(v) < 4503599627370496.0))
        return std::floor(v);
    const double t = double(static_cast<long long>(v));
    return t > v ? t - 1.0 : t;
}

// floor(v / side), bit for bit, mostly without the division: v * (1 / side) differs from
// the rounded quotient by a few units in the last place, which can only matter when the
// product lies next to a whole number (or is huge); then the division decides.
double cellOf(double v, double side, double inverse)
{
    const double q = v * inverse;
    const double f = floorOf(q);
    const double frac = q - f;
    if (frac > 1e-7 && frac < 1.0 - 1e-7 && std::fabs(q) < 1e8)
        return f;
    return floorOf(v / side);
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
    return mVolume ? mVolume : gridVolume;
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
        qDebug() << "Dsep" << mParameters.dSep << "gives no usable separation grid: no evenly spaced streamlines";
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
        if (mSeedPoints.size() >= kSeedLimit)
            lastPass = true;
        const Vector3 candidate = searchFrom(current, position);
        qDebug() << "SP generated at:" << candidate.x << candidate.y;
        mEvenLines.append(current);
        if (grid->isInside(candidate.x, candidate.y, candidate.z)) {
            qDebug() << "found valid SP at:" << candidate.x << candidate.y;
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
    const int closer = mIndex.revision == grid->revision() && mIndex.side == side
                           ? closerPointInIndex(x, y, z, minDistance)
                           : closerPointInGrid(x, y, z, minDistance);
    return closer >= 0 ? closer : kValid;
}

namespace {

// Tolerance for the cell bounds below: a point's cell comes from rounded divisions, so the
// edges of a cell are known only to within a few units in the last place of the
// coordinates involved. This is far above that and far below any distance that matters.
double boundsTolerance(double x, double y, double side)
{
    return 1e-9 * (std::fabs(x) + std::fabs(y) + 2.0 * side);
}

// The gap between v and the interval [lo, hi], 0 inside.
double gap(double v, double lo, double hi)
{
    return v < lo ? lo - v : (v > hi ? v - hi : 0.0);
}

// Squared distance with the rounding of Vector3::length(); `limit2` is minDistance squared
// (exact, as minDistance is a float). sqrt(s) < m implies s < m * m, as sqrt is correctly
// rounded and m * m exact, so the root is taken only for points that may be too close.
inline bool closer(const Vector3 &p, double x, double y, double z, double m, double limit2)
{
    const double dx = p.x - x;
    const double dy = p.y - y;
    const double dz = p.z - z;
    const double s = dx * dx + dy * dy + dz * dz;
    return s < limit2 && std::sqrt(s) < m;
}

} // namespace

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
    const double reach = m2 * (1.0 + 1e-9);
    const double tol = boundsTolerance(x, y, side);
    const auto square = [](double v) { return v * v; };

    const QVector<int> *cells = grid.mCells.constData();
    const qsizetype cellCount = grid.mCells.size();
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
            const qsizetype k = qsizetype(cj) * grid.mWidth + qsizetype(ci);
            if (k >= cellCount)
                continue;
            for (int index : cells[k])
                if (closer(points[index], x, y, z, m, m2)) // index < size: checked by the caller
                    return index;
        }
    }
    return -1;
}

void EvenlySpacedSeeding::startIndex()
{
    PointIndex &ix = mIndex;
    ix.side = mParameters.dSep;
    ix.width = mGrid->mWidth;
    ix.height = mGrid->mHeight;
    // Squares about as wide as the test distance of a trace, which every traced point is
    // tested with, but not much narrower than a step: finer squares would mostly be empty.
    const double target = std::max({double(mParameters.dTest) * ix.side, 2.0 * std::fabs(mParameters.dt), 1.0});
    int sub = int(std::clamp(std::round(ix.side / target), 1.0, 16.0));
    while (sub > 1 && qint64(ix.width) * ix.height * sub * sub > (qint64(1) << 22))
        --sub;
    ix.sub = sub;
    ix.subSide = ix.side / sub;
    ix.inverseSide = 1.0 / ix.side;
    ix.inverseSubSide = 1.0 / ix.subSide;
    ix.head.assign(size_t(qint64(ix.width) * ix.height * sub * sub), -1);
    ix.next.clear();
    ix.points = mPoints.size();
    ix.unfiled = 0;
    ix.revision = mGrid->revision();
}

void EvenlySpacedSeeding::fileInIndex(const Vector3 &p, int cx, int cy, int index)
{
    PointIndex &ix = mIndex;
    // Any fixed rule does here: queries allow for rounding at the edges of the squares.
    const auto subCell = [&](double v) {
        const double s = floorOf(v * ix.inverseSubSide);
        return s >= ix.sub - 1 ? ix.sub - 1 : (s >= 0.0 ? int(s) : 0);
    };
    // The square is chosen within the point's grid cell, so squares never straddle cells.
    const int sx = ix.sub == 1 ? 0 : subCell(p.x - cx * ix.side);
    const int sy = ix.sub == 1 ? 0 : subCell(p.y - cy * ix.side);
    const size_t rowLength = size_t(ix.width) * size_t(ix.sub);
    const size_t square = (size_t(cy) * ix.sub + size_t(sy)) * rowLength + size_t(cx) * ix.sub + size_t(sx);
    const int newest = ix.head[square];
    // A point at the very position of the newest one in its square (a line standing still)
    // cannot change any answer.
    if (newest >= 0 && mPoints.at(newest) == p)
        return;
    if (ix.next.size() <= size_t(index))
        ix.next.resize(std::max(size_t(index) + 1, ix.next.size() * 2), -1);
    ix.next[size_t(index)] = newest;
    ix.head[square] = index;
}

namespace {

// A column (or row) of squares of the point index near a query, with its squared gap.
struct Strip
{
    int index;
    double gap2;
};
constexpr int kMaxStrips = 64;

// The squares lo..hi along one axis whose extent comes closer than sqrt(reach2) to v.
// Square j covers [j * size, (j + 1) * size] up to rounding, which `tol` more than covers.
// Returns -1 if more than kMaxStrips would qualify.
int stripsNear(double v, double radius, double size, double inverse, double tol, double lo, double hi,
               double reach2, Strip *out)
{
    // The products below are within a few units in the last place of the quotients, far
    // inside the tolerance.
    const double first = std::max(floorOf((v - radius - tol) * inverse), lo);
    const double last = std::min(floorOf((v + radius + tol) * inverse), hi);
    int n = 0;
    for (double j = first; j <= last; ++j) {
        const double d = gap(v, j * size - tol, (j + 1.0) * size + tol);
        const double d2 = d * d;
        if (d2 < reach2) {
            if (n == kMaxStrips)
                return -1;
            out[n++] = Strip{int(j), d2};
        }
    }
    return n;
}

} // namespace

int EvenlySpacedSeeding::closerPointInIndex(double x, double y, double z, float minDistance) const
{
    const PointIndex &ix = mIndex;
    const double side = ix.side;
    const double fcx = cellOf(x, side, ix.inverseSide);
    const double fcy = cellOf(y, side, ix.inverseSide);
    const double cx0 = std::max(fcx - 1.0, 0.0), cx1 = std::min(fcx + 1.0, ix.width - 1.0);
    const double cy0 = std::max(fcy - 1.0, 0.0), cy1 = std::min(fcy + 1.0, ix.height - 1.0);
    if (!(cx0 <= cx1 && cy0 <= cy1))
        return -1;

    const double m = minDistance;
    const double m2 = m * m;
    const double reach = m2 * (1.0 + 1e-9);
    const double tol = boundsTolerance(x, y, side);
    const Vector3 *points = mPoints.constData();
    const int *head = ix.head.data();
    const int *next = ix.next.data();

    if (ix.sub == 1) {
        // Squares are the grid cells: the 3 x 3 cells directly, each passed over when
        // its gap is out of reach.
        const auto square = [](double v) { return v > 0.0 ? v * v : 0.0; };
        const double gapX[3] = {square(x - fcx * side - tol), 0.0, square((fcx + 1.0) * side - x - tol)};
        const double gapY[3] = {square(y - fcy * side - tol), 0.0, square((fcy + 1.0) * side - y - tol)};
        const size_t width = size_t(ix.width);
        for (double cj = cy0; cj <= cy1; ++cj) {
            const double gy = gapY[int(cj - fcy) + 1];
            const size_t rowStart = size_t(cj) * width;
            for (double ci = cx0; ci <= cx1; ++ci) {
                if (gy + gapX[int(ci - fcx) + 1] >= reach)
                    continue;
                for (int i = head[rowStart + size_t(ci)]; i >= 0; i = next[i])
                    if (closer(points[i], x, y, z, m, m2))
                        return i;
            }
        }
        return -1;
    }

    const double sub = ix.sub;
    // Only the squares of the 3 x 3 cells (square columns cx0 * sub ... (cx1 + 1) * sub - 1,
    // which belong to those cells by construction), and of those only the ones in reach.
    Strip cols[kMaxStrips];
    Strip rows[kMaxStrips];
    const int nCols = stripsNear(x, m, ix.subSide, ix.inverseSubSide, tol, cx0 * sub, cx1 * sub + sub - 1.0, reach, cols);
    const int nRows = stripsNear(y, m, ix.subSide, ix.inverseSubSide, tol, cy0 * sub, cy1 * sub + sub - 1.0, reach, rows);

    const size_t rowLength = size_t(ix.width) * size_t(ix.sub);
    for (int r = 0; r < nRows; ++r) {
        const size_t rowStart = size_t(rows[r].index) * rowLength;
        for (int c = 0; c < nCols; ++c) {
            if (rows[r].gap2 + cols[c].gap2 >= reach)
                continue;
            for (int i = head[rowStart + size_t(cols[c].index)]; i >= 0; i = next[i])
                if (closer(points[i], x, y, z, m, m2))
                    return i;
        }
    }
    return -1;
}

bool EvenlySpacedSeeding::indexInStep() const
{
    const SeparationGrid *grid = mGrid.get();
    const double side = mParameters.dSep;
    return grid && grid->indicesBelow(mPoints.size()) && side > 0.0 && std::isfinite(side)
           && mIndex.revision == grid->revision() && mIndex.side == side;
}

double EvenlySpacedSeeding::clearance(double x, double y, double z, float minDistance, double radius) const
{
    // A lower bound on the distance from (x, y, z) to every point in the grid, capped near
    // `radius`; -1 when some point lies closer than minDistance, or the neighbourhood is too
    // large to look at (the caller then decides with the exact test). Looks at all squares
    // within the radius, not only the 3 x 3 cells, so the bound holds for every point.
    const PointIndex &ix = mIndex;
    const double m = minDistance;
    const double m2 = m * m;
    const double tol = boundsTolerance(x, y, ix.side + radius);
    double best = radius * radius;
    Strip cols[kMaxStrips];
    Strip rows[kMaxStrips];
    const double sub = ix.sub;
    const int nCols = stripsNear(x, radius, ix.subSide, ix.inverseSubSide, tol, 0.0, ix.width * sub - 1.0, best, cols);
    const int nRows = stripsNear(y, radius, ix.subSide, ix.inverseSubSide, tol, 0.0, ix.height * sub - 1.0, best, rows);
    if (nCols < 0 || nRows < 0)
        return -1.0;

    const Vector3 *points = mPoints.constData();
    const int *head = ix.head.data();
    const int *next = ix.next.data();
    const size_t rowLength = size_t(ix.width) * size_t(ix.sub);
    for (int r = 0; r < nRows; ++r) {
        const size_t rowStart = size_t(rows[r].index) * rowLength;
        for (int c = 0; c < nCols; ++c) {
            if (rows[r].gap2 + cols[c].gap2 >= best)
                continue;
            for (int k = head[rowStart + size_t(cols[c].index)]; k >= 0; k = next[k]) {
                const Vector3 &p = points[k];
                const double dx = p.x - x;
                const double dy = p.y - y;
                const double dz = p.z - z;
                const double s = dx * dx + dy * dy + dz * dz;
                if (s < best) {
                    if (s < m2)
                        return -1.0;
                    best = s;
                }
            }
        }
    }
    return std::min(std::sqrt(best), radius - tol);
}

inline bool EvenlySpacedSeeding::rejects(int index, const Vector3 &c, double room, double m) const
{
    const Vector3 &p = mPoints.at(index);
    return std::fabs(p.x - c.x) < room && std::fabs(p.y - c.y) < room && closer(p, c.x, c.y, c.z, m, m * m);
}

bool EvenlySpacedSeeding::witnessRejects(int &witness, const Vector3 &c, float minDistance) const
{
    // The point that ruled out the last candidate on this side often rules out the next
    // one too, or one of its neighbours along its line does (the candidates move along
    // beside it). A point settles the test only where the full test would take the same
    // view: it must be in the grid, lie closer than minDistance and, beyond any doubt from
    // rounding, within the 3 x 3 cells around c (so the grid walk would meet it). Witnesses
    // come only from regimes without stray indices.
    if (witness < 0)
        return false;
    const double side = mParameters.dSep;
    const double room = side - boundsTolerance(c.x, c.y, side);
    const double m = minDistance;
    if (rejects(witness, c, room, m))
        return true;
    // Neighbours by index are points of the same line or the next; every point filed since
    // the index started went into the grid unless its cell lies outside, which is checked
    // (unless no point was left out). Anyone changing the point list or the grid behind the
    // seeding's back ends this.
    if (!indexInStep() || mIndex.points != mPoints.size())
        return false;
    const bool allFiled = mIndex.unfiled == 0;
    const int count = int(mPoints.size());
    for (int k = 1; k <= 3; ++k) {
        for (const int candidate : {witness + k, witness - k}) {
            if (candidate < 0 || candidate >= count)
                continue;
            if (!rejects(candidate, c, room, m))
                continue;
            if (!allFiled) {
                const Vector3 &p = mPoints.at(candidate);
                const double cx = cellOf(p.x, side, mIndex.inverseSide);
                const double cy = cellOf(p.y, side, mIndex.inverseSide);
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
    if (!indexInStep()) {
        for (int step = 0; step < kMaxSteps; ++step) {
            if (!field->isInside(p.x, p.y, p.z))
                break;
            const Vector3 q = integrate(p, dt, mParameters.method, field);
            if (!isValidPoint(q.x, q.y, q.z, minDistance))
                break;
            out.push_back(q);
            p = q;
        }
        return;
    }

    // The same trace, with fewer full separation tests. A test that finds every stored
    // point at least D away from q also clears the points that follow q, as long as the
    // path walked since q stays below D - minDistance (the triangle inequality); every
    // step's length is measured, so no assumption on the step is made. Margins of a
    // millionth of a millionth keep rounding on the safe side. Where the clearance is too
    // small to cover a step, the plain test is used for a while.
    const double m = minDistance;
    const double radius = m + std::max(m, 2.0 * std::fabs(dt));
    double slack = -1.0;
    int plainTests = 0;
    int backOff = 2;
    const bool knownStep = mParameters.method == Euler || mParameters.method == RungeKutta;
    const bool rungeKutta = mParameters.method == RungeKutta;
    const double stepBound = std::fabs(dt) * (1.0 + 1e-12);
    // p is inside throughout: the seed was checked by the caller, every later p passed the
    // inside test below.
    for (int step = 0; step < kMaxSteps; ++step) {
        const Vector3 q = knownStep ? integration::step(p, dt, rungeKutta, *field)
                                    : integrate(p, dt, mParameters.method, field);
        if (!field->isInside(q.x, q.y, q.z))
            break;
        // Euler and Runge-Kutta steps move by |dt| along a unit (or zero) direction, up to
        // the rounding of the sum; other method codes jump anywhere, so they are measured.
        double moved = stepBound;
        if (!knownStep) {
            const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
            moved = std::sqrt(dx * dx + dy * dy + dz * dz) * (1.0 + 1e-12);
        }
        slack -= moved + 1e-12 * (std::fabs(q.x) + std::fabs(q.y) + std::fabs(q.z));
        if (slack < 0.0) {
            if (plainTests > 0) {
                --plainTests;
                if (probe(q.x, q.y, q.z, minDistance) != kValid)
                    break;
            } else {
                const double d = clearance(q.x, q.y, q.z, minDistance, radius);
                if (d < 0.0 && probe(q.x, q.y, q.z, minDistance) != kValid)
                    break;
                slack = d * (1.0 - 1e-12) - m * (1.0 + 1e-12)
                        - 1e-12 * (std::fabs(q.x) + std::fabs(q.y) + mParameters.dSep);
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
    halfTrace(seed, mParameters.dt * -1.0, minDistance, field, mBackward);
    halfTrace(seed, mParameters.dt, minDistance, field, mForward);

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
        for (qsizetype k = 0; k < n; ++k) {
            const Vector3 &p = out[k];
            const int index = int(first + k);
            const int cx = cellNumber(cellOf(p.x, side, inverse));
            const int cy = cellNumber(cellOf(p.y, side, inverse));
            const quint64 before = grid.revision();
            grid.addPoint(cx, cy, index);
            // The index follows the grid only while nobody else changed it; a point outside
            // the grid (not stored) leaves both as they are.
            if (mIndex.revision == before && grid.revision() != before) {
                fileInIndex(p, cx, cy, index);
                mIndex.revision = grid.revision();
            } else if (grid.revision() == before) {
                ++mIndex.unfiled;
            }
        }
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

    // Per side, the stored point that ruled out the last candidate there.
    int witness[2] = {-1, -1};
    const auto accepted = [&](const Vector3 &c, int sideIndex) {
        if (witnessRejects(witness[sideIndex], c, dSep))
            return false;
        const int verdict = probe(c.x, c.y, c.z, dSep);
        if (verdict >= 0)
            witness[sideIndex] = verdict;
        return verdict == kValid && !flowMissingAt(c);
    };
    const qsizetype last = line.size() - 1;
    for (qsizetype k = position.segment; k < last; ++k) {
        const Vector3 &a = line.at(k);
        const Vector3 dir = (line.at(k + 1) - a).normalized();
        if (k > position.segment || position.side == 0) {
            const Vector3 d = minus90().apply(dir);
            const Vector3 c = a + d * side;
            if (accepted(c, 0)) {
                position = SearchPosition{int(k), 0};
                qDebug() << c.x << c.y << " is valid as new seedpoint.";
                return c;
            }
        }
        const Vector3 d = plus90().apply(dir);
        const Vector3 c(a.x + d.x * side, a.y + d.y * side, 0.0);
        if (accepted(c, 1)) {
            position = SearchPosition{int(k), 1};
            qDebug() << c.x << c.y << " is valid as new seedpoint.";
            return c;
        }
    }
    position = SearchPosition{int(std::max<qsizetype>(last, 0)), 0};
    return kNoSeed;
}
