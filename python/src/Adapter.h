#pragma once

// The Python module's one door into the core: every call of the loader, the importer, the
// seeding, the renderer and the volume report goes through here, so the binding itself holds
// no Qt types and no knowledge of how the views assemble their computations.
//
// Coordinates: "index" is the regular grid's index space (one unit per grid cell, x right,
// y down the picture), "world" the dataset's own positions (degrees, metres, ...).
//
// Failures are exceptions of the two kinds the package raises: ValueError for arguments and
// arrays that cannot be used, LoadError for files the loader or the importer refuses. Their
// message is the one the command-line tools print.

#include "streamlines/StreamlineDefaults.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessalypy {

struct ValueError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};
struct LoadError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// A loaded dataset and its regular grid, never changed once made. Safe to share between
// threads, except probe() (see there).
class Dataset;
using DatasetPtr = std::shared_ptr<Dataset>;

struct Loaded
{
    DatasetPtr dataset;
    std::string warning; // what the loader remarked about a dataset it did load; empty: nothing
};

// What the dataset's numbers mean, as the JSON text of NAME.meta.json: the file beside a
// loaded pair, or what tessaly-import writes for a file imported in memory. Empty when the
// dataset has none (arrays, an ignored or absent file).
std::string metadataJson(const Dataset &d);

// Reads a dataset pair as the program and tessaly-render load it. Throws LoadError with the
// loader's reason.
Loaded load(const std::string &gridFile);

// One input array of doubles or floats, C order, with an optional mask (nonzero = missing).
struct Field
{
    const double *f64 = nullptr;
    const float *f32 = nullptr;
    const std::uint8_t *mask = nullptr;
    double at(std::size_t k) const
    {
        if (mask && mask[k])
            return std::numeric_limits<double>::quiet_NaN();
        return f64 ? f64[k] : double(f32[k]);
    }
};

struct Arrays
{
    int nx = 0;
    int ny = 0;
    bool curvilinear = false; // x, y hold nx * ny values (row by row) instead of nx and ny
    Field x, y, u, v;
    std::vector<Field> scalars; // the first is the pressure; each nx * ny
};

// How the importer maps the pressure and scales the flow.
struct ImportSettings
{
    bool haveRange = false;
    double low = 0.0, high = 0.0;
    double flowScale = 1.0;
};

// The dataset tessaly-import writes for these arrays, as loaded: positions and flow in
// single precision, channel 0 the first scalar (or the speed) mapped onto the pressure
// scale, channel 1 its original values, further scalars as given in channels 2, 3, ...
// Throws ValueError with the importer's message.
DatasetPtr fromArrays(const Arrays &arrays, const ImportSettings &settings);

// A NetCDF file or a column table read by tessaly-import's rules, kept in memory.
struct ImportChoice
{
    std::string u, v, scalar; // empty: found as tessaly-import finds them
    int time = 0, level = 0;
    bool timeGiven = false, levelGiven = false;
};
// `warnings` gets what the table reader warns about (a constant u column, ...).
DatasetPtr importFile(const std::string &path, const ImportChoice &choice, const ImportSettings &settings,
                      std::vector<std::string> *warnings = nullptr);

struct Info
{
    int nx = 0, ny = 0; // the regular grid
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0; // world extent of the loaded dataset
    int channels = 0;
};
Info info(const Dataset &d);

// The points as stored, x fastest: (x, y) positions, (u, v) flow and `channels` values per
// point; of the loaded dataset (world positions) or, with `grid`, of its regular grid (the
// positions are the grid's index positions). For tests and for colouring lines by the data.
struct Points
{
    std::vector<double> pos, dir; // 2 per point
    std::vector<float> values;    // channels per point
    int channels = 0;
};
Points points(const Dataset &d, bool grid);

// ---------------------------------------------------------------- streamlines

// Polylines as data: line l holds points offsets[l] ... offsets[l + 1] - 1, two coordinates each.
struct Lines
{
    std::vector<double> xy;
    std::vector<std::size_t> offsets{0};
};

enum class Coords { Index, World };

// The streamline views' settings, with tessaly-render's ranges and the views' defaults.
struct LineSettings
{
    std::string method = "euler"; // or "rk"
    double dt = streamlineDefaults::kDt;            // 0 < dt <= 7.5
    int maxLength = streamlineDefaults::kMaxLength; // regular lines: 1 ... 100000
    double dSep = streamlineDefaults::kDSep;        // evenly spaced: grid cells, 1 ... 100
    double dTest = streamlineDefaults::kDTest;      // fraction of dSep, 0.01 ... 1
    int maxSeeds = streamlineDefaults::kMaxSeeds;   // 1 ... 1000000
    int maxSteps = streamlineDefaults::kMaxSteps;   // 1 ... 100000
};

// Every evenly spaced line once, in the order the seeding made it, without repeated points:
// the lines of tessaly-render --view evenly -o lines.csv. Throws ValueError on bad settings.
// Runs without the caller's lock (no Python object is touched). `seedingSeconds`, when
// given, gets the time of the seeding call alone (for the benchmark: what the binding adds
// is the rest of the call).
Lines evenlySpaced(const Dataset &d, const LineSettings &s, Coords coords, double *seedingSeconds = nullptr);

// Lines of index positions in world coordinates, as the CSV's world columns.
Lines worldLines(const Dataset &d, const Lines &index);

// Regular lines from `seeds` (x, y pairs in `coords`), or the view's 10 x 10 seed grid when
// there are none: the lines of tessaly-render --view streamlines -o lines.csv for the latter.
// Lines without points, or with one point only, are left out.
Lines streamlines(const Dataset &d, const std::vector<double> *seeds, const LineSettings &s, Coords coords);

// ---------------------------------------------------------------- report and picture

struct Probe
{
    float x = 0, y = 0;
    double pos[3], dir[3], outPutPos[3];
    std::vector<float> values;
    // With metadata: each value in its quantity's units (NaN where unknown or missing) and
    // the units (`known` false where the metadata says nothing of the channel).
    bool haveMeta = false;
    std::vector<double> real;
    std::vector<std::string> units;
    std::vector<bool> known;
};
// The volume information report at index position (x, y) (x, y >= 0). Writes the dataset's
// sampling scratch: callers serialise probes of one dataset.
Probe probe(Dataset &d, double x, double y);

// tessaly-render's options for the views' pictures (the same names, ranges and defaults).
struct RenderSettings
{
    std::string view = "evenly"; // "arrows", "streamlines" or "evenly"
    // arrows
    int zoom = 1, panX = 0, panY = 0;
    bool pressure = false, intensity = false, black = false, colorBar = false, fit = false;
    // streamlines and evenly
    LineSettings lines;
    bool antialias = false;
    bool haveRect = false;
    int rect[4] = {0, 0, 0, 0}; // x1, y1, x2, y2 in index units
    bool northUp = false;
    // tessaly-render's figure options by the tool's names ("scale", "color-by", ...) with the
    // text the tool would be given; a flag ("smooth") with an empty text. Any of them that
    // asks for a figure makes the picture the tool's figure rather than the view's own.
    std::vector<std::pair<std::string, std::string>> figure;
};

struct Image
{
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba; // row by row, 4 bytes a pixel
};
// The picture tessaly-render writes with these settings, pixel for pixel (RGBA). Throws
// ValueError with the tool's message for a setting out of its range.
Image render(const Dataset &d, const RenderSettings &s);

} // namespace tessalypy
