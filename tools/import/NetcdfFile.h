#pragma once

#include <netcdf.h>

#include <QString>

#include <cstddef>
#include <vector>

// What the importer knows of an open NetCDF file before it reads any value: its dimensions
// and variables with the attributes that choose and describe them, read through the netCDF
// C library. Shared by the plan, the reader and the --list report.
namespace tessimport::netcdf {

// Closes the library's handle when it goes.
class File
{
public:
    File() = default;
    ~File()
    {
        if (mId >= 0)
            nc_close(mId);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    int *handle() { return &mId; }
    int id() const { return mId; }

private:
    int mId = -1;
};

struct Var
{
    int id = -1;
    QString name;
    nc_type type = NC_NAT;
    std::vector<int> dims;
    QString units, standardName, longName, coordinates, axis;
};

struct Dim
{
    QString name;
    std::size_t length = 0;
    bool unlimited = false;
    bool time = false; // a time dimension, chosen with --time; others with --level
};

struct Catalogue
{
    int nc = -1;
    int format = 0;
    std::vector<Dim> dims;   // by position in dimIds
    std::vector<int> dimIds;
    std::vector<Var> vars;

    int dimIndex(int dimid) const;
    const Dim &dim(int dimid) const { return dims[static_cast<std::size_t>(dimIndex(dimid))]; }
    const Var *var(const QString &name) const;
    // The 1-D coordinate variable of a dimension (named like it), if any.
    const Var *coordinateOf(int dimid) const;
};

// Reads the dimensions and variables of the open file `nc`; fails with a message when the
// library cannot list them or a variable names a dimension the file does not have.
bool catalogue(int nc, Catalogue &c, QString &error);

// Names and attribute texts end up in one-line messages: control characters (a newline in
// a damaged or odd file) become '?'. ncText also stops at NC_MAX_NAME bytes.
QString printable(QString s);
QString ncText(const char *s);

// Numeric attribute values as doubles; empty when absent, textual or too long.
std::vector<double> attNumbers(int nc, int varid, const char *name);

// The library's default fill value of a type (NaN for bytes, which have none in effect).
double defaultFill(nc_type t);
bool numeric(nc_type t);
// A numeric variable of at least two dimensions: a candidate field.
bool usable(const Var &v);

// "u(time, lat, lon)", for messages.
QString shape(const Catalogue &c, const Var &v);

QString openError(const QString &name, int status);
QString formatName(int format);

} // namespace tessimport::netcdf
