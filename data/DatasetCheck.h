#pragma once

// Whether a loaded dataset can be shown at all. loadDataset asks for every load, so that a
// dataset is refused with the same words wherever it is loaded.

#include <QString>

class Volume;

namespace dataset {

// Why a dataset that the loader read (pointCount() > 0) cannot be resampled and shown, as
// one line without the file's name, e.g. "the extent is empty: all 400 points lie at (3, 4)";
// empty when it can. Refused: fewer than 2 points along x or y, no finite position, an extent
// that is infinite, never set (positions beyond the loader's starting corners of +-99999999),
// or so narrow that its index scale (points per world unit, single precision) is infinite.
// Positions are read in world coordinates, x and y only.
QString whyUnusable(const Volume &loaded);

// The console line that refuses such a dataset ("Not loaded: " + the reason).
QString unusableMessage(const QString &reason);

} // namespace dataset
