#include "volinfo/VolumeReport.h"

#include "data/CFormat.h"
#include "data/Dataset.h"
#include "data/SinglePrecision.h"
#include "data/Volume.h"

#include <cmath>

namespace volumereport {

QString informationText(const Volume *v)
{
    if (!v)
        return QStringLiteral("DatasetSize: (0 x 0)");
    return cformat("DatasetSize: (%i x %i)\n MaxPos: (%f,%f)\n MinPos: (%f,%f)", v->getDimX(), v->getDimY(),
                   v->mMaxPos.x, v->mMaxPos.y, v->mMinPos.x, v->mMinPos.y);
}

QString noDataText()
{
    return QStringLiteral("Data must be loaded first");
}

float dialPosition(int whole, int hundredths)
{
    return roundToSingle(whole + hundredths * 0.01);
}

Report sample(const Volume &volume, float x, float y)
{
    Report r;
    r.x = x;
    r.y = y;
    r.point = volume.getValue(x, y, 0.0);
    r.outPutPos = volume.getGridPos(static_cast<int>(x), static_cast<int>(y), 0);
    return r;
}

QString informationText(const Dataset &dataset)
{
    return informationText(dataset.isEmpty() ? nullptr : &dataset.loaded());
}

Report sample(const Dataset &dataset, float x, float y)
{
    return sample(dataset.loaded(), x, y);
}

QString text(const Report &r)
{
    const DataPoint &p = r.point;
    QString text = cformat("(%fx%f): \n", r.x, r.y);
    text += cformat("  mPos: (%f,%f,%f) \n", p.mPos.x, p.mPos.y, p.mPos.z);
    text += cformat("  mDir: (%f,%f,%f) \n", p.mDir.x, p.mDir.y, p.mDir.z);
    bool missing = std::isnan(p.mDir.x) || std::isnan(p.mDir.y) || std::isnan(p.mDir.z);
    for (int i = 0; i < p.mValues.size(); ++i) {
        text += cformat("  Value %i: %f \n", i, static_cast<double>(p.mValues[i]));
        missing = missing || std::isnan(p.mValues[i]);
    }
    // Imported datasets mark missing data as NaN ("nan" in the lines above). Complete data
    // never reaches this, so its report stays as it always was.
    if (missing)
        text += QStringLiteral("  missing data at this position \n");
    const Vector3 &o = r.outPutPos;
    text += cformat("  outPutPos: (%f,%f,%f)", o.x, o.y, o.z);
    return text;
}

} // namespace volumereport
