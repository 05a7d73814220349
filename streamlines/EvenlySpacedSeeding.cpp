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

// floor(v) as an int cell number; values beyond the int range saturate, so a position far
// outside the grid still names a cell outside it (and is reported by addPoint).
int cellNumber(double v)
{
    const double f = std::floor(v);
    if (f >= 2147483647.0)
        return INT_MAX;
    if (f >= -2147483648.0)
        return int(f);
    return INT_MIN; // also NaN
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
    const double perCell = 1.0 / parameters.dSep;
    const double w = parameters.viewWidth * perCell + 1;
    const double h = parameters.viewHeight * perCell + 1;
    // A separation of 0 or one below float range would give no sensible grid; run()
    // refuses a NaN size.
    const bool usable = std::isfinite(w) && std::isfinite(h) && std::fabs(w) < 1e30 && std::fabs(h) < 1e30;
    mGridWidth = usable ? static_cast<float>(w) : NAN;
    mGridHeight = usable ? static_cast<float>(h) : NAN;
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
    mGrid = std::make_unique<SeparationGrid>();
    mGrid->setSize(int(w), int(h));

    const Vector3 firstSeed(10.0, 10.0, 0.0);
    qDebug() << "Initail SP:" << 10 << 10;
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
    const Volume *field = volume();
    if (!field || !field->isInside(x, y, z))
        return false;
    const SeparationGrid *grid = mGrid.get();
    if (!grid)
        return true;
    const double side = mParameters.dSep;
    // The walk below is exact only with sound indices and a positive cell side; anything
    // else goes the documented way, messages included.
    if (!grid->indicesBelow(mPoints.size()) || !(side > 0.0) || !std::isfinite(side))
        return isValidPointByWalk(x, y, z, minDistance);

    const double fcx = std::floor(x / side);
    const double fcy = std::floor(y / side);
    const int width = grid->mWidth;
    const int height = grid->mHeight;

    // Lower bounds on the distance from (x, y) to any point filed under the neighbouring
    // columns and rows. A point's cell comes from a rounded division, so each bound is
    // shortened by a tolerance far above that rounding; a cell is skipped only when its
    // bound exceeds minDistance by a margin far above the rounding of the distance itself.
    // Skipping such cells cannot change the answer: none of their points can be closer.
    const double tol = 1e-9 * (std::fabs(x) + std::fabs(y) + side);
    const auto square = [](double v) { return v > 0.0 ? v * v : 0.0; };
    const double gapX[3] = {square(x - fcx * side - tol), 0.0, square((fcx + 1.0) * side - x - tol)};
    const double gapY[3] = {square(y - fcy * side - tol), 0.0, square((fcy + 1.0) * side - y - tol)};
    const double m = minDistance;
    const double m2 = m * m; // exact: m has a float's 24-bit mantissa
    const double reach = m2 * (1.0 + 1e-9);

    const QVector<int> *cells = grid->mCells.constData();
    const qsizetype cellCount = grid->mCells.size();
    const Vector3 *points = mPoints.constData();
    const size_t pointCount = size_t(mPoints.size());

    // Centre cell first, then the sides, then the corners: a close point, which ends the
    // test, is most likely near the centre. Without messages the order does not matter.
    static const int kOrder[9][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (const auto &o : kOrder) {
        const double ci = fcx + o[0];
        const double cj = fcy + o[1];
        if (!(ci >= 0.0 && ci < width && cj >= 0.0 && cj < height))
            continue;
        if (gapX[o[0] + 1] + gapY[o[1] + 1] >= reach)
            continue;
        const qsizetype k = qsizetype(cj) * width + qsizetype(ci);
        if (k >= cellCount)
            continue;
        const QVector<int> &cell = cells[k];
        const int *ids = cell.constData();
        const qsizetype n = cell.size();
        for (qsizetype t = 0; t < n; ++t) {
            const size_t index = size_t(unsigned(ids[t]));
            if (index >= pointCount)
                continue; // cannot happen: indicesBelow() held
            const Vector3 &p = points[index];
            const double dx = p.x - x;
            const double dy = p.y - y;
            const double dz = p.z - z;
            const double s = dx * dx + dy * dy + dz * dz;
            // sqrt(s) < m implies s < m2 (m2 is exact and sqrt is correctly rounded), so the
            // square root is taken only for the rare points that may be too close.
            if (s < m2 && std::sqrt(s) < m)
                return false;
        }
    }
    return true;
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
                                    QVector<Vector3> &out) const
{
    out.clear();
    Vector3 p = seed;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (!field->isInside(p.x, p.y, p.z))
            break;
        const Vector3 q = integrate(p, dt, mParameters.method, field);
        if (!isValidPoint(q.x, q.y, q.z, minDistance))
            break;
        out.append(q);
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

    Streamline line;
    line.reserve(mBackward.size() + 1 + mForward.size());
    for (qsizetype i = mBackward.size() - 1; i >= 0; --i)
        line.append(mBackward.at(i));
    line.append(seed);
    line.append(mForward);

    const double side = mParameters.dSep;
    for (const Vector3 &p : std::as_const(line)) {
        const int index = int(mPoints.size());
        mPoints.append(p);
        if (mGrid)
            mGrid->addPoint(cellNumber(p.x / side), cellNumber(p.y / side), index);
    }
    return line;
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
        if (isValidPoint(below.x, below.y, below.z, dSep))
            return below;
        const Vector3 above = a + plus90().apply(dir) * side;
        if (isValidPoint(above.x, above.y, above.z, dSep))
            return above;
        return kNoSeed;
    }

    const qsizetype last = line.size() - 1;
    for (qsizetype k = position.segment; k < last; ++k) {
        const Vector3 &a = line.at(k);
        const Vector3 dir = (line.at(k + 1) - a).normalized();
        if (k > position.segment || position.side == 0) {
            const Vector3 d = minus90().apply(dir);
            const Vector3 c = a + d * side;
            if (isValidPoint(c.x, c.y, c.z, dSep)) {
                position = SearchPosition{int(k), 0};
                qDebug() << c.x << c.y << " is valid as new seedpoint.";
                return c;
            }
        }
        const Vector3 d = plus90().apply(dir);
        const Vector3 c(a.x + d.x * side, a.y + d.y * side, 0.0);
        if (isValidPoint(c.x, c.y, c.z, dSep)) {
            position = SearchPosition{int(k), 1};
            qDebug() << c.x << c.y << " is valid as new seedpoint.";
            return c;
        }
    }
    position = SearchPosition{int(std::max<qsizetype>(last, 0)), 0};
    return kNoSeed;
}
