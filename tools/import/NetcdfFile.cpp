#include "tools/import/NetcdfFile.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tessimport::netcdf {

namespace {

// Attribute texts longer than this are cut; they only feed names and the summary.
constexpr std::size_t kMaxAttText = 4096;
constexpr std::size_t kMaxAttValues = 64;

QString attText(int nc, int varid, const char *name)
{
    nc_type type;
    std::size_t len = 0;
    if (nc_inq_att(nc, varid, name, &type, &len) != NC_NOERR || len == 0)
        return QString();
    if (type == NC_CHAR) {
        std::vector<char> buf(len);
        if (len > kMaxAttText * 16 || nc_get_att_text(nc, varid, name, buf.data()) != NC_NOERR)
            return QString();
        std::size_t n = std::min(len, kMaxAttText);
        n = static_cast<std::size_t>(std::find(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n), '\0') - buf.begin());
        return printable(QString::fromUtf8(buf.data(), static_cast<qsizetype>(n)).trimmed());
    }
    if (type == NC_STRING && len <= kMaxAttValues) {
        std::vector<char *> strings(len, nullptr);
        if (nc_get_att_string(nc, varid, name, strings.data()) != NC_NOERR)
            return QString();
        QString s = strings[0] ? QString::fromUtf8(strings[0], static_cast<qsizetype>(strnlen(strings[0], kMaxAttText))) : QString();
        nc_free_string(len, strings.data());
        return printable(s.trimmed());
    }
    return QString();
}

} // namespace

QString printable(QString s)
{
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return s;
}

std::vector<double> attNumbers(int nc, int varid, const char *name)
{
    nc_type type;
    std::size_t len = 0;
    if (nc_inq_att(nc, varid, name, &type, &len) != NC_NOERR || len == 0 || len > kMaxAttValues || type == NC_CHAR
        || type == NC_STRING)
        return {};
    std::vector<double> v(len);
    if (nc_get_att_double(nc, varid, name, v.data()) != NC_NOERR)
        return {};
    return v;
}

double defaultFill(nc_type t)
{
    switch (t) {
    case NC_SHORT: return NC_FILL_SHORT;
    case NC_INT: return NC_FILL_INT;
    case NC_FLOAT: return static_cast<double>(NC_FILL_FLOAT);
    case NC_DOUBLE: return NC_FILL_DOUBLE;
    case NC_USHORT: return NC_FILL_USHORT;
    case NC_UINT: return NC_FILL_UINT;
    default: return NAN; // bytes: the library does not treat a default fill as missing
    }
}

bool numeric(nc_type t)
{
    return t == NC_BYTE || t == NC_UBYTE || t == NC_SHORT || t == NC_USHORT || t == NC_INT || t == NC_UINT
           || t == NC_FLOAT || t == NC_DOUBLE || t == NC_INT64 || t == NC_UINT64;
}

int Catalogue::dimIndex(int dimid) const
{
    const auto it = std::find(dimIds.begin(), dimIds.end(), dimid);
    return it == dimIds.end() ? -1 : static_cast<int>(it - dimIds.begin());
}

const Var *Catalogue::var(const QString &name) const
{
    for (const Var &v : vars)
        if (v.name == name)
            return &v;
    return nullptr;
}

const Var *Catalogue::coordinateOf(int dimid) const
{
    const Var *v = var(dim(dimid).name);
    return v && v->dims.size() == 1 && v->dims[0] == dimid && numeric(v->type) ? v : nullptr;
}

QString ncText(const char *s)
{
    return printable(QString::fromUtf8(s, static_cast<qsizetype>(strnlen(s, NC_MAX_NAME))));
}

