#pragma once

#include "data/Vector3.h"

#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <vector>

// Rounding margins of the seeding's cell arithmetic, in one place with their reasons.
namespace seedingMargins {

// A point's cell comes from a rounded division, so the edges of a cell are known only to a
// few units in the last place of the coordinates involved: bounds are widened by this
// fraction of the coordinates' magnitude. Far above that rounding, far below any distance
// that matters (grid units are pixels).
constexpr double kCellEdge = 1e-9;
// A square or cell is passed over only when its squared gap exceeds the squared test
// distance by this fraction: more than the rounding of a squared distance can be.
constexpr double kReach = 1e-9;
// v * (1 / side) is within a few units in the last place of v / side. Its floor is taken
// as the cell only where the product lies at least this far from a whole number and below
// kProductLimit in magnitude; otherwise the division decides.
constexpr double kCellFraction = 1e-7;
constexpr double kProductLimit = 1e8;
// Relative margin on step lengths and clearances in the trace's skipped tests: a sum of a
// few rounded terms is off by a few units in the last place (about 1e-16), so this keeps
// every bound on the safe side.
constexpr double kStep = 1e-12;

} // namespace seedingMargins

namespace seedingMath {

// std::floor without the library call (the baseline x86-64 instruction set has no
// rounding instruction): exact for |v| < 2^52, the library beyond and for NaN.
inline double floorOf(double v)
{
    if (!(std::fabs(v) < 4503599627370496.0))
        return std::floor(v);
    const double t = double(static_cast<long long>(v));
    return t > v ? t - 1.0 : t;
}

// floor(v / side), bit for bit, mostly without the division (see kCellFraction).
inline double cellOf(double v, double side, double inverse)
{
    using namespace seedingMargins;
    const double q = v * inverse;
    const double f = floorOf(q);
    const double frac = q - f;
    if (frac > kCellFraction && frac < 1.0 - kCellFraction && std::fabs(q) < kProductLimit)
        return f;
    return floorOf(v / side);
}

// How far cell bounds near (x, y) may be off, for cells of `side`.
inline double boundsTolerance(double x, double y, double side)
{
    return seedingMargins::kCellEdge * (std::fabs(x) + std::fabs(y) + 2.0 * side);
}

// The gap between v and the interval [lo, hi], 0 inside.
inline double gap(double v, double lo, double hi)
{
    return v < lo ? lo - v : (v > hi ? v - hi : 0.0);
}

// Bit for bit the same position (also in the sign of a zero), so every computation that
// starts from it gives the same bits.
inline bool samePosition(const Vector3 &a, const Vector3 &b)
{
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0;
}

// Whether p lies closer than m to (x, y, z), with the rounding of Vector3::length();
// `limit2` is m squared (exact, as m is a float). sqrt(s) < m implies s < m * m, as sqrt is
// correctly rounded and m * m exact, so the root is taken only for points that may be close.
inline bool closer(const Vector3 &p, double x, double y, double z, double m, double limit2)
{
    const double dx = p.x - x;
    const double dy = p.y - y;
    const double dz = p.z - z;
    const double s = dx * dx + dy * dy + dz * dz;
    return s < limit2 && std::sqrt(s) < m;
}

} // namespace seedingMath

// A finer mirror of the separation grid that keeps the separation test cheap where the grid
// cells are crowded (dense lines, spirals, lines standing still at a stagnation point):
// every grid cell split into sub x sub squares, each a list of point indices linked through
// `next`, newest first, without repeats of the newest position. Queries read the points
// from the caller's point list. Its owner (SeparationTest) files every point the grid takes.
class PointIndex
{
public:
    static constexpr int kNone = -1;

    // Empties the index for a grid of width x height cells of `side`; the squares are about
    // as wide as the test distance of a trace, but not much narrower than a step (`step`,
    // grid units) nor than one unit: finer squares would mostly be empty.
    void start(double side, int width, int height, double testDistance, double step);
    // Files the points first, ..., first + count - 1 (their positions: line[0], ...), which
    // the grid stored in its cell (cx, cy).
    void file(const Vector3 *line, int cx, int cy, int first, int count);

    // A point of the 3 x 3 cells around (x, y) closer than minDistance (its index), or kNone.
    int closerPoint(double x, double y, double z, float minDistance, const Vector3 *points) const;
    // False when no filed point lies closer than minDistance to (x, y, z); true when one may
    // (the caller then decides with the exact test).
    bool mayHaveCloser(double x, double y, double z, float minDistance, const Vector3 *points) const;
    // A lower bound on the distance from (x, y, z) to every filed point, capped near
    // `radius`; -1 when some point lies closer than minDistance or the query is undecided.
    double clearance(double x, double y, double z, float minDistance, double radius, const Vector3 *points) const;

    double side() const { return mSide; }
    double inverseSide() const { return mInverseSide; }

private:
    // The one query loop: visits the filed points of every square with column index in
    // [loX, hiX] and row index in [loY, hiY] whose squared gap to (x, y) is below `reach2`
    // (which the visitor may shrink; squares are looked at within `radius`). The visitor
    // returns true to stop. False when the squares are too many to look at (undecided).
    template <typename Visit>
    bool forEachNear(double x, double y, double radius, double tol, double loX, double hiX, double loY, double hiY,
                     double &reach2, Visit &&visit) const;

    double mSide = 0.0;
    double mInverseSide = 0.0;
    double mSubSide = 0.0;
    double mInverseSubSide = 0.0;
    int mSub = 1;
    int mWidth = 0;
    int mHeight = 0;
    int mWordsPerRow = 0;
    std::vector<int> mHead; // per square, row-major: newest point filed there, or -1
    std::vector<int> mNext; // per point index: the point filed before it in its square, or -1
    // Per row of squares, one bit per square that holds a point (bit c % 64 of word c / 64),
    // and a spare zero word at the end of each row: most squares near a query are empty, and
    // a query skips them without reading their heads.
    std::vector<quint64> mOccupied;
};
