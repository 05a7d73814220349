#pragma once

#include "data/Vector3.h"

#include <QList>

// One sample of a dataset. mValues holds the extra channels; channel 0 is the pressure.
// A default point (all zero, no values) is what every out-of-range read returns.
struct DataPoint
{
    Vector3 mPos;
    Vector3 mDir;
    QList<float> mValues;

    DataPoint() = default;
    explicit DataPoint(int channels) : mValues(channels > 0 ? channels : 0, 0.0f) {}

    // Component-wise sum; the shorter value list counts as padded with zeros.
    DataPoint operator+(const DataPoint &o) const;
    // Scales everything by s; each value product is rounded to float.
    DataPoint operator*(double s) const;
};