bool catalogue(int nc, Catalogue &c, QString &error)
{
    c.nc = nc;
    nc_inq_format(nc, &c.format);
    int ndims = 0, nvars = 0, unlimited = -1;
    if (nc_inq_ndims(nc, &ndims) != NC_NOERR || nc_inq_nvars(nc, &nvars) != NC_NOERR || ndims < 0 || nvars < 0) {
        error = QStringLiteral("cannot read the file's contents");
        return false;
    }
    nc_inq_unlimdim(nc, &unlimited);
    c.dimIds.resize(static_cast<std::size_t>(ndims));
    int got = 0;
    if (ndims > 0 && (nc_inq_dimids(nc, &got, c.dimIds.data(), 0) != NC_NOERR || got != ndims)) {
        error = QStringLiteral("cannot read the file's dimensions");
        return false;
    }
    for (int id : c.dimIds) {
        char name[NC_MAX_NAME + 1] = {};
        Dim d;
        if (nc_inq_dim(nc, id, name, &d.length) != NC_NOERR) {
            error = QStringLiteral("cannot read the file's dimensions");
            return false;
        }
        d.name = ncText(name);
        d.unlimited = id == unlimited;
        c.dims.push_back(d);
    }
    for (int id = 0; id < nvars; ++id) {
        char name[NC_MAX_NAME + 1] = {};
        Var v;
        int nd = 0;
        if (nc_inq_varndims(nc, id, &nd) != NC_NOERR || nd < 0 || nd > NC_MAX_VAR_DIMS) {
            error = QStringLiteral("cannot read the file's variables");
            return false;
        }
        v.dims.resize(static_cast<std::size_t>(nd));
        if (nc_inq_var(nc, id, name, &v.type, nullptr, v.dims.data(), nullptr) != NC_NOERR) {
            error = QStringLiteral("cannot read the file's variables");
            return false;
        }
        for (int d : v.dims)
            if (c.dimIndex(d) < 0) {
                error = QStringLiteral("variable %1 has an unknown dimension").arg(ncText(name));
                return false;
            }
        v.id = id;
        v.name = ncText(name);
        v.units = attText(nc, id, "units");
        v.standardName = attText(nc, id, "standard_name");
        v.longName = attText(nc, id, "long_name");
        v.coordinates = attText(nc, id, "coordinates");
        v.axis = attText(nc, id, "axis");
        c.vars.push_back(v);
    }
    // Time dimensions: by name, or by their coordinate variable's axis or units.
    for (std::size_t i = 0; i < c.dims.size(); ++i) {
        Dim &d = c.dims[i];
        const QString lower = d.name.toLower();
        const Var *cv = c.coordinateOf(c.dimIds[i]);
        d.time = lower.contains(QLatin1String("time")) || lower == QLatin1String("t")
                 || (cv && (cv->axis.compare(QLatin1String("T"), Qt::CaseInsensitive) == 0
                            || cv->units.contains(QLatin1String(" since "))
                            || cv->standardName == QLatin1String("time")));
    }
    return true;
}

QString shape(const Catalogue &c, const Var &v)
{
    QStringList names;
    for (int d : v.dims)
        names << c.dim(d).name;
    return v.name + QLatin1Char('(') + names.join(QStringLiteral(", ")) + QLatin1Char(')');
}

bool usable(const Var &v)
{
    return numeric(v.type) && v.dims.size() >= 2;
}

QString openError(const QString &name, int status)
{
    if (status == NC_ENOTNC || status == NC_EHDFERR || status == NC_ENOTBUILT)
        return QStringLiteral("%1 is not a NetCDF file it can read (%2)").arg(name, QString::fromUtf8(nc_strerror(status)));
    return QStringLiteral("cannot open %1: %2").arg(name, QString::fromUtf8(nc_strerror(status)));
}

QString formatName(int f)
{
    switch (f) {
    case NC_FORMAT_CLASSIC: return QStringLiteral("classic");
    case NC_FORMAT_64BIT_OFFSET: return QStringLiteral("64-bit offset");
    case NC_FORMAT_CDF5: return QStringLiteral("CDF-5");
    case NC_FORMAT_NETCDF4: return QStringLiteral("NetCDF-4");
    case NC_FORMAT_NETCDF4_CLASSIC: return QStringLiteral("NetCDF-4 classic model");
    default: return QStringLiteral("unknown format");
    }
}

} // namespace tessimport::netcdf
