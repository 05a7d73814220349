#include "streamlines/SeparationTest.h"

#include <algorithm>
#include <climits>
#include <cmath>

using namespace seedingMath;

namespace {

// floor(v) as an int cell number; values beyond the int range saturate, so a position far
// outside the grid still names a cell outside it (and is reported by addPoints).
int cellNumber(double v)
{
    const double f = floorOf(v);
    if (f >= 2147483647.0)
        return INT_MAX;
    if (f >= -2147483648.0)
        return int(f);
    return INT_MIN; // also NaN
}

} // namespace

void SeparationTest::start(double side, int width, int height, double testDistance, double step)
{
    // The grid being replaced (or the one clear() put aside) lends its storage: a fresh block
    // would be faulted in anew on every run.
    std::unique_ptr<SeparationGrid> previous = mGrid ? std::move(mGrid) : std::move(mSpare);
    mSpare.reset();
    mGrid = std::make_unique<SeparationGrid>();
    if (previous)
        mGrid->reuseStorageOf(*previous);
    previous.reset();
    mGrid->setSize(width, height);
    mSide = side;
    mPoints.clear();
    mIndex.start(side, mGrid->mWidth, mGrid->mHeight, testDistance, step);
    mUnfiled = 0;
    forgetWitnesses();
}

void SeparationTest::clear()
{
    if (mGrid)
        mSpare = std::move(mGrid);
    mPoints.clear();
    mSide = 0.0;
    mUnfiled = 0;
    forgetWitnesses();
}

std::unique_ptr<SeparationGrid> SeparationTest::takeGrid()
{
    forgetWitnesses();
    return std::move(mGrid);
}

void SeparationTest::store(const QVector<Vector3> &line)
{
    const qsizetype first = mPoints.size();
    const qsizetype n = line.size();
    const Vector3 *out = line.constData();
    mPoints.append(line.constBegin(), line.constEnd());
    if (!mGrid)
        return;
    const double side = mSide;
    const double inverse = mIndex.inverseSide();
    SeparationGrid &grid = *mGrid;
    // Each point's cell, and its entry in the grid (-1: outside the grid).
    mLineCells.resize(size_t(3 * n));
    int *cells = mLineCells.data();
    for (qsizetype k = 0; k < n; ++k) {
        if (k > 0 && samePosition(out[k], out[k - 1])) { // a trace standing still
            std::copy(cells + 3 * (k - 1), cells + 3 * k, cells + 3 * k);
            continue;
        }
        const int cx = cellNumber(cellOf(out[k].x, side, inverse));
        const int cy = cellNumber(cellOf(out[k].y, side, inverse));
        const bool inGrid = cx >= 0 && cx < grid.mWidth && cy >= 0 && cy < grid.mHeight;
        cells[3 * k] = cx;
        cells[3 * k + 1] = cy;
        cells[3 * k + 2] = inGrid ? cy * grid.mWidth + cx : -1;
    }
    // Consecutive points in one cell are stored together, as the run [k, end).
    for (qsizetype k = 0; k < n;) {
        const int key = cells[3 * k + 2];
        qsizetype end = k + 1;
        if (key >= 0)
            while (end < n && cells[3 * end + 2] == key)
                ++end;
        // A fine grid's entries lie far apart in memory: the one an append reads is fetched
        // a few points ahead.
        if (end + 8 < n && cells[3 * (end + 8) + 2] >= 0)
            __builtin_prefetch(grid.tailOf(size_t(cells[3 * (end + 8) + 2])));
        grid.addPoints(cells[3 * k], cells[3 * k + 1], int(first + k), int(end - k));
        if (key >= 0)
            mIndex.file(out + k, cells[3 * k], cells[3 * k + 1], int(first + k), int(end - k));
        else
            mUnfiled += end - k;
        k = end;
    }
}

void SeparationTest::forgetWitnesses()
{
    mWitness[0] = mWitness[1] = -1;
    mDrift[0] = mDrift[1] = 1;
}

bool SeparationTest::neighbourRejects(int &w, const Vector3 &c, double room, double m) const
{
    // Neighbours by index are points of the same line or the next. Every stored point went
    // into the grid unless its cell lies outside, which is checked (unless no point was
    // left out): a point the grid does not hold must not reject.
    const int count = int(mPoints.size());
    const Vector3 *points = mPoints.constData();
    for (int k = 1; k <= 3; ++k) {
        for (const int candidate : {w + k, w - k}) {
            if (candidate < 0 || candidate >= count || !rejects(points[candidate], c, room, m, m * m))
                continue;
            if (mUnfiled != 0) {
                const Vector3 &p = points[candidate];
                const double cx = cellOf(p.x, mSide, mIndex.inverseSide());
                const double cy = cellOf(p.y, mSide, mIndex.inverseSide());
                if (!mGrid->isValidCell(cx, cy))
                    continue;
            }
            w = candidate;
            return true;
        }
    }
    return false;
}
