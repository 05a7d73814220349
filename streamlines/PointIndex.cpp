#include "streamlines/PointIndex.h"

#include <algorithm>

using namespace seedingMath;

namespace {

// More squares along one axis than this are not looked at: the query is undecided.
constexpr double kMaxStrips = 64;
// At most this many squares in all (a few MB of heads), at most this many per cell side.
constexpr qint64 kMaxSquares = qint64(1) << 22;
constexpr int kMaxSub = 16;
static_assert(3 * kMaxSub < kMaxStrips, "a query of the 3 x 3 cells is always decided");

} // namespace

void PointIndex::start(double side, int width, int height, double testDistance, double step)
{
    mSide = side;
    mWidth = width;
    mHeight = height;
    const double target = std::max({testDistance, 2.0 * std::fabs(step), 1.0});
    int sub = int(std::clamp(std::round(side / target), 1.0, double(kMaxSub)));
    while (sub > 1 && qint64(width) * height * sub * sub > kMaxSquares)
        --sub;
    mSub = sub;
    mSubSide = side / sub;
    mInverseSide = 1.0 / side;
    mInverseSubSide = 1.0 / mSubSide;
    mHead.assign(size_t(qint64(width) * height * sub * sub), -1);
    mWordsPerRow = int((qint64(width) * sub + 63) / 64) + 1;
    mOccupied.assign(size_t(qint64(height) * sub * mWordsPerRow), 0);
    mNext.clear();
}

void PointIndex::file(const Vector3 *line, int cx, int cy, int first, int count)
{
    // Any fixed rule does here: queries allow for rounding at the edges of the squares.
    const auto subCell = [&](double v) {
        const double s = floorOf(v * mInverseSubSide);
        return s >= mSub - 1 ? mSub - 1 : (s >= 0.0 ? int(s) : 0);
    };
    if (mNext.size() < size_t(first) + size_t(count))
        mNext.resize(std::max(size_t(first) + size_t(count), mNext.size() * 2), -1);
    const size_t rowLength = size_t(mWidth) * size_t(mSub);
    for (int k = 0; k < count; ++k) {
        const Vector3 &p = line[k];
        // At the position of the point before (in the same square, as the cell is the same):
        // that point is the square's newest or repeats its position, so the test below would
        // leave this one out too. Saves the square's arithmetic for a line standing still.
        if (k > 0 && line[k - 1] == p)
            continue;
        const int index = first + k;
        // The square is chosen within the point's grid cell, so squares never straddle cells.
        const int sx = mSub == 1 ? 0 : subCell(p.x - cx * mSide);
        const int sy = mSub == 1 ? 0 : subCell(p.y - cy * mSide);
        const size_t row = size_t(cy) * mSub + size_t(sy);
        const size_t column = size_t(cx) * mSub + size_t(sx);
        const size_t square = row * rowLength + column;
        const int newest = mHead[square];
        // A point at the very position of the newest one in its square (a line standing
        // still) cannot change any answer. Only points of this call are compared: they are
        // at hand, where an older line's point would mostly be a cache miss, and a line
        // standing still does so in one cell, so in one call.
        if (newest >= first && line[newest - first] == p)
            continue;
        mNext[size_t(index)] = newest;
        mHead[square] = index;
        if (newest < 0)
            mOccupied[row * size_t(mWordsPerRow) + column / 64] |= quint64(1) << (column % 64);
    }
}

template <typename Visit>
bool PointIndex::forEachNear(double x, double y, double radius, double tol, double loX, double hiX, double loY,
                             double hiY, double &reach2, Visit &&visit) const
{
    // Square j covers [j * size, (j + 1) * size] up to rounding, which `tol` more than
    // covers; the products with the inverse are within a few units in the last place of the
    // quotients, far inside it.
    if (std::isnan(x) || std::isnan(y))
        return false;
    const double size = mSubSide;
    const double c0 = std::max(floorOf((x - radius - tol) * mInverseSubSide), loX);
    const double c1 = std::min(floorOf((x + radius + tol) * mInverseSubSide), hiX);
    const double r0 = std::max(floorOf((y - radius - tol) * mInverseSubSide), loY);
    const double r1 = std::min(floorOf((y + radius + tol) * mInverseSubSide), hiY);
    if (!(c0 <= c1 && r0 <= r1))
        return true; // no square near: no point is closer
    if (c1 - c0 >= kMaxStrips || r1 - r0 >= kMaxStrips)
        return false;
    const int *head = mHead.data();
    const int *next = mNext.data();
    const size_t rowLength = size_t(mWidth) * size_t(mSub);
    // In range of int now: between the bounds, which lie inside the grid's squares.
    const int first = int(c0), last = int(c1);
    const int shift = first % 64;
    const quint64 window = last - first == 63 ? ~quint64(0) : (quint64(1) << (last - first + 1)) - 1;
    for (double r = r0; r <= r1; ++r) {
        // The squares of this row in [first, last] that hold points, as bits from `first` on.
        const quint64 *words = mOccupied.data() + size_t(r) * size_t(mWordsPerRow) + first / 64;
        quint64 bits = words[0] >> shift;
        if (shift > 0)
            bits |= words[1] << (64 - shift);
        bits &= window;
        if (bits == 0)
            continue;
        const double gy = gap(y, r * size - tol, (r + 1.0) * size + tol);
        const double gy2 = gy * gy;
        if (gy2 >= reach2)
            continue;
        const int *rowHead = head + size_t(r) * rowLength;
        do {
            const int column = first + __builtin_ctzll(bits);
            bits &= bits - 1;
            const double c = column;
            const double gx = gap(x, c * size - tol, (c + 1.0) * size + tol);
            if (gy2 + gx * gx >= reach2)
                continue;
            for (int i = rowHead[column]; i >= 0; i = next[i])
                if (visit(i))
                    return true;
        } while (bits != 0);
    }
    return true;
}

