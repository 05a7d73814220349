#include "data/DataPoint.h"
#include "data/SinglePrecision.h"

DataPoint DataPoint::operator+(const DataPoint &o) const
{
    DataPoint r;
    r.mPos = mPos + o.mPos;
    r.mDir = mDir + o.mDir;
    const QList<float> &longer = mValues.size() >= o.mValues.size() ? mValues : o.mValues;
    const QList<float> &shorter = mValues.size() >= o.mValues.size() ? o.mValues : mValues;
    if (longer.isEmpty())
        return r;
    r.mValues.resize(longer.size());
    float *out = r.mValues.data();
    // A missing value is an added 0.0f (which also turns -0.0 into +0.0, as a sum would).
    for (qsizetype i = 0; i < longer.size(); ++i)
        out[i] = longer[i] + (i < shorter.size() ? shorter[i] : 0.0f);
    return r;
}

DataPoint DataPoint::operator*(double s) const
{
    DataPoint r;
    r.mPos = mPos * s;
    r.mDir = mDir * s;
    if (!mValues.isEmpty()) {
        r.mValues.resize(mValues.size());
        float *out = r.mValues.data();
        for (qsizetype i = 0; i < mValues.size(); ++i)
            out[i] = roundToSingle(mValues[i] * s);
    }
    return r;
}
