#pragma once

#include <QVector>

class QIODevice;

#include <climits>
#include <vector>

// A pair of cell coordinates.
struct Vector2
{
    double x = 0.0;
    double y = 0.0;
    Vector2() = default;
    Vector2(double px, double py) : x(px), y(py) {}
};

// Square cells of side dSep over the streamline field; each cell lists the indices of the
// traced points (into the seeding's point list) that fall into it, so a closeness query
// looks only at the 3 x 3 cells around a position.
//
// Cell (cx, cy) is entry cy * mWidth + cx. A cell's list is a chain of runs of consecutive
// indices, in the order they were added: a traced line passes a cell with a few points in a
// row, so a run costs a dozen bytes where a list per cell would cost an allocation. The
// seeding's separation test (SeparationTest) owns its grid and stores only indices of points
// it holds.
class SeparationGrid
{
public:
    // Larger grids are refused by setSize(): with side >= 1 grid unit that is a field of
    // 4096 x 4096 cells, far beyond any dataset this tool shows.
    static constexpr qint64 kMaxCells = qint64(1) << 24;

    SeparationGrid() = default;
    // w x h empty cells. Negative sizes count as 0; a grid of more than kMaxCells cells is
    // refused with a console message and the grid stays 0 x 0.
    void setSize(int w, int h);
    // Takes over the cell storage of a grid that is being replaced, emptied, so the next
    // setSize() reuses its memory instead of allocating (and faulting in) a fresh block.
    // Call on a new grid before setSize().
    void reuseStorageOf(SeparationGrid &previous);
    bool isValidCell(double cx, double cy) const;
    // The valid cells of the 3 x 3 block around (cx, cy), column by column.
    QVector<Vector2> getNeighbourCells(double cx, double cy) const;
    // Stores index in cell (cx, cy); a cell outside the grid is reported on the console
    // ("index out of range") and nothing is stored.
    void addPoint(int cx, int cy, int index) { addPoints(cx, cy, index, 1); }
    // addPoint(cx, cy, i) for i = first, ..., first + count - 1, in one go.
    void addPoints(int cx, int cy, int first, int count)
    {
        // Inline: the seeding files every traced point here.
        if (count <= 0)
            return;
        if (cx >= 0 && cx < mWidth && cy >= 0 && cy < mHeight) {
            const size_t k = size_t(cy) * size_t(mWidth) + size_t(cx);
            const int last = first + (count - 1); // first + count may pass INT_MAX
            const int tail = mTail[k];
            // Continues the cell's last run when it ends just before `first` (no int overflow:
            // a run's end is below INT_MAX, as its last index is).
            if (tail >= 0 && mRuns[size_t(tail)].last != INT_MAX && mRuns[size_t(tail)].last + 1 == first) {
                mRuns[size_t(tail)].last = last;
            } else {
                const int run = int(mRuns.size());
                mRuns.push_back({first, last, -1});
                if (tail >= 0)
                    mRuns[size_t(tail)].next = run;
                else
                    mHead[k] = run;
                mTail[k] = run;
            }
            mCount[k] += count;
            return;
        }
        for (int i = 0; i < count; ++i)
            reportOutside(cx, cy);
    }
    // A copy of the cell's index list; empty for an entry number outside the cells.
    QVector<int> getCell(int cx, int cy) const;
    // visit(index) for the indices of entry k (in [0, mWidth * mHeight)) in their order,
    // until it returns true; whether it did.
    template <typename Visit>
    bool visitCell(size_t k, Visit &&visit) const
    {
        for (int r = mHead[k]; r >= 0; r = mRuns[size_t(r)].next) {
            const Run &run = mRuns[size_t(r)];
            for (int i = run.first;; ++i) {
                if (visit(i))
                    return true;
                if (i == run.last)
                    break;
            }
        }
        return false;
    }
    // Writes the cell counts to "grid.log" in the working directory. Returns false (after a
    // console message) when the file cannot be written.
    bool writeLog() const;
    // The same counts to any open device (a tab before each count, a line per row of cells).
    // Returns false when a write fails; says nothing.
    bool writeLog(QIODevice &device) const;

    // The address of entry k's chain, for callers that fetch it ahead of addPoints.
    const int *tailOf(size_t k) const { return mTail.data() + k; }

    int mWidth = 0;
    int mHeight = 0;

private:
    // Indices first ... last (inclusive) of one cell, and the cell's next run (-1: none).
    struct Run
    {
        int first;
        int last;
        int next;
    };
    void reportOutside(int cx, int cy) const;
    std::vector<int> mHead; // per entry: its first run, -1 when empty
    std::vector<int> mTail; // per entry: its last run
    std::vector<qint64> mCount; // per entry: its indices (the log reads them in entry order)
    std::vector<Run> mRuns;
};
