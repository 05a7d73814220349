// Volume::calculateGridFrom: resamples a loaded dataset onto the regular grid of this volume.
//
// Source cells (i, j) of layer 0 are mapped into this grid's index space through their
// diagonal corners and the covered grid points filled by bilinear interpolation. The result
// is defined by visiting cells i outer, j inner: a grid point covered by several cells keeps
// the value of the last one in that order. Walking the cells that way strides across the
// row-major storage at every step, so the cells are walked row by row instead, and every grid
// point remembers the order of the cell that wrote it (in its count, until the end): a cell
// writes a point only when it comes later in the defining order. The outcome is the same for
// any walk, which allows:
// - walking backwards (last row of cells first, right to left): the deciding cell of a point
//   mostly comes first and the others skip it, so most grid points are computed once;
// - cutting the grid into bands of rows, each walked on its own by one of two threads: a
//   point is only ever read or written by the walk of its band.

#include "data/Progress.h"
#include "data/SinglePrecision.h"
#include "data/SpinWorker.h"
#include "data/Volume.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Pair = double __attribute__((vector_size(16)));
using PairMask = long long __attribute__((vector_size(16)));
using IntPair = int __attribute__((vector_size(8)));

// Where a source point lies for the unit cells that write into the band of grid rows being
// walked (cells one grid unit wide and high, within the grid's columns, their corner (0, 0)
// in the rows from one below the band to the band's last). A point within the grid's
// columns and the rows from one below the band to one above it has a key, its grid point's
// index in a grid one column wider, y * (dimX + 1) + x; others have kNoKey. Cell (i, j) is
// such a cell exactly when upper[i + 1].key - lower[i].key == dimX + 2: the key ranges leave
// x1 - x0 = 1 and y1 - y0 = 1 as the only solution (the spare column keeps the last grid
// column apart from the next row's first), and a kNoKey on either side gives a difference
// far from it. `corner` is the point's index in the grid, y * dimX + x, where it has a key.
// Doubles, worked out two points at a time: grid indices are below 2^31 in size, so keys and
// their differences are exact.
struct UnitKeys
{
    double key;
    double corner;
};
constexpr double kNoKey = -4611686018427387904.0; // -2^62

// The grid positions (x, y) with a key, [from, to): floors in [0, dimX - 1] x [gyLo - 1, gyHi + 1].
struct KeyRanges
{
    double fromX, fromY, toX, toY;
    double dimX;
};

// The keys of two points at grid positions (x[0], y[0]) and (x[1], y[1]). NaN fails every
// comparison.
inline void unitKeys(const KeyRanges &r, Pair x, Pair y, UnitKeys &first, UnitKeys &second)
{
#if defined(__SSE2__)
    // With generic vector code the compilers move the comparisons' lanes through general
    // registers and turn the selections into branches.
    const __m128d gx = reinterpret_cast<__m128d>(x), gy = reinterpret_cast<__m128d>(y), one = _mm_set1_pd(1.0);
    const __m128d inX = _mm_and_pd(_mm_cmpge_pd(gx, _mm_set1_pd(r.fromX)), _mm_cmplt_pd(gx, _mm_set1_pd(r.toX)));
    const __m128d inY = _mm_and_pd(_mm_cmpge_pd(gy, _mm_set1_pd(r.fromY)), _mm_cmplt_pd(gy, _mm_set1_pd(r.toY)));
    const __m128d in = _mm_and_pd(inX, inY);
    // floor() where there is a key, within int range (truncation is only done where it is
    // defined: other lanes are zeroed); truncation rounds negative non-integers up by one.
    const auto floored = [&](__m128d v) {
        v = _mm_and_pd(v, in);
        const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(v));
        return _mm_sub_pd(t, _mm_and_pd(_mm_cmpgt_pd(t, v), one));
    };
    const __m128d fx = floored(gx), fy = floored(gy);
    const __m128d dimX = _mm_set1_pd(r.dimX);
    const __m128d key = _mm_or_pd(_mm_and_pd(in, _mm_add_pd(_mm_mul_pd(fy, _mm_add_pd(dimX, one)), fx)),
                                  _mm_andnot_pd(in, _mm_set1_pd(kNoKey)));
    const __m128d corner = _mm_add_pd(_mm_mul_pd(fy, dimX), fx);
    _mm_storeu_pd(&first.key, _mm_unpacklo_pd(key, corner));
    _mm_storeu_pd(&second.key, _mm_unpackhi_pd(key, corner));
