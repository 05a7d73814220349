#pragma once

#include "streamlines/PointIndex.h"
#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineDefaults.h"
#include "data/Vector3.h"

#include <QList>
#include <QVector>

#include <memory>
#include <vector>

class Volume;

// One streamline: its positions in order, in the grid volume's index space.
using Streamline = QVector<Vector3>;

// Evenly spaced streamline placement in the index space of the grid volume. The streamline
// view owns one and hands it its seed and line lists, which the seeding fills.
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

    EvenlySpacedSeeding(QVector<Vector3> &seedPoints, QVector<Streamline> &evenLines);

    // Start of every seeding run, regular or evenly spaced: empties the queue and the point
    // list and works out mGridWidth and mGridHeight from the view size.
    void reset(const Parameters &parameters);
    // The evenly spaced run on `grid` after reset(): replaces the separation grid, traces the
    // first line from (10, 10, 0) (or, where the flow is missing or zero there, from the
    // nearest grid point with flow), searches seeds pass after pass, writes "grid.log".
    // Without a grid volume it ends at once and leaves the lists empty.
    void run(const Volume *grid);
    // The volume and parameters that isValidPoint, traceStreamline and findSeedPoint read
    // outside a run (null: no field, every point invalid). Leaves the lists and grid as they are.
    void use(const Volume *grid, const Parameters &parameters)
    {
        mVolume = grid;
        mParameters = parameters;
    }

    // False outside the field or where a stored point of the 3 x 3 cells around (x, y) lies
    // closer than minDistance (in 3-D); true otherwise. Allocation-free.
    bool isValidPoint(double x, double y, double z, float minDistance) const;
    // Two-way trace from seed; the line's points enter mPoints and the grid once both
    // halves are traced.
    Streamline traceStreamline(Vector3 seed);
    // The first accepted candidate beside the line, or (-1, -1, -1).
    Vector3 findSeedPoint(Streamline line);

    QList<Streamline> mQueue;
    QVector<Vector3> mPoints;
    std::unique_ptr<SeparationGrid> mGrid;
    float mGridWidth = 0.0f;
    float mGridHeight = 0.0f;

private:
    // Where a seed search stands on a line: segment k, and the side tested next
    // (0 = the -90 degree candidate, 1 = the +90 degree one).
    struct SearchPosition
    {
        int segment = 0;
        int side = 0;
    };

    const Volume *volume() const;
    void startIndex();
    // The separation test with its reason: kValid, kInvalid (outside the field, or a stray
    // index regime), or the index of a stored point that is too close.
    static constexpr int kValid = -1;
    static constexpr int kInvalid = -2;
    int probe(double x, double y, double z, float minDistance) const;
    int closerPointInGrid(double x, double y, double z, float minDistance) const;
    bool isValidPointByWalk(double x, double y, double z, float minDistance) const;
    // Whether a point next to the witness along the point list rejects c (it then becomes
    // the witness); `room` and m as in the seed search.
    bool neighbourRejects(int &witness, const Vector3 &c, double room, double m) const;
    bool indexInStep() const;
    // A seed candidate where the flow is missing (NaN) or infinite is never taken: the line
    // from it would be the candidate alone, a stray point in a missing area.
    bool flowMissingAt(const Vector3 &c) const;
    Vector3 searchFrom(const Streamline &line, SearchPosition &position) const;
    // The first accepted candidate beside segments from.segment ... end - 1 (from.side first
    // on the first of them), without console output.
    struct Candidate
    {
        Vector3 position;
        SearchPosition at;
        bool accepted = false;
    };
    Candidate searchSegments(const Streamline &line, SearchPosition from, qsizetype end) const;
    void halfTrace(const Vector3 &seed, double dt, float minDistance, const Volume *field,
                   std::vector<Vector3> &out) const;

    QVector<Vector3> &mSeedPoints;
    QVector<Streamline> &mEvenLines;
    Parameters mParameters;
    const Volume *mVolume = nullptr;
    // Scratch for the two halves of a trace, kept to avoid reallocating them per line.
    std::vector<Vector3> mBackward;
    std::vector<Vector3> mForward;
    std::vector<int> mLineCells; // cx, cy and entry of each point of the line being stored
    PointIndex mIndex;
};
