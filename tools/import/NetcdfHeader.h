#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// The importer's own reading of a classic-format header (CDF-1, CDF-2, CDF-5), before the
// netCDF library sees the file: the library allocates what a header declares before it
// compares with the file, and hands back zeros, not an error, for values past the end of a
// cut file.
namespace tessimport::netcdf {

// Where a classic-format variable's values end in the file, its last record included.
struct Extent
{
    QString name;
    std::uint64_t end = 0; // UINT64_MAX when the declared sizes overflow
};

// Checks that every name, count and attribute that the header in `head` (the file's first
// bytes) declares fits in the file's `fileSize` bytes: empty when sound, when the header
// reaches beyond the bytes at hand (nothing can be judged there) or when `head` is not a
// classic header; else what is wrong. `extents` gets each variable's end when the whole
// header was read, else nothing.
QString headerProblem(const QByteArray &head, std::uint64_t fileSize, std::vector<Extent> &extents);

// headerProblem on the first 16 MB of the file at `path`; `size` gets the file's size.
bool checkHeader(const QString &path, std::uint64_t &size, std::vector<Extent> &extents, QString &error);

} // namespace tessimport::netcdf
