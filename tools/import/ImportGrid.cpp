#include "tools/import/ImportGrid.h"

#include "data/DatasetFiles.h"
#include "tools/import/PairOutput.h"

namespace tessimport {

bool writeDataset(const Grid &g, const ScalarMapping &m, double flowScale, const QString &gridFile, QString &error)
{
    const auto fill = [&](int x, int y, int, float pos[3], float dir[3], float *values) {
        field::point(g, m, flowScale, x, y, pos, dir, values);
    };
    return writePair(gridFile, g.nx, g.ny, field::kChannels, fill, error);
}

} // namespace tessimport
