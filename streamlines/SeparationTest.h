#pragma once

#include "streamlines/PointIndex.h"
#include "streamlines/SeparationGrid.h"
#include "data/Vector3.h"
#include "data/Volume.h"

#include <QVector>

#include <cmath>

#include <memory>
#include <vector>

// The separation test of the evenly spaced seeding: whether a position lies closer than a
// distance to a stored point of the 3 x 3 grid cells around it. It alone stores points
// (store()): each one enters the point list, the separation grid and the finer point index
// together, so every index in the grid names a stored point and the index mirrors the grid
// at all times. Nothing outside can change them; the grid is read through grid().
//
// Before the first start() there is no grid: stored points are kept but filed nowhere, and
// no point is ever too close.
class SeparationTest
{
public:
    // A new, empty grid of width x height cells of `side` grid units (positive and finite),
    // reusing the storage of the one it replaces; the point list is emptied. The point
    // index's squares are sized for traces that test at `testDistance` with steps of `step`.
    void start(double side, int width, int height, double testDistance, double step);
    // No grid and no points (the grid's storage is kept for the next start()).
    void clear();
    // Appends the points of a line to the point list and files each at its cell, floor(x /
    // side), floor(y / side). A cell outside the grid is reported ("index out of range") and
    // the point stays in the list only, unseen by later tests.
    void store(const QVector<Vector3> &line);

    // False outside `field` (or without one), or where a stored point of the 3 x 3 cells
    // around (x, y) lies closer than minDistance, in 3-D; true otherwise. Allocation-free.
    bool isValidPoint(const Volume *field, double x, double y, double z, float minDistance) const
    {
        return field && field->isInside(x, y, z) && closerPoint(x, y, z, minDistance) < 0;
    }
    // The index of a stored point of the 3 x 3 cells closer than minDistance, or -1. The
    // position is not tested against the field.
    int closerPoint(double x, double y, double z, float minDistance) const
    {
        return mGrid ? mIndex.closerPoint(x, y, z, minDistance, mPoints.constData()) : -1;
    }

    // Shortcuts of a trace's step tests, exact bounds over every filed point (not only the
    // 3 x 3 cells). False proves that none lies closer than minDistance.
    bool mayHaveCloser(const Vector3 &q, float minDistance) const
    {
        return mGrid && mIndex.mayHaveCloser(q.x, q.y, q.z, minDistance, mPoints.constData());
    }
    // A lower bound on the distance from q to every filed point, capped near `radius`; -1
    // where one may lie closer than minDistance.
    double clearance(const Vector3 &q, float minDistance, double radius) const
    {
        return mGrid ? mIndex.clearance(q.x, q.y, q.z, minDistance, radius, mPoints.constData()) : radius;
    }

    // The seed search's test of candidate c on one side of its line (0: the -90 degree
    // candidates, 1: the +90 degree ones): isValidPoint with the witnesses as a shortcut. A
    // witness is the stored point that ruled out the last candidate on that side; it, or
    // one of its neighbours along its line, often rules out the next as well, since the
    // candidates move along beside it. Call forgetWitnesses() when a search starts on a line.
    // Inline: the search tests two candidates per segment of every line.
    __attribute__((always_inline)) bool seedIsClear(const Volume &field, const Vector3 &c, int side, float minDistance)
    {
        if (witnessRejects(c, side, minDistance) || !field.isInside(c.x, c.y, c.z))
            return false;
        const int closer = closerPoint(c.x, c.y, c.z, minDistance);
        if (closer >= 0)
            mWitness[side] = closer;
        return closer < 0;
    }
    void forgetWitnesses();

    const QVector<Vector3> &points() const { return mPoints; }
    // The current grid; null before the first start() and after clear() or takeGrid().
    const SeparationGrid *grid() const { return mGrid.get(); }
    // Hands the grid over (after a run, to keep its counts); the test is left without one.
    std::unique_ptr<SeparationGrid> takeGrid();

private:
    // Whether the stored point p settles the seed test of c as rejected: closer than m (the
    // test's rounding, `m2` = m * m) and, beyond any doubt from rounding, within the 3 x 3
    // cells around c (`room`: the cell side less the bounds tolerance), so the full test
    // would meet it.
    static bool rejects(const Vector3 &p, const Vector3 &c, double room, double m, double m2)
    {
        using namespace seedingMath;
        return std::fabs(p.x - c.x) < room && std::fabs(p.y - c.y) < room && closer(p, c.x, c.y, c.z, m, m2);
    }
    // Whether a stored point near witness w settles the seed test of c as rejected (it then
    // becomes the witness); `room` as in witnessRejects().
    bool neighbourRejects(int &w, const Vector3 &c, double room, double m) const;
    __attribute__((always_inline)) bool witnessRejects(const Vector3 &c, int side, double m)
    {
        int &w = mWitness[side];
        if (w < 0)
            return false;
        const Vector3 *points = mPoints.constData();
        const double room = mSide - seedingMath::boundsTolerance(c.x, c.y, mSide);
        if (rejects(points[w], c, room, m, m * m))
            return true;
        // The neighbour in the direction of the witness's last move first.
        const int ahead = w + mDrift[side];
        if (mUnfiled == 0 && ahead >= 0 && ahead < mPoints.size() && rejects(points[ahead], c, room, m, m * m)) {
            w = ahead;
            return true;
        }
        const int before = w;
        if (!neighbourRejects(w, c, room, m))
            return false;
        mDrift[side] = w > before ? 1 : -1;
        return true;
    }

    QVector<Vector3> mPoints;
    std::unique_ptr<SeparationGrid> mGrid;
    std::unique_ptr<SeparationGrid> mSpare; // a cleared grid, whose storage start() reuses
    PointIndex mIndex;
    double mSide = 0.0;
    // Points since start() whose cell lies outside the grid: in the list, not in the grid.
    qsizetype mUnfiled = 0;
    // Per side: the witness (-1: none yet) and the direction along the point list it last
    // moved in.
    int mWitness[2] = {-1, -1};
    int mDrift[2] = {1, 1};
    std::vector<int> mLineCells; // scratch of store(): cx, cy and entry of each point
};
