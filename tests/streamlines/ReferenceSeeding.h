#pragma once

#include "Vector3.h"

#include <QByteArray>
#include <QList>
#include <QVector>

// The evenly spaced seeding written as plainly as its rules read, for comparison with the
// fast one: no point index, no witnesses, no clearance bounds, no resumed searches. Reads
// the process-wide gridVolume through getValue and isInside only, and writes the same
// console trace. The grid dump is kept in `gridLog` instead of a file.
//
// Beyond the plain rules, as the fast seeding does for data with missing flow:
// - a first seed (10, 10) inside the field where the flow direction is missing (not finite)
//   or zero moves to the nearest grid point with a finite, non-zero direction (ties: lower
//   y, then lower x);
// - a candidate seed where the flow direction is not finite is rejected.
struct ReferenceSeeding
{
    float dSep = 30.0f;
    float dTest = 0.5f;
    double dt = 1.55;
    int method = 0;
    int viewWidth = 0;
    int viewHeight = 0;

    QVector<Vector3> seeds;
    QVector<QVector<Vector3>> evenLines;
    QList<QVector<Vector3>> queue;
    QVector<Vector3> points;
    int gridWidth = 0;
    int gridHeight = 0;
    QVector<QVector<int>> cells;
    QByteArray gridLog;

    void run();

    bool isValidCell(double cx, double cy) const;
    bool isValidPoint(double x, double y, double z, float minDistance) const;
    QVector<Vector3> traceStreamline(Vector3 seed);
    Vector3 findSeedPoint(QVector<Vector3> line) const;
};
