#pragma once

// What a dataset pair's numbers mean: NAME.meta.json beside NAME.gri, written by
// tessaly-import with the pair and read by the renderer, the Python package and the tests.
//
// The pair itself holds channel 0, the scalar mapped affinely onto the arrow plot's fixed
// pressure scale -4 ... 2.5 (values beyond the mapped range stored at its ends), and
// channel 1, the scalar in its own units; the flow is the source's times a flow scale. The
// file names the source, the quantities with their units and long names, the slice taken
// and that mapping, so that legends and reports can show real values.
//
// A pair without the file is read exactly as before. A file that is not what it should be
// (not JSON, larger than kMaxBytes, numbers that make no mapping, a grid of another size) is
// ignored with one warning line; nothing that reads it fails because of it.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cmath>

namespace metadata {

constexpr int kVersion = 1;
// Larger files are not read: a real one is a few hundred bytes.
constexpr qint64 kMaxBytes = qint64(1) << 20;
// The arrow plot's pressure scale that channel 0 is mapped onto.
constexpr double kStoredLow = -4.0;
constexpr double kStoredHigh = 2.5;

// A variable (NetCDF) or column (table) as the source names it.
struct Quantity
{
    QString name;     // "SLP", "u"
    QString longName; // NetCDF long_name; empty when the source has none (tables)
    QString units;    // NetCDF units, a column's unit in brackets; empty when unknown

    // "long name [units]", the name standing in for a missing long name; empty when the
    // quantity has no name.
    QString label() const;
};

// One leading dimension of a NetCDF field and the index taken along it.
struct Slice
{
    QString dimension;    // "TIME"
    bool time = false;    // chosen with --time; any other with --level
    int index = 0;
    qint64 length = 0;    // the dimension's steps
    double value = NAN;   // the coordinate variable's value at `index`; NaN without one
    QString units;        // its units ("hour since 0000-01-01 00:00:00")
};

// Channel 0 of the pair: stored = storedLow + (real - low) / (high - low) * (storedHigh -
// storedLow), clamped to storedLow ... storedHigh; a range of zero width is stored as the
// scale's middle.
struct Mapping
{
    double low = 0.0, high = 1.0;     // real values mapped onto the scale's ends
    double storedLow = kStoredLow, storedHigh = kStoredHigh;
    bool fromData = true;             // the data's own range, else the user's (--scalar-range)

    bool degenerate() const { return !(high > low); }
    // real = offset + scale * stored (scale 0 for a range of zero width).
    double scale() const;
    double offset() const;
    double real(double stored) const;
    // The stored value of `real`, unclamped.
    double stored(double real) const;
};

struct Metadata
{
    QString source;        // the input file, absolute
    QString format;        // "NetCDF classic", "NetCDF-4", "table", ...
    int nx = 0, ny = 0;    // the pair's points: a file beside a pair of another size is stale
    Quantity x, y;         // the positions' coordinates ("COADSX" in degrees_east)
    Quantity u, v;
    double flowScale = 1.0; // the pair's flow = flowScale * the source's
    Quantity scalar;       // for a source without one: "speed", the flow speed in u's units
    bool scalarIsSpeed = false;
    QVector<Slice> slices;
    Mapping mapping;

    // Per channel of the pair: the value in the quantity's units of a stored value (NaN for
    // a channel the file says nothing about), its units, and a label for legends. Channel 0
    // is the mapped scalar, 1 the scalar itself.
    bool knows(int channel) const { return channel == 0 || channel == 1; }
    double realValue(int channel, double stored) const;
    QString units(int channel) const;
    QString label(int channel) const;

    // The flow speed of the source (units of u) from the pair's speed.
    double realSpeed(double stored) const { return flowScale > 0.0 ? stored / flowScale : NAN; }
    QString speedLabel() const;
};

// NAME.meta.json for NAME.gri (the last ".gri" of the file name replaced); empty when the
// file name does not end in ".gri".
QString fileName(const QString &gridFile);

// The file's text (indented JSON, UTF-8). Numbers are written exactly (shortest round trip).
QByteArray toJson(const Metadata &m);

// Reads the text; false with a reason in `error` when it is not a version-1 metadata object
// whose numbers make a mapping (finite ends, low <= high, storedLow < storedHigh) and a grid
// size. Keys it does not know are skipped (later versions add, never change).
bool fromJson(const QByteArray &json, Metadata &m, QString *error);

enum class Status { Absent, Loaded, Ignored };

struct Loaded
{
    Status status = Status::Absent;
    Metadata meta;
    QString warning; // Ignored: "NAME.meta.json is ignored: reason", one line
};

// Reads the file beside `gridFile`: Absent without one, Ignored (with the warning) when it
// cannot be read, is no regular file, holds more than kMaxBytes, fails fromJson or
// describes another number of points than `nx` x `ny` (when they are above 0). Never blocks
// on a named pipe.
Loaded load(const QString &gridFile, int nx = 0, int ny = 0);

} // namespace metadata
