#pragma once

// One resampling of a loaded dataset onto a regular grid, cut into bands of grid rows (see
// Resample.cpp for the defining order and why any walk gives the same grid). Internal to the
// resampling (data/Resample*.cpp).

#include "data/ResampleKernel.h"
#include "data/Volume.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

namespace resample {

// Where a source point lies for the unit cells that write into the band of grid rows being
// walked (cells one grid unit wide and high, within the grid's columns, their corner (0, 0)
// in the rows from one below the band to the band's last): the floor of its grid position,
// for a point within the grid's columns and the rows from one below the band to one above
// it; x is kNoKey for others. Cell (i, j) is such a cell exactly when its corners satisfy
// x1 == x0 + 1 && y1 == y0 + 1: kNoKey on either side cannot (it is far below any column).
struct UnitKeys
{
    int x;
    int y;
};
constexpr int kNoKey = -(1 << 30);

// Source point i of a row as the walk over the unit cells reads it: one buffer, so that the
// walk keeps few pointers (it has more values live than registers).
struct RowPoint
{
    UnitKeys keys;
    RowEdge edge; // unset at the row's last point
};

// Counts down, per chunk of source rows, the band rows that still read it, and gives the
// chunk's memory back (PointStore::discardPoints) once none does. Shared by the bands of one
// resampling. Chunks, not rows: each give-back is a system call that also splits the huge
// pages it cuts into, and one per row cost more system time than the resampling itself.
class RowRelease
{
public:
    explicit RowRelease(Volume *source) : mSource(source) {}
    // `readers[r]`: how many bands read source row r. Before any band leaves a row.
    void start(const std::vector<int> &readers);
    // A band is past row r: it will not read it again.
    void leave(int row);

private:
    // Gives back the rows of chunk c, and the pages it shares with finished neighbours.
    void release(int c);

    Volume *mSource;
    int mRows = 0;
    int mChunkRows = 1;
    std::vector<std::atomic<int>> mLeft; // per chunk: band rows still to leave
};

class Resampler
{
public:
    // `release`, if given, is told of every source row a band is done with.
    Resampler(const Volume &source, Volume &grid, RowRelease *release = nullptr);

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
    void spanRows(int firstRow, int lastRow, std::vector<int> &lowest, std::vector<int> &highest) const;

    // Whether the cells of row j (source rows j and j + 1) can reach grid rows gyLo..gyHi.
    static bool reaches(int j, int gyLo, int gyHi, const std::vector<int> &lowest, const std::vector<int> &highest)
    {
        return std::max(highest[j], highest[j + 1]) >= gyLo && std::min(lowest[j], lowest[j + 1]) <= gyHi;
    }

    // Walks the cells that can reach grid rows gyLo..gyHi, last row of cells first, and writes
    // those rows. Once `work` (this thread's point writes, carried over from band to band)
    // passes `budget` it sets `stop`; it also ends when another band has set it. afterRow is
    // called with the number of rows of cells walked.
    void run(int gyLo, int gyHi, const std::vector<int> &lowest, const std::vector<int> &highest, long long budget,
             long long &work, std::atomic<bool> &stop, Rows &rows, const std::function<void(int)> &afterRow) const;

    // Ends grid rows gyLo..gyHi: marks become counts (2 for an interpolated point, the copied
    // source point's count for a copy, its cell (i, j) following from the order; 0 where
    // nothing was written), and every value slot past a point's count is set to 0, since the
    // values were not zero-filled beforehand. A mark that names no cell (a grid that was not
    // fresh) counts 0. Reads the source's counts (never released during a resampling).
    void finish(int gyLo, int gyHi) const;

private:
    bool walkRow(int j, int gyLo, int gyHi, const Rows &rows, long long budget, long long &work) const;
    void unitRest(std::size_t k00, std::size_t t, Order order, bool rightDone, bool bottom, bool top) const;
    void readRow(int row, int gyLo, int gyHi, Row &into) const;
    void cell(int i, int j, Order order, int x0, int y0, int x1, int y1, int gyLo, int gyHi, long long &work) const;
    void copyCorner(std::size_t k00, int x0, int y0, int gyLo, int gyHi, Order order) const;

    // Source point k in grid index space, rounded down; false when a coordinate is not finite
    // or out of int range (degenerate extents, far-away points): cells with that corner are
    // skipped.
    bool gridPoint(std::size_t k, int &x, int &y) const
    {
        return floorToInts((Pair{mPos[k].x, mPos[k].y} - Pair{mMinX, mMinY}) * Pair{mSx, mSy}, x, y);
    }

    // First channel of a source point; a dataset without channels interpolates zeros.
    float first(std::size_t k) const { return mCount[k] > 0 ? mVal[k * mStride] : 0.0f; }

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
    RowRelease *const mRelease;
};

} // namespace resample
