#pragma once

// The resampling's interpolation rule and the grid points it writes: the one place where
// "(hi - lo) / span * k + lo" is spelt out. Every path of the resampling (the unit cells of a
// grid resampled to its own point count, the general cells, the edges worked out once per
// source row) interpolates through `along`, so that they give the same bits by construction.
// Internal to the resampling (data/Resample*.cpp).

#include "data/Vector3.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace resample {

using Pair = double __attribute__((vector_size(16)));
using PairMask = long long __attribute__((vector_size(16)));
using IntPair = int __attribute__((vector_size(8)));

// A span of one grid unit: "/ span" is exact there (d / 1 is d, NaN, infinities and the sign
// of zero included), so it drops out without changing a bit.
struct UnitSpan
{
};
template <typename T>
inline T operator/(T d, UnitSpan)
{
    return d;
}

// The interpolation rule: the value k grid units from lo towards hi, which lies `span` units
// away, evaluated as written (no contraction: the build forbids it). T is double for the flow
// (or a Pair of its x and y), float for the channel, where every step rounds to single
// precision; span is a T or UnitSpan.
template <typename T, typename Span>
inline T along(T lo, T hi, Span span, T k)
{
    return (hi - lo) / span * k + lo;
}

// `along` for a span known only at run time (span >= 1, 0 <= k <= span), with two shortcuts
// that give the same bits without the division:
// - span 1, the usual cell of a grid resampled to its own point count;
// - k = 0, the start of a span: a finite d = hi - lo over span >= 1 is finite, so the product
//   is a zero with d's sign, and that zero is what is added to lo. Non-finite d takes the
//   written path.
template <typename T>
inline T step(T lo, T hi, T span, T k)
{
    if (span == T(1))
        return along(lo, hi, UnitSpan(), k);
    const T d = hi - lo;
    if (k == T(0) && d - d == T(0))
        return std::copysign(T(0), d) + lo;
    return along(lo, hi, span, k);
}

// floor() of a grid position's x and y as ints, both at once; false when either is not
// finite or out of int range. Inside the range truncation towards zero is floor, except for
// negative non-integers: one below. Values outside are not converted (that would be undefined).
inline bool floorToInts(Pair g, int &x, int &y)
{
    const PairMask inside = (g >= -2147483648.0) & (g < 2147483648.0); // NaN: false
    g = inside ? g : Pair{0.0, 0.0};
    IntPair t = __builtin_convertvector(g, IntPair);
    t += __builtin_convertvector(g < __builtin_convertvector(t, Pair), IntPair); // true is -1
    x = t[0];
    y = t[1];
    return (inside[0] & inside[1]) != 0;
}

// The four corners of a source cell as the interpolation reads them: flow x and y, first
// channel, and the cell's spans in grid units (64 bits: corners far outside the grid, on
// curved grids or at stray points, can lie more than 2^31 grid units apart; the values
// still convert to double for the vector and to float for the channel as ints would).
struct Cell
{
    double x00, y00, x01, y01, x10, y10, x11, y11;
    float v00, v01, v10, v11;
    long long dx, dy;
};

// Grid column a of the cell along its bottom (row j) and top (row j + 1) edges. A zero span
// in one direction: no interpolation along it.
struct Edges
{
    double bx, by, tx, ty;
    float bv, tv;
};

inline Edges edgesAt(const Cell &c, long long a)
{
    if (c.dx == 0)
        return {c.x00, c.y00, c.x01, c.y01, c.v00, c.v01};
    const double span = static_cast<double>(c.dx), k = static_cast<double>(a);
    const float spanf = static_cast<float>(c.dx), kf = static_cast<float>(a);
    return {step(c.x00, c.x10, span, k), step(c.y00, c.y10, span, k), step(c.x01, c.x11, span, k),
            step(c.y01, c.y11, span, k), step(c.v00, c.v10, spanf, kf), step(c.v01, c.v11, spanf, kf)};
}

// The edge of a unit cell from source point i of a row towards point i + 1, at i itself
// (a = 0) of the flow's x and y and of the first channel. A row is the top edge of one row
// of cells and the bottom edge of the next, so it is worked out once per row. Not simply the
// point's own values: NaN, infinities and the sign of zero carry through the rule.
struct RowEdge
{
    double x = 0.0;
    double y = 0.0;
    float v = 0.0f;
};

inline RowEdge rowEdge(Pair flow, Pair nextFlow, float first, float nextFirst)
{
    const Pair e = along(flow, nextFlow, UnitSpan(), Pair{0.0, 0.0});
    return {e[0], e[1], along(first, nextFirst, UnitSpan(), 0.0f)};
}

// The order of a cell: its key in the defining order (i * (rows of cells) + j + 1, below 2^31
// since the source has fewer points) times 2. While the walk runs, a grid point's count holds
// the order of its last writer, plus 1 when that writer copied a source point; 0 = not
// written. A cell of order m writes a point holding at most m + 1. Counts are set at the end.
using Order = uint32_t;

// The grid points being written.
struct Target
{
    Vector3 *pos;
    Vector3 *dir;
    Order *mark; // the counts, during the walk
    float *values;
    std::size_t stride;

    // Point t, row b of the cell, as the cell's interpolation between its edges.
    void store(std::size_t t, const Cell &c, const Edges &e, long long b, Order order) const
    {
        double rx = e.bx, ry = e.by;
        float rv = e.bv;
        if (c.dy != 0) {
            const double span = static_cast<double>(c.dy), k = static_cast<double>(b);
            rx = step(e.bx, e.tx, span, k);
            ry = step(e.by, e.ty, span, k);
            rv = step(e.bv, e.tv, static_cast<float>(c.dy), static_cast<float>(b));
        }
        put(t, rx, ry, rv, mark[t], order);
    }

    // An interpolated point at t over a point marked `previous`: flow (x, y, 0), the channel
    // value and a 0.
    void put(std::size_t t, double x, double y, float v, Order previous, Order order) const
    {
        if (previous & 1)
            pos[t] = Vector3(); // a copied point's position
        mark[t] = order;
        dir[t] = Vector3(x, y, 0.0);
        values[t * stride] = v;
        values[t * stride + 1] = 0.0f;
    }
};

// The corners of a unit cell as its interpolation reads them: flow and first channel.
struct Corners
{
    const Vector3 &p00, &p10, &p01, &p11;
    float v00, v10, v01, v11;
};

// Point (A, B) of a unit cell, written at grid point u over `previous`.
template <int A, int B>
void unitPoint(const Target &target, const Corners &c, std::size_t u, Order previous, Order order)
{
    const double a = A, b = B;
    const float af = A, bf = B;
    const UnitSpan one;
    const double bx = along(c.p00.x, c.p10.x, one, a), by = along(c.p00.y, c.p10.y, one, a);
    const double tx = along(c.p01.x, c.p11.x, one, a), ty = along(c.p01.y, c.p11.y, one, a);
    const float bv = along(c.v00, c.v10, one, af), tv = along(c.v01, c.v11, one, af);
    target.put(u, along(bx, tx, one, b), along(by, ty, one, b), along(bv, tv, one, bf), previous, order);
}

// Point (0, 0) of a unit cell the same way, from its bottom and top edges at a = 0.
inline void unitCorner(const Target &target, const RowEdge &bottom, const RowEdge &top, std::size_t t,
                       Order previous, Order order)
{
    const Pair r = along(Pair{bottom.x, bottom.y}, Pair{top.x, top.y}, UnitSpan(), Pair{0.0, 0.0});
    target.put(t, r[0], r[1], along(bottom.v, top.v, UnitSpan(), 0.0f), previous, order);
}

} // namespace resample
