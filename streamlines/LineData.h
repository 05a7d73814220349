#pragma once

#include "streamlines/EvenlySpacedSeeding.h"

#include <QVector>

// Streamlines as data (files, Python): the lines without the points a stalled trace repeats.
// Where the sampled flow is zero (beyond a grid's far edges, and for Runge-Kutta also at its
// near edges) a step returns its start, and every later step repeats it up to the step
// limit: the repeats carry nothing and can make up most of a line. The pictures keep them
// (a polyline through a repeated point looks the same).

struct DroppedRepeats
{
    qint64 points = 0; // points equal to the point before them on their line
    qint64 lines = 0;  // lines those points reduced to one point, left out (that point not counted above)
};

// `lines` with every point that equals its predecessor left out, and without the lines this
// leaves with one point (a line of one point from the start, a seed traced no further, stays).
// Points compare by value (0 equals -0; a NaN point is never a repeat). Adds what it left out
// to `dropped` when given. Lines without repeats are shared, not copied.
QVector<Streamline> withoutRepeatedPoints(const QVector<Streamline> &lines, DroppedRepeats *dropped = nullptr);
