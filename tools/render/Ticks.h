#pragma once

// Tick marks of a colour bar: round numbers (1, 2, 2.5 or 5 times a power of ten apart)
// inside the shown range.

#include <QString>
#include <QVector>

namespace ticks {

struct Tick
{
    double value;
    QString text; // as few decimals as the step needs, no "-0"
};

// The round step that puts about `target` ticks over `span` (> 0, finite): 1, 2, 2.5 or 5
// times a power of ten.
double roundStep(double span, int target = 5);

// Ticks k * step for every whole k with lo <= k * step <= hi (lo < hi, finite). An empty or
// non-finite range gives the one tick at lo when it is finite, else none.
QVector<Tick> roundTicks(double lo, double hi, int target = 5);

// The largest round number (1, 2 or 5 times a power of ten) not above v (> 0, finite), for a
// reference arrow; 0 for anything else.
double roundBelow(double v);

// `v` with the decimals a value of the grid `step` needs.
QString format(double v, double step);

} // namespace ticks
