#pragma once

#include "streamlines/SeparationTest.h"
#include "streamlines/StreamlineDefaults.h"
#include "data/Vector3.h"

#include <QList>
#include <QVector>

#include <memory>
#include <vector>

class Volume;

// One streamline: its positions in order, in the grid volume's index space.
using Streamline = QVector<Vector3>;

// Evenly spaced streamline placement in the index space of the grid volume: lines placed one
// after another, each new seed at the separating distance beside a line already drawn, each
// line stopped where it comes closer than the test distance to an earlier one. The loop is
// run(); the trace of a line is traceHalf() (EvenlySpacedTrace.h); the separation test with
// its grid is SeparationTest. Its results are read through the const accessors.
//
// The volume read is the one given to run() while it runs; outside a run (the view's own
// calls of isValidPoint, traceStreamline, findSeedPoint) it is the one given to use(), and
// none after a run ends. No call reads a volume that is missing.
class EvenlySpacedSeeding
{
public:
    struct Parameters
    {
        float dSep = streamlineDefaults::kDSep;
        float dTest = streamlineDefaults::kDTest;
        double dt = streamlineDefaults::kDt;
        int method = 0;      // integration method code
        int viewWidth = 0;   // the view's size in pixels (= grid units at the initial zoom)
        int viewHeight = 0;
        // False: run() leaves "grid.log" alone and the caller writes the grid's counts
        // wherever it wants them (the command-line renderer).
        bool writeLog = true;
        // Seeds: first seed (10, 10, 0); each half of a line at most maxSteps steps; a pass
        // that starts with maxSeeds or more seeds is the last one. The view's limits are the
        // defaults; larger ones let the lines cover a large field.
        int maxSeeds = streamlineDefaults::kMaxSeeds;
        int maxSteps = streamlineDefaults::kMaxSteps;
        // True: a half of a line ends at a step that does not move. A step depends only on
        // its start, so the trace would repeat that point up to maxSteps times; the repeats
        // lie on a stored point, so leaving them out changes no separation test, only the
        // stored points (and grid.log's counts). The view stores them (false).
        bool stopAtRest = false;
    };

    // A pass that starts with this many stored points or more is the last one, whatever the
    // seed limit: point indices stay far inside int, and memory stays bounded (about 80
    // bytes a point) whatever the limits.
    static constexpr int kMaxPoints = 1 << 25;

    // Start of every seeding run, regular or evenly spaced: empties the seeds, lines, queue,
    // stored points and grid, and works out the grid's size from the view size.
    void reset(const Parameters &parameters);
    // The evenly spaced run on `grid` after reset(): a new separation grid, the first line
    // from (10, 10, 0) (or, where the flow is missing or zero there, from the nearest grid
    // point with flow), seed searches pass after pass, then "grid.log". Without a grid volume
    // or a usable separation grid it ends at once and leaves the lists empty.
    void run(const Volume *grid);
    // The volume and parameters that isValidPoint, traceStreamline and findSeedPoint read
    // outside a run (null: no field, every point invalid). Leaves the results as they are.
    // The grid keeps the cell side of the run that made it: a changed Dsep moves the seed
    // candidates and changes the distances tested, not the cells points are filed in.
    void use(const Volume *grid, const Parameters &parameters)
    {
        mVolume = grid;
        mParameters = parameters;
    }

    // False outside the field or where a stored point of the 3 x 3 cells around (x, y) lies
    // closer than minDistance (in 3-D); true otherwise. Allocation-free.
    bool isValidPoint(double x, double y, double z, float minDistance) const
    {
        return mTest.isValidPoint(mVolume, x, y, z, minDistance);
    }
    // Two-way trace from seed; the line's points are stored once both halves are traced.
    Streamline traceStreamline(Vector3 seed);
    // The first accepted candidate beside the line, or (-1, -1, -1).
    Vector3 findSeedPoint(Streamline line);

    // The results of the last run, read-only: the seeds in the order found; the lines to
    // draw (each once for every seed search made on it); the lines still queued when the
    // run ended; every stored point, which the grid's cells index; the grid (null after a
    // regular run or a run that could not start) and its size as worked out by reset().
    const QVector<Vector3> &seeds() const { return mSeedPoints; }
    const QVector<Streamline> &lines() const { return mEvenLines; }
    const QList<Streamline> &queue() const { return mQueue; }
    const QVector<Vector3> &points() const { return mTest.points(); }
    const SeparationGrid *grid() const { return mTest.grid(); }
    float gridWidth() const { return mGridWidth; }
    float gridHeight() const { return mGridHeight; }
    // Hands the grid over, to keep its counts after the seeding is gone.
    std::unique_ptr<SeparationGrid> takeGrid() { return mTest.takeGrid(); }

private:
    // Where a seed search stands on a line: segment k, and the side tested next
    // (0 = the -90 degree candidate, 1 = the +90 degree one).
    struct SearchPosition
    {
        int segment = 0;
        int side = 0;
    };
    struct Candidate
    {
        Vector3 position;
        SearchPosition at;
        bool accepted = false;
    };

    bool startGrid(const Volume *grid);
    // A seed candidate where the flow is missing (NaN) or infinite is never taken: the line
    // from it would be the candidate alone, a stray point in a missing area.
    bool flowMissingAt(const Vector3 &c) const;
    Vector3 firstSearch(const Streamline &line) const;
    Vector3 searchFrom(const Streamline &line, SearchPosition &position);
    // The first accepted candidate beside segments from.segment ... end - 1 (from.side first
    // on the first of them), without console output.
    Candidate searchSegments(const Streamline &line, SearchPosition from, qsizetype end);

    Parameters mParameters;
    const Volume *mVolume = nullptr;
    QVector<Vector3> mSeedPoints;
    QVector<Streamline> mEvenLines;
    QList<Streamline> mQueue;
    float mGridWidth = 0.0f;
    float mGridHeight = 0.0f;
    SeparationTest mTest;
    // Scratch for the two halves of a trace, kept to avoid reallocating them per line.
    std::vector<Vector3> mBackward;
    std::vector<Vector3> mForward;
};