#else
    for (int k = 0; k < 2; ++k) {
        UnitKeys &out = k == 0 ? first : second;
        const bool in = x[k] >= r.fromX && x[k] < r.toX && y[k] >= r.fromY && y[k] < r.toY;
        const double fx = in ? std::floor(x[k]) : 0.0, fy = in ? std::floor(y[k]) : 0.0;
        out = {in ? fy * (r.dimX + 1.0) + fx : kNoKey, fy * r.dimX + fx};
    }
#endif
}

// The edge of a unit cell from source point i of a row towards point i + 1, at i itself:
// "(hi - lo) * 0 + lo" of the flow's x and y and of the first channel. A row is the top edge of
// one row of cells and the bottom edge of the next, so it is worked out once per row. Not
// simply the point's own values: NaN, infinities and the sign of zero carry through.
struct RowEdge
{
    double x = 0.0;
    double y = 0.0;
    float v = 0.0f;
};

// Source point i of a row as the walk over the unit cells reads it: one buffer, so that the
// walk keeps few pointers (it has more values live than registers).
struct RowPoint
{
    UnitKeys keys;
    RowEdge edge; // unset at the row's last point
};

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

// One interpolation step along a span of grid points, "(hi - lo) / span * k + lo", evaluated
// as written (T is double for the vector, float for the channel; span >= 1, 0 <= k <= span).
// Two shortcuts give the same bits without the division:
// - span 1, the usual cell of a grid resampled to its own point count: d / 1 is d, NaN too;
// - k = 0, the start of a span: a finite d over span >= 1 is finite, so the product is a zero
//   with d's sign, and that zero is what is added to lo. Non-finite d takes the written path.
template <typename T>
inline T step(T lo, T hi, T span, T k)
{
    const T d = hi - lo;
    if (span == T(1))
        return d * k + lo;
    if (k == T(0) && d - d == T(0))
        return std::copysign(T(0), d) + lo;
    return d / span * k + lo;
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

// Point (A, B) of a unit cell, written at grid point u over `previous`. With spans of 1 the
// interpolation's "/ span" drops out: x / 1 is x, NaN included.
template <int A, int B>
void unitPoint(const Target &target, const Corners &c, std::size_t u, Order previous, Order order)
{
    const double a = A, b = B;
    const float af = A, bf = B;
    const double bx = (c.p10.x - c.p00.x) * a + c.p00.x, by = (c.p10.y - c.p00.y) * a + c.p00.y;
    const double tx = (c.p11.x - c.p01.x) * a + c.p01.x, ty = (c.p11.y - c.p01.y) * a + c.p01.y;
    const float bv = (c.v10 - c.v00) * af + c.v00, tv = (c.v11 - c.v01) * af + c.v01;
    target.put(u, (tx - bx) * b + bx, (ty - by) * b + by, (tv - bv) * bf + bv, previous, order);
}

// Point (0, 0) of a unit cell the same way, from its bottom and top edges at a = 0.
inline void unitCorner(const Target &target, const RowEdge &bottom, const RowEdge &top, std::size_t t,
                       Order previous, Order order)
{
    const Pair b = {bottom.x, bottom.y}, r = (Pair{top.x, top.y} - b) * Pair{0.0, 0.0} + b;
    target.put(t, r[0], r[1], (top.v - bottom.v) * 0.0f + bottom.v, previous, order);
}

// One resampling: what every band reads, and the grid they write.
class Resampler
{
public:
    Resampler(const Volume &source, Volume &grid)
        : mSrcX(source.getDimX()), mSrcY(source.getDimY()), mDimX(grid.getDimX()), mDimY(grid.getDimY()),
          // The same scale factors as getGridPos.
          mSx(roundToSingle(mSrcX / (source.mMaxPos.x - source.mMinPos.x))),
          mSy(roundToSingle(mSrcY / (source.mMaxPos.y - source.mMinPos.y))), mMinX(source.mMinPos.x),
          mMinY(source.mMinPos.y), mPos(source.store().pos()), mDir(source.store().dir()),
          mCount(source.store().count()), mVal(source.store().values()),
          mStride(static_cast<std::size_t>(source.store().stride())),
          mTarget{grid.store().pos(), grid.store().dir(), reinterpret_cast<Order *>(grid.store().count()),
                  grid.store().values(), static_cast<std::size_t>(grid.store().stride())}
    {
    }

    // One source row as a band's walk reads it.
    using Row = std::vector<RowPoint>;
    // The two rows of the row of cells being walked; allocated before any thread starts.
    struct Rows
    {
        Row lower, upper;
    };
    Rows rows() const
    {
        const std::size_t n = static_cast<std::size_t>(mSrcX);
        return {Row(n), Row(n)};
    }

    // Lowest and highest grid row (floor of y in grid index space) of each source row's
    // points, for rows first..last: where the cells of a row can write. Empty (lowest above
    // highest) for a row without a usable y.
    void spanRows(int firstRow, int lastRow, std::vector<int> &lowest, std::vector<int> &highest) const
    {
        for (int row = firstRow; row <= lastRow; ++row) {
            const Vector3 *p = mPos + static_cast<std::size_t>(row) * static_cast<std::size_t>(mSrcX);
            // Two points at a time; a NaN y leaves the extremes as they are.
            const double inf = std::numeric_limits<double>::infinity();
            Pair lo2 = {inf, inf}, hi2 = {-inf, -inf};
            const Pair origin = {mMinY, mMinY}, scale = {mSy, mSy};
            int i = 0;
            for (; i + 1 < mSrcX; i += 2) {
                const Pair y = (Pair{p[i].y, p[i + 1].y} - origin) * scale;
                lo2 = y < lo2 ? y : lo2;
                hi2 = y > hi2 ? y : hi2;
            }
            if (i < mSrcX) {
                const Pair y = (Pair{p[i].y, p[i].y} - origin) * scale;
                lo2 = y < lo2 ? y : lo2;
                hi2 = y > hi2 ? y : hi2;
            }
            const double lo = std::min(lo2[0], lo2[1]), hi = std::max(hi2[0], hi2[1]);
            // floor() is monotonic: the floors of the extremes are the extremes of the floors.
            const auto floorClamped = [](double v) {
                if (v < -2147483648.0)
                    return std::numeric_limits<int>::min();
                if (v >= 2147483648.0)
                    return std::numeric_limits<int>::max();
                return static_cast<int>(std::floor(v));
            };
            lowest[row] = floorClamped(lo);
            highest[row] = floorClamped(hi);
        }
    }

    // Walks the cells that can reach grid rows gyLo..gyHi, last row of cells first, and writes
    // those rows. Once `work` (this thread's point writes, carried over from band to band)
    // passes `budget` it sets `stop`; it also ends when another band has set it. afterRow is
    // called with the number of rows of cells walked.
    template <typename AfterRow>
    void run(int gyLo, int gyHi, const std::vector<int> &lowest, const std::vector<int> &highest, long long budget,
             long long &work, std::atomic<bool> &stop, Rows &rows, const AfterRow &afterRow) const
    {
        const int32_t cellsY = mSrcY - 2;
        int lowerRow = -1, upperRow = -1; // the source rows the buffers hold
        for (int j = mSrcY - 3; j >= 0; --j) {
            if (stop.load(std::memory_order_relaxed))
                return;
            if (std::max(highest[j], highest[j + 1]) >= gyLo && std::min(lowest[j], lowest[j + 1]) <= gyHi) {
                if (upperRow != j + 1) {
                    if (lowerRow == j + 1)
                        std::swap(rows.lower, rows.upper);
                    else
                        readRow(j + 1, gyLo, gyHi, rows.upper);
                }
                readRow(j, gyLo, gyHi, rows.lower);
                lowerRow = j;
                upperRow = j + 1;
                if (!walkRow(j, gyLo, gyHi, rows, budget, work)) {
                    stop.store(true, std::memory_order_relaxed);
                    return;
                }
            }
            afterRow(cellsY - j);
        }
    }

    // Ends grid rows gyLo..gyHi: marks become counts (2 for an interpolated point, the copied
    // source point's count for a copy, its cell (i, j) following from the order; 0 where
    // nothing was written), and every value slot past a point's count is set to 0, since the
    // values were not zero-filled beforehand. A mark that names no cell (a grid that was not
    // fresh) counts 0.
    void finish(int gyLo, int gyHi) const
    {
        if (gyLo > gyHi)
            return;
        const Order cellsY = Order(mSrcY - 2), cells = Order(mSrcX - 2) * cellsY;
        const std::size_t stride = mTarget.stride;
        Order *mark = mTarget.mark;
        float *values = mTarget.values;
        const auto point = [&](std::size_t t) {
            const Order m = mark[t];
            float *v = values + t * stride;
            if (m & 1) {
                const Order key = (m >> 1) - 1;
                Order count = key < cells ? Order(mCount[std::size_t(key % cellsY) * std::size_t(mSrcX) + key / cellsY]) : 0;
                count = std::min(count, Order(stride));
                mark[t] = count;
                std::fill(v + count, v + stride, 0.0f);
            } else if (m != 0) {
                mark[t] = 2;
                if (stride > 2) // the grid keeps two values; slots for more channels are cleared
                    std::fill(v + 2, v + stride, 0.0f);
            } else {
                std::fill(v, v + stride, 0.0f);
            }
        };
        std::size_t t = index(0, gyLo);
        const std::size_t end = index(0, gyHi) + std::size_t(mDimX);
#if defined(__SSE2__)
        // Four points at a time where all four were interpolated (marks even and not 0) and
        // the grid keeps two values, which the walk has set: only their counts change.
        if (stride == 2) {
            const __m128i one = _mm_set1_epi32(1), zero = _mm_setzero_si128(), two = _mm_set1_epi32(2);
            for (; t + 4 <= end; t += 4) {
                __m128i *at = reinterpret_cast<__m128i *>(mark + t);
                const __m128i m = _mm_loadu_si128(at);
                const __m128i other = _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(m, one), one), _mm_cmpeq_epi32(m, zero));
                if (_mm_movemask_epi8(other) == 0) {
                    _mm_storeu_si128(at, two);
                } else {
                    for (std::size_t k = t; k < t + 4; ++k)
                        point(k);
                }
            }
        }
#endif
        for (; t < end; ++t)
            point(t);
    }

