#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// One fuzz input through the importer's readers and the grid assembly. Returns an empty
// string when every property held, else what broke. Shared by the libFuzzer targets and
// the corpus replay test.
namespace importfuzz {

QString runTable(const std::uint8_t *bytes, std::size_t size);
// Classic-format NetCDF images only: the HDF5 parser behind NetCDF-4 is not this
// project's code and is left out of the search.
QString runNetcdf(const std::uint8_t *bytes, std::size_t size);

} // namespace importfuzz
