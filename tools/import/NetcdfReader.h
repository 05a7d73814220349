#pragma once

#include "tools/import/ImportGrid.h"

#include <QByteArray>
#include <QString>

// Flow fields from NetCDF files (classic and NetCDF-4), read with the netCDF C library.
namespace tessimport {

struct NetcdfChoice
{
    QString u, v, scalar;     // variable names; empty = found by CF standard_name or common name
    int time = 0;             // index along a time dimension
    int level = 0;            // index along any other extra dimension (depth, level, ...)
    bool timeGiven = false;   // asked for explicitly: a field without such a dimension is an error
    bool levelGiven = false;
    std::size_t maxPoints = kMaxPoints; // larger horizontal grids are refused before reading
};

// True for the first bytes of a NetCDF classic, 64-bit offset, CDF-5 or HDF5 file.
bool looksLikeNetcdf(const QByteArray &head);

// Reads the chosen 2-D slice. `path` is opened from disk; the Memory variant reads an
// in-memory image of a file (classic formats; used by the fuzz target).
bool readNetcdf(const QString &path, const NetcdfChoice &choice, Grid &g, QString &error);
bool readNetcdfMemory(const QByteArray &image, const NetcdfChoice &choice, Grid &g, QString &error);

// The --list report: dimensions, variables with their dimensions and units, and what
// would be chosen (or why nothing can be).
bool listNetcdf(const QString &path, const NetcdfChoice &choice, QString &report, QString &error);

} // namespace tessimport