private:
    // Cells (i, j) of one row, right to left, writing grid rows gyLo..gyHi; false once the
    // point writes (counted in `work`) exceed `budget`, checked after every cell that can
    // write more than its four points.
    bool walkRow(int j, int gyLo, int gyHi, const Rows &rows, long long budget, long long &work) const
    {
        // Locals, not members: the marks written may alias them as far as the compiler knows,
        // which would reload them at every cell.
        const int cells = mSrcX - 2;
        const Order orderStep = 2 * Order(mSrcY - 2);
        const std::size_t row = static_cast<std::size_t>(mDimX), srcRow = static_cast<std::size_t>(mSrcX);
        const double unitKeyStep = double(mDimX) + 2.0;
        const std::size_t rowStart = static_cast<std::size_t>(j) * srcRow;
        const RowPoint *lower = rows.lower.data(), *upper = rows.upper.data();
        const Target target = mTarget;
        // The unit cells with their corner (0, 0) at bandStart + [0, bandInner) have all four
        // points in the band.
        const std::size_t bandStart = static_cast<std::size_t>(gyLo) * row;
        const std::size_t bandInner = static_cast<std::size_t>(gyHi - gyLo) * row;
        std::size_t rightCorner = std::size_t(-1); // grid corner of the unit cell just walked
        Order order = 2 * (Order(cells - 1) * Order(mSrcY - 2) + Order(j) + 1);
        // Every cell counts as the four points of a unit cell; `beyond` corrects that for the
        // other cells, so that the unit cells need no count of their own.
        long long beyond = 0;
        // The row below is read next: its positions and flow are fetched while this one runs
        // (the bottom row fetches itself again, which is harmless). Its counts and channels,
        // a sixth as much, the hardware fetches well enough on its own.
        const std::size_t next = j > 0 ? rowStart - srcRow : rowStart;
        const Vector3 *nextPos = mPos + next, *nextDir = mDir + next;
        for (int i = cells - 1; i >= 0; --i, order -= orderStep) {
            __builtin_prefetch(nextPos + i);
            __builtin_prefetch(nextDir + i);
            // The usual cell of a grid resampled to its own point count. Walking backwards it
            // mostly writes just its corner (0, 0): the cells to its right and above come
            // later in the defining order and have written its other points.
            if (upper[i + 1].keys.key - lower[i].keys.key == unitKeyStep) {
                // Its corner's grid index; negative for a corner in row -1, below the grid.
                const std::size_t t = static_cast<std::size_t>(static_cast<long long>(lower[i].keys.corner));
                const bool rightDone = t + 1 == rightCorner;
                rightCorner = t;
                if (t - bandStart < bandInner) {
                    const Order limit = order + 1, s00 = target.mark[t];
                    if (s00 <= limit)
                        unitCorner(target, lower[i].edge, upper[i].edge, t, s00, order);
                    if (!rightDone || target.mark[t + row] <= limit)
                        unitRest(rowStart + std::size_t(i), t, order, rightDone, true, true);
                } else {
                    // Across the band's lower or upper edge: only its top or bottom points.
                    const bool bottomIn = t - bandStart < bandInner + row;
                    unitRest(rowStart + std::size_t(i), t, order, rightDone, bottomIn, !bottomIn);
                }
                continue;
            }
            rightCorner = std::size_t(-1);
            beyond -= 4;
            int x0, y0, x1, y1;
            const std::size_t k00 = rowStart + std::size_t(i), k11 = k00 + srcRow + 1;
            // Cells wholly below or above the band write nothing here.
            const bool corners = gridPoint(k00, x0, y0) && gridPoint(k11, x1, y1);
            if (!corners || (y0 < gyLo && y1 < gyLo) || (y0 > gyHi && y1 > gyHi))
                continue;
            cell(i, j, order, x0, y0, x1, y1, gyLo, gyHi, beyond);
            if (work + 4LL * (cells - i) + beyond > budget) {
                work += 4LL * (cells - i) + beyond;
                return false;
            }
        }
        work += 4LL * cells + beyond;
        return work <= budget;
    }

    // The points of the unit cell with corner k00 (source index) at grid point t that a cell
    // earlier in the walk has not written, other than the corner itself when both rows are in
    // the band; of its bottom points only, or its top points only, when the other row is not.
    // rightDone: the cell to the right was a unit cell with its corner at t + 1, so points
    // t + 1 and t + row + 1 are marked beyond this cell's limit (where in the band).
    __attribute__((noinline)) void unitRest(std::size_t k00, std::size_t t, Order order, bool rightDone, bool bottom,
                                            bool top) const
    {
        const Order *mark = mTarget.mark, limit = order + 1;
        const std::size_t row = static_cast<std::size_t>(mDimX), k01 = k00 + std::size_t(mSrcX);
        const Order none = Order(-1);
        const Order s00 = bottom && !top ? mark[t] : none, s10 = bottom && !rightDone ? mark[t + 1] : none;
        const Order s01 = top ? mark[t + row] : none, s11 = top && !rightDone ? mark[t + row + 1] : none;
        const Corners c{mDir[k00], mDir[k00 + 1], mDir[k01], mDir[k01 + 1], first(k00), first(k00 + 1), first(k01), first(k01 + 1)};
        if (s00 <= limit)
            unitPoint<0, 0>(mTarget, c, t, s00, order);
        if (s10 <= limit)
            unitPoint<1, 0>(mTarget, c, t + 1, s10, order);
        if (s01 <= limit)
            unitPoint<0, 1>(mTarget, c, t + row, s01, order);
        if (s11 <= limit)
            unitPoint<1, 1>(mTarget, c, t + row + 1, s11, order);
    }

    // Source point k in grid index space, rounded down; false when a coordinate is not finite
    // or out of int range (degenerate extents, far-away points): cells with that corner are
    // skipped.
    bool gridPoint(std::size_t k, int &x, int &y) const
    {
        return floorToInts((Pair{mPos[k].x, mPos[k].y} - Pair{mMinX, mMinY}) * Pair{mSx, mSy}, x, y);
    }

    // Source row `row` as the walk of grid rows gyLo..gyHi reads it; each band reads every row
    // once.
    void readRow(int row, int gyLo, int gyHi, Row &into) const
    {
        // Locals, not members: stores into the row may alias a member as far as the compiler
        // knows, which would reload it at every point.
        const int n = mSrcX;
        const double dimX = mDimX;
        const std::size_t k0 = static_cast<std::size_t>(row) * static_cast<std::size_t>(n), stride = mStride;
        const Vector3 *pos = mPos + k0, *dir = mDir + k0;
        const int32_t *count = mCount + k0;
        const float *values = stride ? mVal + k0 * stride : nullptr;
        const Pair origin = {mMinX, mMinY}, scale = {mSx, mSy};
        const KeyRanges ranges{0.0, double(gyLo) - 1.0, dimX, double(gyHi) + 2.0, dimX};
        RowPoint *out = into.data();
        for (int i = 0; i < n; i += 2) {
            const int second = std::min(i + 1, n - 1); // the last point twice in an odd row
            const Pair x = {pos[i].x, pos[second].x}, y = {pos[i].y, pos[second].y};
            unitKeys(ranges, (x - origin[0]) * scale[0], (y - origin[1]) * scale[1], out[i].keys, out[second].keys);
        }
        // Right to left, so that point i + 1's flow and channel are at hand for edge i.
        Pair nextFlow = {0.0, 0.0};
        float nextFirst = 0.0f;
        for (int i = n - 1; i >= 0; --i) {
            const Pair flow = {dir[i].x, dir[i].y};
            const float firstValue = count[i] > 0 ? values[std::size_t(i) * stride] : 0.0f;
            if (i + 1 < n) {
                const Pair e = (nextFlow - flow) * Pair{0.0, 0.0} + flow;
                out[i].edge = {e[0], e[1], (nextFirst - firstValue) * 0.0f + firstValue};
            }
            nextFlow = flow;
            nextFirst = firstValue;
        }
    }

    // First channel of a source point; a dataset without channels interpolates zeros.
    float first(std::size_t k) const { return mCount[k] > 0 ? mVal[k * mStride] : 0.0f; }

    // Cell (i, j) with diagonal corners (x0, y0) and (x1, y1) in grid index space, written
    // where it falls into grid rows gyLo..gyHi.
    __attribute__((noinline)) void cell(int i, int j, Order order, int x0, int y0, int x1, int y1, int gyLo, int gyHi, long long &work) const
    {
        const Order *mark = mTarget.mark, limit = order + 1;
        const std::size_t row = static_cast<std::size_t>(mSrcX);
        const std::size_t k00 = static_cast<std::size_t>(j) * row + static_cast<std::size_t>(i);

        if (x1 <= x0 && y1 <= y0) {
            // The cell lies within one grid cell: copy its corner (i, j) as it is.
            if (x0 < 0 || x0 >= mDimX || y0 < gyLo || y0 > gyHi)
                return;
            const std::size_t t = index(x0, y0);
            if (mark[t] > limit)
                return;
            mTarget.mark[t] = order + 1;
            mTarget.pos[t] = mPos[k00];
            mTarget.dir[t] = mDir[k00];
            for (int c = 0; c < mCount[k00]; ++c)
                mTarget.values[t * mTarget.stride + c] = mVal[k00 * mStride + c];
            return;
        }

        // Corner data only once the cell writes a point: most cells write one point, some none.
        const auto corners = [&] {
            const std::size_t k10 = k00 + 1, k01 = k00 + row, k11 = k01 + 1;
            const Vector3 &p00 = mDir[k00], &p01 = mDir[k01], &p10 = mDir[k10], &p11 = mDir[k11];
            return Cell{p00.x,     p00.y,     p01.x,     p01.y,     p10.x,
                        p10.y,     p11.x,     p11.y,     first(k00), first(k01),
                        first(k10), first(k11), static_cast<long long>(x1) - x0, static_cast<long long>(y1) - y0};
        };

        // Only grid points inside the band are written; clipping the loops keeps a cell with
        // far-away corners from spinning over points that would be skipped anyway.
        const int gxFrom = std::max(x0, 0), gxTo = std::min(x1, mDimX - 1);
        const int gyFrom = std::max(y0, gyLo), gyTo = std::min(y1, gyHi);
        if (gxFrom > gxTo || gyFrom > gyTo)
            return;
        work += (static_cast<long long>(gxTo) - gxFrom + 1) * (static_cast<long long>(gyTo) - gyFrom + 1);
        const Cell c = corners();
        for (int gx = gxFrom; gx <= gxTo; ++gx) {
            // Edges at the column's first write: most columns are decided by a later cell.
            bool haveEdges = false;
            Edges e{};
            for (int gy = gyFrom; gy <= gyTo; ++gy) {
                const std::size_t t = index(gx, gy);
                if (mark[t] > limit)
                    continue;
                if (!haveEdges) {
                    e = edgesAt(c, static_cast<long long>(gx) - x0);
                    haveEdges = true;
                }
                mTarget.store(t, c, e, static_cast<long long>(gy) - y0, order);
            }
        }
    }

    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(mDimX) + static_cast<std::size_t>(x);
    }

    const int mSrcX, mSrcY, mDimX, mDimY;
    const float mSx, mSy;
    const double mMinX, mMinY;
    const Vector3 *mPos, *mDir;
    const int32_t *mCount;
    const float *mVal;
    const std::size_t mStride;
    const Target mTarget;
};

