#pragma once

#include "data/Vector3.h"

#include <vector>

class SeparationTest;
class Volume;

// How one half of an evenly spaced line is traced.
struct HalfTraceSettings
{
    int method = 0;           // integration method code
    int maxSteps = 0;         // at most this many steps
    bool stopAtRest = false;  // a step that does not move ends the half
    float minDistance = 0.0f; // test distance (Dtest * Dsep), grid units
    double dSep = 0.0;        // separating distance, for the rounding margins
};

// One half of an evenly spaced line: the positions reached from `seed` (inside `field`) by
// steps of dt, up to maxSteps of them, until a step leaves the field, comes closer than
// minDistance to a point stored in `test` or (with stopAtRest) does not move. The seed
// itself is not in `out`. The test is read only: a line's points are stored once both of
// its halves are traced, so a line never stops at its own points.
void traceHalf(const Volume &field, const SeparationTest &test, const HalfTraceSettings &settings, const Vector3 &seed,
               double dt, std::vector<Vector3> &out);
