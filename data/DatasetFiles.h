#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// The dataset file pair: a grid file with a 40-byte text header followed by one
// little-endian float triple (x, y, z position) per point, and a data file holding per point
// a float triple (flow vector) and `channels` floats. Points run x fastest, then y, then z.
namespace dataset {

constexpr int kHeaderBytes = 40;

struct Header
{
    // Fields the scan could not read stay 0.
    int dimX = 0;
    int dimY = 0;
    int dimZ = 0;
    int channels = 0;
    int timesteps = 0;
    float time = 0.0f;
    bool magic = false;  // the text starts with "SN4DB"
    int fieldsRead = 0;  // how many of the six numbers were read
};

// Scans "SN4DB %d %d %d %d %d %f" within the first `size` bytes (at most 40; the scan also
// stops at a NUL byte). Numbers beyond the int range saturate.
Header parseHeader(const char *bytes, int size);

// The data file's name: every ".gri" in the file name (never in the folders above it)
// becomes ".00000.dat". Returns an empty string when the file name has no ".gri".
QString dataFileName(const QString &gridFileName);

// Bytes a grid and a data file must hold for the header's counts; false when a count is
// negative or the sizes do not fit in 64 bits.
bool expectedSizes(const Header &h, std::uint64_t &gridBytes, std::uint64_t &dataBytes, std::uint64_t &points);

// One point for the writer to fill: position, flow vector and `channels` values.
using PointFiller = std::function<void(int x, int y, int z, float pos[3], float dir[3], float *values)>;

// Writes a dataset pair under `gridFileName` and its derived data file name.
// Returns false (with a console message) when either file cannot be written; both are
// written to temporary files and renamed at the end, so a failure leaves no partial file.
bool write(const QString &gridFileName, int dimX, int dimY, int dimZ, int channels, const PointFiller &fill,
           int timesteps = 1, float time = 0.0f);

} // namespace dataset