// Below this many grid points handing a band to a second thread costs more than it saves.
constexpr std::size_t kTwoBandPoints = std::size_t(1) << 16;
// Bands of two threads: enough to even out their work, few enough that re-reading the source
// rows where bands meet costs little.
constexpr int kMinBandRows = 64;
constexpr int kMaxBands = 4;

// The thread of the upper band, kept for the process: starting a thread per resampling costs
// from tens of microseconds to milliseconds in a virtual machine. Never destroyed, as the
// block pool: a resampling may still run while the process ends.
struct BandWorker
{
    std::mutex inUse;
    SpinWorker worker;
};

BandWorker &bandWorker()
{
    static BandWorker *shared = new BandWorker;
    return *shared;
}

} // namespace

void Volume::calculateGridFrom(const Volume &source, QStringList *warnings)
{
    const int srcX = source.getDimX();
    const int srcY = source.getDimY();
    Progress progress(QStringLiteral("Calculating Grid ..."), 0, srcX - 2);
    if (source.pointCount() == 0 || srcX < 3 || srcY < 3 || pointCount() == 0
        || !mData.setChannelsUnfilled(std::max(2, source.store().stride()))) {
        progress.close();
        return;
    }

    const Resampler resampler(source, *this);

    // Cells of a sound grid cover a few grid points each. Crafted or broken positions can make
    // every cell span the whole grid, which would take cells x points steps (hours for a
    // million points): past a generous budget the resampling stops and says so.
    const long long budget = 64LL * static_cast<long long>(pointCount()) + 10000000LL;
    std::atomic<bool> stop{false};

    // Progress counts columns of cells (0 .. srcX - 3, in order) as the defining order does;
    // they are reported in proportion to the rows of cells done, on this thread only.
    const int columns = srcX - 2;
    int reported = 0;
    const auto reportUpTo = [&](long long done, long long total) {
        const int due = static_cast<int>(done * columns / total);
        while (reported < due)
            progress.setValue(reported++);
        progress.keepAlive();
    };

    // The grid is cut into bands of rows. Each band walks only the rows of cells that reach it,
    // known from a first pass over the rows; a point is only ever read or written by the walk
    // of its band. This thread and, when it is free, the process's band worker (one
    // resampling at a time uses it; another meanwhile works alone) take rows for the first
    // pass and then bands as they come, so that neither waits long for the other: the worker
    // may start late, and bands differ in work. Nothing else reads this grid meanwhile: views
    // wait for the load to end.
    BandWorker &shared = bandWorker();
    std::unique_lock<std::mutex> lease(shared.inUse, std::defer_lock);
    const bool twoThreads = pointCount() >= kTwoBandPoints && lease.try_lock() && shared.worker.ready();
    // Alone, one band: re-reading the rows where bands meet would cost without helping.
    const int bands = twoThreads ? std::clamp(mDimY / kMinBandRows, 1, kMaxBands) : 1;
    const int cellsY = srcY - 2;
    std::vector<int> lowest(static_cast<std::size_t>(srcY)), highest(static_cast<std::size_t>(srcY));
    std::atomic<int> nextSpanChunk{0}, rowsSpanned{0}, nextBand{0}, bandsDone{0};
    constexpr int kSpanChunk = 64;
    const auto share = [&](Resampler::Rows &rows, bool reports) {
        for (int chunk; (chunk = nextSpanChunk.fetch_add(1)) * kSpanChunk < srcY;) {
            const int first = chunk * kSpanChunk, last = std::min(first + kSpanChunk, srcY) - 1;
            resampler.spanRows(first, last, lowest, highest);
            rowsSpanned.fetch_add(last - first + 1);
        }
        // Rows taken by the other thread are being spanned right now: a short wait.
        while (rowsSpanned.load() < srcY)
            std::this_thread::yield();
        const long long ownBudget = twoThreads ? budget / 2 : budget;
        long long work = 0;
        for (int band; (band = nextBand.fetch_add(1)) < bands;) {
            const int gyLo = static_cast<int>(static_cast<long long>(band) * mDimY / bands);
            const int gyHi = static_cast<int>(static_cast<long long>(band + 1) * mDimY / bands) - 1;
            const auto afterRow = [&](int rowsDone) {
                if (reports)
                    reportUpTo(static_cast<long long>(bandsDone.load(std::memory_order_relaxed)) * cellsY + rowsDone,
                               static_cast<long long>(bands) * cellsY);
            };
            resampler.run(gyLo, gyHi, lowest, highest, ownBudget, work, stop, rows, afterRow);
            resampler.finish(gyLo, gyHi);
            bandsDone.fetch_add(1, std::memory_order_relaxed);
        }
    };
    Resampler::Rows ownRows = resampler.rows(), workerRows;
    if (twoThreads) {
        workerRows = resampler.rows();
        auto beside = [&] { share(workerRows, false); };
        shared.worker.together(beside, [&] { share(ownRows, true); });
    } else {
        share(ownRows, true);
    }
    if (!stop.load()) {
        reportUpTo(1, 1);
    } else {
        const QString warning = QStringLiteral("Resampling stopped: the dataset's cells overlap far beyond "
                                               "its grid (more than %1 grid point writes); the rest of "
                                               "the grid stays empty.")
                                    .arg(budget);
        qDebug().noquote() << warning;
        if (warnings)
            warnings->append(warning);
    }
    progress.close();
}
