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
// - splitting the grid into two bands of rows, each walked by its own thread: a point is
//   only ever read or written by the thread of its band.

#include "Progress.h"
#include "SinglePrecision.h"
#include "SpinWorker.h"
#include "Volume.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A source point as the walk over its row of cells reads it: its position in grid index
// space, rounded down, and its first channel value (0 without channels). `ok` is false when
// a coordinate is not finite or out of int range (degenerate extents, far-away points), and
// the cells with that corner are skipped.
struct RowPoint
{
    int x = 0;
    int y = 0;
    float first = 0.0f;
    bool ok = false;
};

using Pair = double __attribute__((vector_size(16)));
using PairMask = long long __attribute__((vector_size(16)));
using IntPair = int __attribute__((vector_size(8)));

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

// The cells one grid unit wide and high of one row of cells: source rows `bottom` and `top`
// of flow, the grid's rows `row` points apart.
struct UnitCells
{
    const Vector3 *bottom, *top;
    Target target;
    std::size_t row;

    // Cell i with its corner (x0, y0) at grid point t, its points (a, b) at t + a + b * row,
    // and the corners' first channels in the row buffers. rightDone: the cell to the right,
    // later in the defining order, was a unit cell with its corner at t + 1, so points t + 1
    // and t + row + 1 are marked beyond this cell's limit.
    void write(int i, const RowPoint *low, const RowPoint *high, std::size_t t, Order order, bool rightDone) const
    {
        const Order *mark = target.mark, limit = order + 1;
        const Order s00 = mark[t], s01 = mark[t + row];
        const Order s10 = rightDone ? Order(-1) : mark[t + 1], s11 = rightDone ? Order(-1) : mark[t + row + 1];
        if (s00 > limit && s10 > limit && s01 > limit && s11 > limit)
            return;
        const Corners c{bottom[i], bottom[i + 1], top[i], top[i + 1], low[0].first, low[1].first, high[0].first, high[1].first};
        if (s00 <= limit)
            point<0, 0>(c, t, s00, order);
        if (s10 <= limit)
            point<1, 0>(c, t + 1, s10, order);
        if (s01 <= limit)
            point<0, 1>(c, t + row, s01, order);
        if (s11 <= limit)
            point<1, 1>(c, t + row + 1, s11, order);
    }

    struct Corners
    {
        const Vector3 &p00, &p10, &p01, &p11;
        float v00, v10, v01, v11;
    };

