#pragma once

#include "SeparationGrid.h"
#include "Vector3.h"

#include <QList>
#include <QVector>

#include <memory>

class Volume;

// One streamline: its positions in order, in the grid volume's index space.
using Streamline = QVector<Vector3>;

// Evenly spaced streamline placement in the index space of the grid volume. The streamline
// view owns one and hands it its seed and line lists, which the seeding fills.
class EvenlySpacedSeeding
{
public:
    struct Parameters
    {
        float dSep = 30.0f;  // separating distance, grid units
        float dTest = 0.5f;  // test distance as a fraction of dSep
        double dt = 1.55;    // integration step
        int method = 0;      // integration method code
        int viewWidth = 0;   // the view's size in pixels (= grid units at the initial zoom)
        int viewHeight = 0;
    };

    EvenlySpacedSeeding(QVector<Vector3> &seedPoints, QVector<Streamline> &evenLines);

    // Start of every seeding run, regular or evenly spaced: empties the queue and the point
    // list and works out mGridWidth and mGridHeight from the view size.
    void reset(const Parameters &parameters);
    // The evenly spaced run on `grid` after reset(): replaces the separation grid, traces the
    // first line from (10, 10, 0), searches seeds pass after pass, writes "grid.log".
    // Without a grid volume it ends at once and leaves the lists empty.
    void run(const Volume *grid);

    bool isValidPoint(double x, double y, double z, float minDistance) const;
    Streamline traceStreamline(Vector3 seed);
    Vector3 findSeedPoint(Streamline line);

    QList<Streamline> mQueue;
    QVector<Vector3> mPoints;
    std::unique_ptr<SeparationGrid> mGrid;
    float mGridWidth = 0.0f;
    float mGridHeight = 0.0f;

private:
    QVector<Vector3> &mSeedPoints;
    QVector<Streamline> &mEvenLines;
    Parameters mParameters;
    const Volume *mVolume = nullptr;
};
