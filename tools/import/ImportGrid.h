#pragma once

#include "Metadata.h"

#include <QString>

#include <cstddef>
#include <vector>

// What both readers produce: a structured field of nx x ny points, x fastest, in the
// input's own world units (degrees, metres, ...), with NaN wherever a value is missing.
namespace tessimport {

// Grids larger than this are refused before anything of their size is allocated: the
// written pair would exceed 4 GB (32 bytes per point).
constexpr std::size_t kMaxPoints = std::size_t(128) * 1024 * 1024;

struct Axis
{
    QString name;   // variable or column name, for the summary
    QString units;
};

struct Grid
{
    int nx = 0;
    int ny = 0;
    // Positions: either one value per column / row (xs has nx, ys has ny entries) or, for
    // curvilinear grids, one per point (nx * ny each, x fastest).
    bool curvilinear = false;
    std::vector<double> xs;
    std::vector<double> ys;
    std::vector<float> u;       // nx * ny, NaN = missing
    std::vector<float> v;
    std::vector<float> scalar;  // nx * ny or empty (no scalar chosen)
    Axis xAxis, yAxis;
    QString uName, vName, uUnits, vUnits;
    QString scalarName, scalarUnits;
    QString uLongName, vLongName, scalarLongName; // NetCDF long_name; empty for tables
    QString source;             // "time = 3 of 12" and the like, for the summary
    QVector<metadata::Slice> slices; // NetCDF: the index taken along each leading dimension
    QString format;             // "NetCDF classic", "table"
    std::size_t flowBeyondFloat = 0; // u or v values finite in the input but beyond the float range (now NaN)
    bool reversedX = false;     // set by orient()
    bool reversedY = false;

    std::size_t points() const { return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny); }
    double x(int i, int j) const { return curvilinear ? xs[std::size_t(j) * std::size_t(nx) + std::size_t(i)] : xs[std::size_t(i)]; }
    double y(int i, int j) const { return curvilinear ? ys[std::size_t(j) * std::size_t(nx) + std::size_t(i)] : ys[std::size_t(j)]; }
};

// Reverses columns and/or rows so that the first point is the lower-left corner (smallest
// x and y), judged along the first row and the first column. Returns an error text when the
// positions are not usable: missing, or a 1-D axis that is not strictly monotonic.
QString orient(Grid &g);

// The arrow plot's fixed pressure scale.
constexpr float kScalarLow = -4.0f;
constexpr float kScalarHigh = 2.5f;

struct ScalarMapping
{
    QString name;     // "SLP", or "speed" when the flow speed stands in for a missing scalar
    QString units;
    double low = 0.0; // the range mapped onto kScalarLow ... kScalarHigh
    double high = 0.0;
    bool fromData = true;
    std::size_t missing = 0; // points without a scalar value
};

// Range of the scalar (or of the flow speed when there is none): the data's own unless
// `haveRange`. Fails when the data hold no value at all.
bool scalarMapping(const Grid &g, bool haveRange, double low, double high, ScalarMapping &m, QString &error);

// The mapped value written as channel 0: linear from [low, high] onto -4 ... 2.5, values
// outside the range clamped to its ends; a range of zero width maps onto the middle.
float mapScalar(const ScalarMapping &m, float value);

// What the pair's numbers mean, for OUT.meta.json: the source `input`, the quantities with
// their units (a table column's unit in brackets split from its name), the slice and the
// scalar's mapping.
metadata::Metadata describe(const Grid &g, const ScalarMapping &m, double flowScale, const QString &input);

// Writes the pair OUT.gri / OUT.00000.dat: positions (x, y, 0), flow (u, v, 0) times
// flowScale, channel 0 the mapped scalar, channel 1 the original one, and with them
// OUT.meta.json from describe(g, m, flowScale, input). Nothing is left on failure, and the
// three files replace the old ones together.
bool writeDataset(const Grid &g, const ScalarMapping &m, double flowScale, const QString &gridFile, QString &error,
                  const QString &input = QString());

// Points where u or v is missing.
std::size_t missingFlow(const Grid &g);

} // namespace tessimport
