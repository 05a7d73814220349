// The walk of one band of a resampling: source rows as the unit cells read them, the unit
// cells of a grid resampled to its own point count, the general cells, and the end of a band.

#include "data/Resampler.h"

#include "data/SinglePrecision.h"

#include <algorithm>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace resample {

Resampler::Resampler(const Volume &source, Volume &grid, RowRelease *release)
    : mSrcX(source.getDimX()), mSrcY(source.getDimY()), mDimX(grid.getDimX()), mDimY(grid.getDimY()),
      // The same scale factors as getGridPos.
      mSx(roundToSingle(mSrcX / (source.mMaxPos.x - source.mMinPos.x))),
      mSy(roundToSingle(mSrcY / (source.mMaxPos.y - source.mMinPos.y))), mMinX(source.mMinPos.x),
      mMinY(source.mMinPos.y), mPos(source.store().pos()), mDir(source.store().dir()),
      mCount(source.store().count()), mVal(source.store().values()),
      mStride(static_cast<std::size_t>(source.store().stride())),
      mTarget{grid.store().pos(), grid.store().dir(), reinterpret_cast<Order *>(grid.store().count()),
              grid.store().values(), static_cast<std::size_t>(grid.store().stride())},
      mRelease(release)
{
}

void Resampler::spanRows(int firstRow, int lastRow, std::vector<int> &lowest, std::vector<int> &highest) const
{
    // floor() is monotonic: the floors of the extremes are the extremes of the floors.
    const auto floorClamped = [](double v) {
        if (v < -2147483648.0)
            return std::numeric_limits<int>::min();
        if (v >= 2147483648.0)
            return std::numeric_limits<int>::max();
        return static_cast<int>(std::floor(v));
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Pair origin = {mMinY, mMinY}, scale = {mSy, mSy};
    for (int row = firstRow; row <= lastRow; ++row) {
        const Vector3 *p = mPos + static_cast<std::size_t>(row) * static_cast<std::size_t>(mSrcX);
        // Two points at a time; a NaN y leaves the extremes as they are.
        Pair lo2 = {inf, inf}, hi2 = {-inf, -inf};
        const auto take = [&](double a, double b) {
            const Pair y = (Pair{a, b} - origin) * scale;
            lo2 = y < lo2 ? y : lo2;
            hi2 = y > hi2 ? y : hi2;
        };
        int i = 0;
        for (; i + 1 < mSrcX; i += 2)
            take(p[i].y, p[i + 1].y);
        if (i < mSrcX) // the last point of an odd row, twice
            take(p[i].y, p[i].y);
        lowest[row] = floorClamped(std::min(lo2[0], lo2[1]));
        highest[row] = floorClamped(std::max(hi2[0], hi2[1]));
    }
}

void Resampler::run(int gyLo, int gyHi, const std::vector<int> &lowest, const std::vector<int> &highest,
                    long long budget, long long &work, std::atomic<bool> &stop, Rows &rows,
                    const std::function<void(int)> &afterRow) const
{
    const int32_t cellsY = mSrcY - 2;
    int lowerRow = -1, upperRow = -1; // the source rows the buffers hold
    // Rows this band has left behind: walking down, it never reads them again.
    const auto leave = [&](int row) {
        if (mRelease && row >= 0)
            mRelease->leave(row);
    };
    for (int j = mSrcY - 3; j >= 0; --j) {
        if (stop.load(std::memory_order_relaxed))
            return;
        if (reaches(j, gyLo, gyHi, lowest, highest)) {
            if (upperRow != j + 1) {
                leave(upperRow);
                if (lowerRow == j + 1) {
                    std::swap(rows.lower, rows.upper);
                } else {
                    leave(lowerRow);
                    readRow(j + 1, gyLo, gyHi, rows.upper);
                }
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
    leave(lowerRow);
    leave(upperRow);
}

void Resampler::finish(int gyLo, int gyHi) const
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

// Cells (i, j) of one row, right to left, writing grid rows gyLo..gyHi; false once the point
// writes (counted in `work`) exceed `budget`, checked after every cell that can write more
// than its four points.
bool Resampler::walkRow(int j, int gyLo, int gyHi, const Rows &rows, long long budget, long long &work) const
{
    // Locals, not members: the marks written may alias them as far as the compiler knows,
    // which would reload them at every cell.
    const int cells = mSrcX - 2;
    const Order orderStep = 2 * Order(mSrcY - 2);
    const std::size_t row = static_cast<std::size_t>(mDimX), srcRow = static_cast<std::size_t>(mSrcX);
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
        // mostly writes just its corner (0, 0): the cells to its right and above come later
        // in the defining order and have written its other points.
        const UnitKeys k0 = lower[i].keys, k1 = upper[i + 1].keys;
        if (k1.x == k0.x + 1 && k1.y == k0.y + 1) {
            // Its corner's grid index; wrapped around for a corner in row -1, below the grid.
            const std::size_t t = static_cast<std::size_t>(static_cast<long long>(k0.y) * mDimX + k0.x);
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
// rightDone: the cell to the right was a unit cell with its corner at t + 1, so points t + 1
// and t + row + 1 are marked beyond this cell's limit (where in the band).
__attribute__((noinline)) void Resampler::unitRest(std::size_t k00, std::size_t t, Order order, bool rightDone,
                                                   bool bottom, bool top) const
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

// Source row `row` as the walk of grid rows gyLo..gyHi reads it; each band reads every row
// it needs once.
void Resampler::readRow(int row, int gyLo, int gyHi, Row &into) const
{
    // Locals, not members: stores into the row may alias a member as far as the compiler
    // knows, which would reload it at every point.
    const int n = mSrcX;
    const double dimX = mDimX, fromY = double(gyLo) - 1.0, toY = double(gyHi) + 2.0;
    const std::size_t k0 = static_cast<std::size_t>(row) * static_cast<std::size_t>(n), stride = mStride;
    const Vector3 *pos = mPos + k0, *dir = mDir + k0;
    const int32_t *count = mCount + k0;
    const float *values = stride ? mVal + k0 * stride : nullptr;
    const double originX = mMinX, originY = mMinY, scaleX = mSx, scaleY = mSy;
    RowPoint *out = into.data();
    for (int i = 0; i < n; ++i) {
        // Keys where the floors lie in [0, dimX - 1] x [gyLo - 1, gyHi + 1]; NaN fails every
        // comparison. Truncation is floor for x >= 0, one above it for negative non-integer y.
        const double x = (pos[i].x - originX) * scaleX, y = (pos[i].y - originY) * scaleY;
        UnitKeys keys{kNoKey, 0};
        if (x >= 0.0 && x < dimX && y >= fromY && y < toY) {
            keys.x = static_cast<int>(x);
            keys.y = static_cast<int>(y);
            keys.y -= y < keys.y ? 1 : 0;
        }
        out[i].keys = keys;
    }
    // Right to left, so that point i + 1's flow and channel are at hand for edge i.
    Pair nextFlow = {0.0, 0.0};
    float nextFirst = 0.0f;
    for (int i = n - 1; i >= 0; --i) {
        const Pair flow = {dir[i].x, dir[i].y};
        const float firstValue = count[i] > 0 ? values[std::size_t(i) * stride] : 0.0f;
        if (i + 1 < n)
            out[i].edge = rowEdge(flow, nextFlow, firstValue, nextFirst);
        nextFlow = flow;
        nextFirst = firstValue;
    }
}

// A cell within one grid cell: its corner k00 copied as it is to grid point (x0, y0).
void Resampler::copyCorner(std::size_t k00, int x0, int y0, int gyLo, int gyHi, Order order) const
{
    if (x0 < 0 || x0 >= mDimX || y0 < gyLo || y0 > gyHi)
        return;
    const std::size_t t = index(x0, y0);
    if (mTarget.mark[t] > order + 1)
        return;
    mTarget.mark[t] = order + 1;
    mTarget.pos[t] = mPos[k00];
    mTarget.dir[t] = mDir[k00];
    for (int c = 0; c < mCount[k00]; ++c)
        mTarget.values[t * mTarget.stride + c] = mVal[k00 * mStride + c];
}

// Cell (i, j) with diagonal corners (x0, y0) and (x1, y1) in grid index space, written where
// it falls into grid rows gyLo..gyHi.
__attribute__((noinline)) void Resampler::cell(int i, int j, Order order, int x0, int y0, int x1, int y1, int gyLo,
                                               int gyHi, long long &work) const
{
    const Order *mark = mTarget.mark, limit = order + 1;
    const std::size_t row = static_cast<std::size_t>(mSrcX);
    const std::size_t k00 = static_cast<std::size_t>(j) * row + static_cast<std::size_t>(i);
    if (x1 <= x0 && y1 <= y0) {
        copyCorner(k00, x0, y0, gyLo, gyHi, order);
        return;
    }
    // Only grid points inside the band are written; clipping the loops keeps a cell with
    // far-away corners from spinning over points that would be skipped anyway.
    const int gxFrom = std::max(x0, 0), gxTo = std::min(x1, mDimX - 1);
    const int gyFrom = std::max(y0, gyLo), gyTo = std::min(y1, gyHi);
    if (gxFrom > gxTo || gyFrom > gyTo)
        return;
    work += (static_cast<long long>(gxTo) - gxFrom + 1) * (static_cast<long long>(gyTo) - gyFrom + 1);
    // Corner data only once the cell writes a point: most cells write one point, some none.
    const std::size_t k10 = k00 + 1, k01 = k00 + row, k11 = k01 + 1;
    const Vector3 &p00 = mDir[k00], &p01 = mDir[k01], &p10 = mDir[k10], &p11 = mDir[k11];
    const Cell c{p00.x,      p00.y,      p01.x,      p01.y,      p10.x,
                 p10.y,      p11.x,      p11.y,      first(k00), first(k01),
                 first(k10), first(k11), static_cast<long long>(x1) - x0, static_cast<long long>(y1) - y0};
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

} // namespace resample