int PointIndex::closerPoint(double x, double y, double z, float minDistance, const Vector3 *points) const
{
    const double fcx = cellOf(x, mSide, mInverseSide);
    const double fcy = cellOf(y, mSide, mInverseSide);
    const double cx0 = std::max(fcx - 1.0, 0.0), cx1 = std::min(fcx + 1.0, mWidth - 1.0);
    const double cy0 = std::max(fcy - 1.0, 0.0), cy1 = std::min(fcy + 1.0, mHeight - 1.0);
    if (!(cx0 <= cx1 && cy0 <= cy1))
        return kNone;
    const double m = minDistance;
    const double m2 = m * m;
    double reach = m2 * (1.0 + seedingMargins::kReach);
    const double sub = mSub;
    // Only the squares of the 3 x 3 cells (square columns cx0 * sub ... (cx1 + 1) * sub - 1
    // belong to those cells by construction), and of those only the ones in reach.
    // Always decided: the window is at most 3 * kMaxSub squares a side, below kMaxStrips, and
    // a NaN position (which forEachNear refuses) is closer to no point.
    int found = kNone;
    forEachNear(x, y, m, boundsTolerance(x, y, mSide), cx0 * sub, cx1 * sub + sub - 1.0, cy0 * sub,
                cy1 * sub + sub - 1.0, reach, [&](int i) {
                    if (!closer(points[i], x, y, z, m, m2))
                        return false;
                    found = i;
                    return true;
                });
    return found;
}

namespace {

// The squared distance from p to (x, y, z) where it may be below `limit`; `limit` itself where
// the x term alone reaches it (a sum of squares is at least each of its terms), which saves
// the rest of the sum for most points of a square.
inline double squaredDistanceUnder(const Vector3 &p, double x, double y, double z, double limit)
{
    const double dx = p.x - x;
    const double dx2 = dx * dx;
    if (dx2 >= limit)
        return limit;
    const double dy = p.y - y;
    const double dz = p.z - z;
    return dx2 + dy * dy + dz * dz;
}

} // namespace

bool PointIndex::mayHaveCloser(double x, double y, double z, float minDistance, const Vector3 *points) const
{
    // Looks at all squares in reach, not only the 3 x 3 cells, and takes a squared distance
    // below minDistance squared as close: false proves that no filed point is closer.
    const double m = minDistance;
    const double m2 = m * m;
    double reach = m2 * (1.0 + seedingMargins::kReach);
    bool near = false;
    const double sub = mSub;
    const bool decided = forEachNear(x, y, m, boundsTolerance(x, y, mSide + m), 0.0, mWidth * sub - 1.0, 0.0,
                                     mHeight * sub - 1.0, reach, [&](int k) {
                                         near = squaredDistanceUnder(points[k], x, y, z, m2) < m2;
                                         return near;
                                     });
    return !decided || near;
}

double PointIndex::clearance(double x, double y, double z, float minDistance, double radius,
                             const Vector3 *points) const
{
    // Looks at all squares within the radius, not only the 3 x 3 cells, so the bound holds
    // for every filed point.
    const double m = minDistance;
    const double m2 = m * m;
    const double tol = boundsTolerance(x, y, mSide + radius);
    double best = radius * radius;
    bool tooClose = false;
    const double sub = mSub;
    const bool decided = forEachNear(x, y, radius, tol, 0.0, mWidth * sub - 1.0, 0.0, mHeight * sub - 1.0, best,
                                     [&](int k) {
                                         const double s = squaredDistanceUnder(points[k], x, y, z, best);
                                         if (s < best) {
                                             tooClose = s < m2;
                                             best = s;
                                         }
                                         return tooClose;
                                     });
    if (!decided || tooClose)
        return -1.0;
    return std::min(std::sqrt(best), radius - tol);
}
