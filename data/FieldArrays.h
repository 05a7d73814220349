#pragma once

#include "data/Metadata.h"

#include <QString>
#include <QVector>

#include <cstddef>
#include <vector>

// A structured 2-D flow field in memory, as a reader or a caller hands it over: nx x ny
// points, x fastest, in the input's own world units (degrees, metres, ...), with NaN wherever
// a value is missing; and the rules that turn it into the points of a dataset, so that a
// dataset made from arrays and one loaded from the files the importer writes are the same.
namespace field {

struct Axis
{
    QString name;   // variable or column name, for messages and summaries
    QString units;
};

struct Arrays
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
    // Further channels 2, 3, ... of a dataset made in memory, nx * ny each, stored as given
    // (the importer's files hold channels 0 and 1 only).
    std::vector<std::vector<float>> extra;
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

// An error text when the arrays' lengths do not match nx, ny and the kind of positions
// (empty when they do). Every other function here assumes they match.
QString checkSizes(const Arrays &g);

// Reverses columns and/or rows so that the first point is the lower-left corner (smallest
// x and y), judged along the first row and the first column. Returns an error text when the
// positions are not usable: missing, or a 1-D axis that is not strictly monotonic.
QString orient(Arrays &g);

// What makes an oriented field's positions unusable once they are stored in single
// precision, as one line; empty when they are usable. Refused: a coordinate beyond the
// float range or so small that it becomes 0, neighbours along a 1-D axis that become one
// value, and an extent of zero width or height ("the extent is empty: all 400 points lie at
// (3, 4)"). The importer refuses such a field before it writes it, and a dataset made from
// arrays refuses it alike.
QString positionProblem(const Arrays &g);

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
bool scalarMapping(const Arrays &g, bool haveRange, double low, double high, ScalarMapping &m, QString &error);

// The mapped value written as channel 0: linear from [low, high] onto -4 ... 2.5, values
// outside the range clamped to its ends; a range of zero width maps onto the middle.
float mapScalar(const ScalarMapping &m, float value);

// Points where u or v is missing.
std::size_t missingFlow(const Arrays &g);

// The dataset's channels per point: 0 the mapped scalar, 1 the original one.
constexpr int kChannels = 2;

// Point (x, y) of an oriented field as a dataset holds it, in single precision: position
// (x, y, 0), flow (u, v, 0) times flowScale (both NaN when either is missing or the scaled
// value leaves the float range), channel 0 the mapped scalar, channel 1 the original one (the
// flow speed where there is no scalar; NaN where it is missing).
void point(const Arrays &g, const ScalarMapping &m, double flowScale, int x, int y, float pos[3], float dir[3],
           float values[kChannels]);

// The floats of a point's record in a data file: flow (3), then the channels.
constexpr int kRecordFloats = 3 + kChannels;

// Row y of the field, as point() gives each of its points: positions 3 floats apart from `pos`,
// records (flow, channels) kRecordFloats apart from `record`. One call per row keeps the rule
// inlined in the loop, which the import of a large field spends most of its writing time in.
void pointRow(const Arrays &g, const ScalarMapping &m, double flowScale, int y, float *pos, float *record);

} // namespace field
