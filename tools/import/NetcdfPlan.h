#pragma once

#include "tools/import/NetcdfFile.h"
#include "tools/import/NetcdfHeader.h"
#include "tools/import/NetcdfReader.h"

#include <QStringList>

#include <cstdint>
#include <vector>

// What an import of a NetCDF file will read, decided from its catalogue before any value is
// read, and the checks that refuse a file whose values cannot all be there.
namespace tessimport::netcdf {

struct Plan
{
    const Var *u = nullptr;
    const Var *v = nullptr;
    const Var *scalar = nullptr;
    int dimX = -1, dimY = -1;          // dimension ids: the last two of u
    const Var *coordX = nullptr;       // 1-D along dimX, or 2-D (dimY, dimX)
    const Var *coordY = nullptr;
    bool curvilinear = false;
    QStringList extra;                 // "TIME = 0 of 12" for each leading dimension
};

// Chooses u, v (named in `ch` or found by CF standard_name or common name), the scalar and
// the coordinates; fails with the reason when the choice cannot make a grid.
bool plan(const Catalogue &c, const NetcdfChoice &ch, Plan &p, QString &error);

// Start indices of one variable's slice: `time` or `level` along each leading dimension.
// With `extra`, also "TIME = 0 of 12" per dimension, and an error for a --time or --level
// that the variable has no dimension for.
bool sliceStart(const Catalogue &c, const Var &v, const NetcdfChoice &ch, std::vector<std::size_t> &start,
                QStringList *extra, QString &error);

// A classic file cut short: the chosen variables first (u, v, the scalar, the coordinates),
// then any other, so that the message names what the import would have read.
bool wholeFile(const QString &fileName, std::uint64_t fileSize, const std::vector<Extent> &extents, const Plan &p, QString &error);

// A NetCDF-4 variable whose values would need more bytes than the whole file has, even at
// deflate's best ratio, was never written: the library would return fill values, after
// allocating the declared size. Unknown filters (no bound on their ratio) pass.
bool written(const Catalogue &c, const Plan &p, std::uint64_t fileSize, QString &error);

// Refuses a grid whose arrays would not fit in the memory the system has available.
bool memoryFor(const Catalogue &c, const Plan &p, QString &error);

} // namespace tessimport::netcdf
