#pragma once

#include "data/DataPoint.h"
#include "data/Vector3.h"

#include <QString>

class Dataset;
class Volume;

// What the volume information reports about a dataset, free of any widget.
namespace volumereport {

// Size and world extent of a dataset; "DatasetSize: (0 x 0)" without one (null).
QString informationText(const Volume *volume);

// Shown instead of a report while no dataset (or an empty one) is loaded.
QString noDataText();

// The index-space position of a report from its dial positions: whole parts plus hundredths,
// rounded once to single precision.
float dialPosition(int whole, int hundredths);

// The report at one index-space position of `volume` (the loaded dataset, not the grid).
struct Report
{
    float x = 0.0f;
    float y = 0.0f;
    DataPoint point;    // the bilinear sample at (x, y, 0)
    Vector3 outPutPos;  // grid position of the stored point at the truncated indices
};
Report sample(const Volume &volume, float x, float y);

// The volume information's computations on a dataset (its loaded volume): the size and
// extent text (that of no dataset when it holds no points) and the report at a position.
QString informationText(const Dataset &dataset);
Report sample(const Dataset &dataset, float x, float y);

// The report's exact text: the position, mPos, mDir, every value and outPutPos, one per line.
QString text(const Report &report);

} // namespace volumereport