    // Point (A, B) of a cell, written at grid point u over `previous`. With spans of 1 the
    // interpolation's "/ span" drops out: x / 1 is x, NaN included.
    template <int A, int B>
    void point(const Corners &c, std::size_t u, Order previous, Order order) const
    {
        const double a = A, b = B;
        const float af = A, bf = B;
        const double bx = (c.p10.x - c.p00.x) * a + c.p00.x, by = (c.p10.y - c.p00.y) * a + c.p00.y;
        const double tx = (c.p11.x - c.p01.x) * a + c.p01.x, ty = (c.p11.y - c.p01.y) * a + c.p01.y;
        const float bv = (c.v10 - c.v00) * af + c.v00, tv = (c.v11 - c.v01) * af + c.v01;
        target.put(u, (tx - bx) * b + bx, (ty - by) * b + by, (tv - bv) * bf + bv, previous, order);
    }
};

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

    // Row buffers of one band's walk, allocated before any thread starts.
    struct Rows
    {
        std::vector<RowPoint> lower, upper;
    };
    Rows rows() const { return {std::vector<RowPoint>(mSrcX), std::vector<RowPoint>(mSrcX)}; }

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
    // those rows. Past `budget` point writes it sets `stop`; it also ends when another band has
    // set it. afterRow (may be empty) is called with the number of rows of cells walked.
    void run(int gyLo, int gyHi, const std::vector<int> &lowest, const std::vector<int> &highest,
             long long budget, std::atomic<bool> &stop, Rows &rows, const std::function<void(int)> &afterRow) const
    {
        const int32_t cellsY = mSrcY - 2;
        long long work = 0;
        int lowerRow = -1, upperRow = -1; // the source rows the buffers hold
        for (int j = mSrcY - 3; j >= 0; --j) {
            if (stop.load(std::memory_order_relaxed))
                return;
            if (std::max(highest[j], highest[j + 1]) >= gyLo && std::min(lowest[j], lowest[j + 1]) <= gyHi) {
                if (upperRow != j + 1) {
                    if (lowerRow == j + 1)
                        rows.lower.swap(rows.upper);
                    else
                        readRow(j + 1, rows.upper);
                }
                readRow(j, rows.lower);
                lowerRow = j;
                upperRow = j + 1;
                if (!walkRow(j, gyLo, gyHi, rows, budget, work)) {
                    stop.store(true, std::memory_order_relaxed);
                    return;
                }
            }
            if (afterRow)
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
        for (std::size_t t = index(0, gyLo), end = index(0, gyHi) + std::size_t(mDimX); t < end; ++t) {
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
        }
    }

private:
    // Cells (i, j) of one row, right to left, writing grid rows gyLo..gyHi; false once the
    // point writes (counted in `work`) exceed `budget`, checked after every cell that can
    // write more than its four points.
    bool walkRow(int j, int gyLo, int gyHi, const Rows &rows, long long budget, long long &work) const
    {
        // Locals, not members: the marks written may alias an int member as far as the
        // compiler knows, which would reload it at every cell.
        const int32_t cellsY = mSrcY - 2;
        const int dimX = mDimX;
        const std::size_t rowStart = static_cast<std::size_t>(j) * static_cast<std::size_t>(mSrcX);
        const RowPoint *lower = rows.lower.data(), *upper = rows.upper.data();
        const UnitCells unitCells{mDir + rowStart, mDir + rowStart + std::size_t(mSrcX), mTarget, std::size_t(dimX)};
        std::size_t rightCorner = std::size_t(-1); // grid corner of the unit cell just walked
        Order order = 2 * (Order(mSrcX - 3) * Order(cellsY) + Order(j) + 1);
        // The row below is read next: its positions and flow are fetched while this one runs.
        const Vector3 *nextPos = j > 0 ? mPos + rowStart - std::size_t(mSrcX) : nullptr;
        const Vector3 *nextDir = j > 0 ? mDir + rowStart - std::size_t(mSrcX) : nullptr;
        const int32_t *nextCount = j > 0 ? mCount + rowStart - std::size_t(mSrcX) : nullptr;
        const float *nextValues = j > 0 && mStride ? mVal + (rowStart - std::size_t(mSrcX)) * mStride : nullptr;
        for (int i = mSrcX - 3; i >= 0; --i, order -= 2 * Order(cellsY)) {
            if (nextPos) {
                __builtin_prefetch(nextPos + i);
                __builtin_prefetch(nextDir + i);
                __builtin_prefetch(nextCount + i);
                if (nextValues)
                    __builtin_prefetch(nextValues + std::size_t(i) * mStride);
            }
            const RowPoint &c00 = lower[i], &c11 = upper[i + 1];
            const int x0 = c00.x, y0 = c00.y, x1 = c11.x, y1 = c11.y;
            // The usual cell of a grid resampled to its own point count: one grid unit each
            // way and inside the band. Unsigned arithmetic: in range tests without overflow.
            const bool unit = c00.ok & c11.ok & (unsigned(y0) - unsigned(gyLo) < unsigned(gyHi - gyLo))
                              & (unsigned(x0) < unsigned(dimX - 1)) & (unsigned(x1) - unsigned(x0) == 1u)
                              & (unsigned(y1) - unsigned(y0) == 1u);
            if (unit) {
                work += 4;
                const std::size_t t = std::size_t(y0) * std::size_t(dimX) + std::size_t(x0);
                unitCells.write(i, lower + i, upper + i, t, order, t + 1 == rightCorner);
                rightCorner = t;
                continue;
            }
            rightCorner = std::size_t(-1);
            // Cells wholly below or above the band write nothing here.
            if (!(c00.ok & c11.ok) || (y0 < gyLo && y1 < gyLo) || (y0 > gyHi && y1 > gyHi))
                continue;
            cell(i, j, order, x0, y0, x1, y1, gyLo, gyHi, work);
            if (work > budget)
                return false;
        }
        return work <= budget;
    }

    // Source row `row` as its cells read it; each band reads every row once.
    void readRow(int row, std::vector<RowPoint> &into) const
    {
        // Locals, not members: stores into the row may alias an int member as far as the
        // compiler knows, which would reload it at every point.
        const int n = mSrcX;
        const std::size_t k0 = static_cast<std::size_t>(row) * static_cast<std::size_t>(n), stride = mStride;
        const Vector3 *pos = mPos + k0;
        const int32_t *count = mCount + k0;
        const float *first = stride ? mVal + k0 * stride : nullptr;
        const Pair origin = {mMinX, mMinY}, scale = {mSx, mSy};
        RowPoint *out = into.data();
        for (int i = 0; i < n; ++i) {
            RowPoint &r = out[i];
            r.ok = floorToInts((Pair{pos[i].x, pos[i].y} - origin) * scale, r.x, r.y);
            r.first = count[i] > 0 ? first[std::size_t(i) * stride] : 0.0f;
        }
    }

    // First channel of a source point; a dataset without channels interpolates zeros.
    float first(std::size_t k) const { return mCount[k] > 0 ? mVal[k * mStride] : 0.0f; }

    // Cell (i, j) with diagonal corners (x0, y0) and (x1, y1) in grid index space, written
    // where it falls into grid rows gyLo..gyHi.
    void cell(int i, int j, Order order, int x0, int y0, int x1, int y1, int gyLo, int gyHi, long long &work) const
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

void Volume::calculateGridFrom(const Volume &source)
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
    // they are reported in proportion to the rows of cells done.
    const int columns = srcX - 2;
    const int cellsY = srcY - 2;
    int reported = 0;
    const auto afterRow = [&](int rowsDone) {
        const int due = static_cast<int>(int64_t(rowsDone) * columns / cellsY);
        while (reported < due)
            progress.setValue(reported++);
        progress.keepAlive();
    };

    // The lower band of grid rows on this thread (it keeps the window live), the upper one on
    // the process's band worker, when it is free (one resampling at a time uses it; another
    // meanwhile walks one band). Each walks only the rows of cells that reach its band, known
    // from a first pass over the rows, also split. Nothing else reads this grid meanwhile:
    // views wait for the load to end.
    std::vector<int> lowest(static_cast<std::size_t>(srcY)), highest(static_cast<std::size_t>(srcY));
    Resampler::Rows lowerRows = resampler.rows(), upperRows;
    const int half = srcY / 2, middle = mDimY / 2;
    // Both threads finish the first pass before either walks cells; a short spin, since the
    // two halves take about as long.
    std::atomic<int> halvesSpanned{0};
    const auto spanned = [&halvesSpanned] {
        halvesSpanned.fetch_add(1);
        while (halvesSpanned.load() < 2)
            std::this_thread::yield();
    };
    auto upperBand = [&] {
        resampler.spanRows(half, srcY - 1, lowest, highest);
        spanned();
        resampler.run(middle, mDimY - 1, lowest, highest, budget / 2, stop, upperRows, {});
        resampler.finish(middle, mDimY - 1);
    };
    BandWorker &shared = bandWorker();
    std::unique_lock<std::mutex> lease(shared.inUse, std::defer_lock);
    SpinWorker *worker = nullptr;
    if (pointCount() >= kTwoBandPoints && mDimY >= 2 && lease.try_lock() && shared.worker.ready()) {
        upperRows = resampler.rows();
        worker = &shared.worker;
    }
    if (worker) {
        worker->together(upperBand, [&] {
            resampler.spanRows(0, half - 1, lowest, highest);
            spanned();
            resampler.run(0, middle - 1, lowest, highest, budget / 2, stop, lowerRows, afterRow);
            resampler.finish(0, middle - 1);
        });
    } else {
        resampler.spanRows(0, srcY - 1, lowest, highest);
        resampler.run(0, mDimY - 1, lowest, highest, budget, stop, lowerRows, afterRow);
        resampler.finish(0, mDimY - 1);
    }
    if (stop.load())
        qDebug().noquote() << QStringLiteral("Resampling stopped: the dataset's cells overlap far beyond "
                                             "its grid (more than %1 grid point writes); the rest of "
                                             "the grid stays empty.")
                                  .arg(budget);
    progress.close();
}
