#pragma once

#include <QVector>

class QIODevice;

#include <climits>

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
// Cell (cx, cy) is entry cy * mWidth + cx of mCells. Write cells through addPoint() only:
// the grid remembers the range of indices it was given, which lets the seeding's
// separation test know that no stored index can be out of bounds.
class SeparationGrid
{
public:
    // Larger grids are refused by setSize(): with side >= 1 grid unit that is a field of
    // 4096 x 4096 cells, far beyond any dataset this tool shows, and an empty cell already
    // costs a few dozen bytes.
    static constexpr qint64 kMaxCells = qint64(1) << 24;

    SeparationGrid();
    // w x h empty cells. Negative sizes count as 0; a grid of more than kMaxCells cells is
    // refused with a console message and the grid stays 0 x 0.
    void setSize(int w, int h);
    // Takes over the cell storage of a grid that is being replaced, emptied, so the next
    // setSize() reuses its memory instead of allocating (and faulting in) a fresh block and
    // a fresh list per cell. Call on a new grid before setSize().
    void reuseStorageOf(SeparationGrid &previous);
    bool isValidCell(double cx, double cy) const;
    // The valid cells of the 3 x 3 block around (cx, cy), column by column.
    QVector<Vector2> getNeighbourCells(double cx, double cy) const;
    // Stores index in cell (cx, cy); a cell outside the grid is reported on the console
    // ("index out of range") and nothing is stored.
    void addPoint(int cx, int cy, int index)
    {
        // For whole numbers isValidCell reduces to the four bounds (the entry number is then
        // below mWidth * mHeight); inline, as the seeding files every traced point here.
        if (cx >= 0 && cx < mWidth && cy >= 0 && cy < mHeight) {
            const qsizetype k = qsizetype(cy) * mWidth + cx;
            if (k < mCells.size()) {
                mCells.data()[k].append(index);
                mMinIndex = index < mMinIndex ? index : mMinIndex;
                mMaxIndex = index > mMaxIndex ? index : mMaxIndex;
                mRevision = ++sRevisions;
                return;
            }
        }
        reportOutside(cx, cy);
    }
    // addPoint(cx, cy, i) for i = first, ..., first + count - 1, in one go.
    void addPoints(int cx, int cy, int first, int count)
    {
        if (cx >= 0 && cx < mWidth && cy >= 0 && cy < mHeight) {
            const qsizetype k = qsizetype(cy) * mWidth + cx;
            if (k < mCells.size()) {
                QVector<int> &cell = mCells.data()[k];
                const qsizetype size = cell.size();
                cell.resize(size + count);
                int *indices = cell.data() + size;
                for (int i = 0; i < count; ++i)
                    indices[i] = first + i;
                const int last = first + count - 1;
                mMinIndex = first < mMinIndex ? first : mMinIndex;
                mMaxIndex = last > mMaxIndex ? last : mMaxIndex;
                mRevision = ++sRevisions;
                return;
            }
        }
        for (int i = 0; i < count; ++i)
            reportOutside(cx, cy);
    }
    // A copy of the cell's index list; empty for an entry number outside the cells.
    QVector<int> getCell(int cx, int cy) const;
    // Writes the cell counts to "grid.log" in the working directory. Returns false (after a
    // console message) when the file cannot be written.
    bool writeLog() const;
    // The same counts to any open device (a tab before each count, a line per row of cells).
    // Returns false when a write fails; says nothing.
    bool writeLog(QIODevice &device) const;

    // True when every index stored so far lies in [0, count).
    bool indicesBelow(qsizetype count) const { return mMinIndex >= 0 && mMaxIndex < count; }
    // Changes with every setSize() and every stored index, and differs between grids, so a
    // mirror of the cells (the seeding's point index) can tell whether it is still in step.
    quint64 revision() const { return mRevision; }

    int mWidth = 0;
    int mHeight = 0;
    QVector<QVector<int>> mCells;

private:
    void reportOutside(int cx, int cy) const;
    // Revisions are unique across all grids (everything runs on the GUI thread).
    static inline quint64 sRevisions = 0;
    int mMinIndex = INT_MAX;
    int mMaxIndex = -1;
    quint64 mRevision = 0;
};
