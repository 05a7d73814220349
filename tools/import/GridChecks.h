#pragma once

#include "tools/import/ImportGrid.h"

#include <QString>

namespace tessimport {

// What makes an oriented grid's positions unusable once they are stored in single
// precision, as one line; empty when they are usable. Refused: a coordinate beyond the
// float range or so small that it becomes 0, neighbours along a 1-D axis that become one
// value, and an extent of zero width or height ("the extent is empty: all 400 points lie at
// (3, 4)").
QString positionProblem(const Grid &g);

} // namespace tessimport
