#include "tools/import/NetcdfReader.h"

#include <netcdf.h>
#include <netcdf_filter.h>
#include <netcdf_mem.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace tessimport {

namespace {

// Attribute texts longer than this are cut; they only feed names and the summary.
constexpr std::size_t kMaxAttText = 4096;
constexpr std::size_t kMaxAttValues = 64;

// Where a classic-format variable's values end in the file, its last record included:
// the library hands back zeros, not an error, for values past the end of a cut file.
struct Extent
{
    QString name;
    std::uint64_t end = 0; // UINT64_MAX when the declared sizes overflow
};

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

// Names and attribute texts end up in one-line messages: control characters (a newline in
// a damaged or odd file) become '?'.
QString printable(QString s)
{
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return s;
}

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

// Numeric attribute values as doubles; empty when absent, textual or too long.
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

struct Catalogue
{
    int nc = -1;
    int format = 0;
    std::vector<Dim> dims;   // by position in dimIds
    std::vector<int> dimIds;
    std::vector<Var> vars;

    int dimIndex(int dimid) const
    {
        const auto it = std::find(dimIds.begin(), dimIds.end(), dimid);
        return it == dimIds.end() ? -1 : static_cast<int>(it - dimIds.begin());
    }
    const Dim &dim(int dimid) const { return dims[static_cast<std::size_t>(dimIndex(dimid))]; }
    const Var *var(const QString &name) const
    {
        for (const Var &v : vars)
            if (v.name == name)
                return &v;
        return nullptr;
    }
    // The 1-D coordinate variable of a dimension (named like it), if any.
    const Var *coordinateOf(int dimid) const
    {
        const Var *v = var(dim(dimid).name);
        return v && v->dims.size() == 1 && v->dims[0] == dimid && numeric(v->type) ? v : nullptr;
    }
};

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

// The flow component of one direction: by CF standard name first, then by common name.
const Var *findComponent(const Catalogue &c, bool east)
{
    static const char *const eastNames[] = {"eastward_wind", "x_wind", "eastward_sea_water_velocity", "sea_water_x_velocity",
                                            "surface_eastward_sea_water_velocity", "baroclinic_eastward_sea_water_velocity",
                                            "barotropic_eastward_sea_water_velocity"};
    static const char *const northNames[] = {"northward_wind", "y_wind", "northward_sea_water_velocity", "sea_water_y_velocity",
                                             "surface_northward_sea_water_velocity", "baroclinic_northward_sea_water_velocity",
                                             "barotropic_northward_sea_water_velocity"};
    static const char *const eastCommon[] = {"u", "U", "UWND", "uwnd", "uo", "u10", "U10"};
    static const char *const northCommon[] = {"v", "V", "VWND", "vwnd", "vo", "v10", "V10"};
    for (const char *sn : east ? eastNames : northNames)
        for (const Var &v : c.vars)
            if (usable(v) && v.standardName == QLatin1String(sn))
                return &v;
    for (const char *n : east ? eastCommon : northCommon)
        for (const Var &v : c.vars)
            if (usable(v) && v.name == QLatin1String(n))
                return &v;
    return nullptr;
}

const Var *findScalar(const Catalogue &c)
{
    static const char *const standard[] = {"air_pressure_at_mean_sea_level", "air_pressure_at_sea_level", "air_pressure",
                                           "surface_air_pressure", "sea_surface_height_above_geoid", "sea_surface_height"};
    static const char *const common[] = {"SLP", "slp", "msl", "psl", "prmsl", "p", "P", "pressure", "zos", "ssh"};
    for (const char *sn : standard)
        for (const Var &v : c.vars)
            if (usable(v) && v.standardName == QLatin1String(sn))
                return &v;
    for (const char *n : common)
        for (const Var &v : c.vars)
            if (usable(v) && v.name == QLatin1String(n))
                return &v;
    return nullptr;
}

enum class Role { None, X, Y };

// Which horizontal coordinate a variable holds, from its standard name, units, axis or name.
Role roleOf(const Var &v)
{
    const QString sn = v.standardName, u = v.units.toLower(), n = v.name.toLower();
    if (sn == QLatin1String("longitude") || sn == QLatin1String("projection_x_coordinate") || sn == QLatin1String("grid_longitude")
        || u.startsWith(QLatin1String("degrees_e")) || u.startsWith(QLatin1String("degree_e")) || v.axis == QLatin1String("X")
        || n.startsWith(QLatin1String("lon")) || n.startsWith(QLatin1String("nav_lon")) || n == QLatin1String("x"))
        return Role::X;
    if (sn == QLatin1String("latitude") || sn == QLatin1String("projection_y_coordinate") || sn == QLatin1String("grid_latitude")
        || u.startsWith(QLatin1String("degrees_n")) || u.startsWith(QLatin1String("degree_n")) || v.axis == QLatin1String("Y")
        || n.startsWith(QLatin1String("lat")) || n.startsWith(QLatin1String("nav_lat")) || n == QLatin1String("y"))
        return Role::Y;
    return Role::None;
}

// Everything decided before any value is read.
struct Plan
{
    const Var *u = nullptr;
    const Var *v = nullptr;
    const Var *scalar = nullptr;
    int dimX = -1, dimY = -1;          // dimension ids: the last two of u
    const Var *coordX = nullptr;       // 1-D along dimX, or 2-D (dimY, dimX)
    const Var *coordY = nullptr;
    bool curvilinear = false;
    QStringList extra;                 // "TIME = 0 of 12" for each leading dimension
};

// Start indices of one variable's slice: `time` or `level` along each leading dimension.
bool sliceStart(const Catalogue &c, const Var &v, const NetcdfChoice &ch, std::vector<std::size_t> &start,
                QStringList *extra, QString &error)
{
    start.assign(v.dims.size(), 0);
    bool sawTime = false, sawLevel = false;
    for (std::size_t k = 0; k + 2 < v.dims.size(); ++k) {
        const Dim &d = c.dim(v.dims[k]);
        const int index = d.time ? ch.time : ch.level;
        (d.time ? sawTime : sawLevel) = true;
        if (index < 0 || static_cast<std::size_t>(index) >= d.length) {
            error = QStringLiteral("%1 %2 is out of range: %3 has %4 steps")
                        .arg(d.time ? QStringLiteral("--time") : QStringLiteral("--level")).arg(index).arg(d.name).arg(d.length);
            if (d.length > 0)
                error += QStringLiteral(" (0 ... %1)").arg(d.length - 1);
            return false;
        }
        start[k] = static_cast<std::size_t>(index);
        if (extra)
            *extra << QStringLiteral("%1 = %2 of %3").arg(d.name).arg(index).arg(d.length);
    }
    if (extra && ch.timeGiven && !sawTime) {
        error = QStringLiteral("--time: %1 has no time dimension").arg(shape(c, v));
        return false;
    }
    if (extra && ch.levelGiven && !sawLevel) {
        error = QStringLiteral("--level: %1 has no level or depth dimension").arg(shape(c, v));
        return false;
    }
    return true;
}

bool plan(const Catalogue &c, const NetcdfChoice &ch, Plan &p, QString &error)
{
    const auto pick = [&](const QString &name, bool east, const char *what) -> const Var * {
        if (!name.isEmpty()) {
            const Var *v = c.var(name);
            if (!v)
                error = QStringLiteral("no variable named %1").arg(name);
            else if (!usable(*v))
                error = QStringLiteral("%1 is not a numeric field of at least two dimensions").arg(shape(c, *v));
            return v && usable(*v) ? v : nullptr;
        }
        const Var *v = findComponent(c, east);
        if (!v)
            error = QStringLiteral("no %1 flow component found: name it with --%2").arg(QLatin1String(what), QLatin1String(east ? "u" : "v"));
        return v;
    };
    p.u = pick(ch.u, true, "eastward (u)");
    if (!p.u)
        return false;
    p.v = pick(ch.v, false, "northward (v)");
    if (!p.v)
        return false;
    if (p.u->dims != p.v->dims) {
        error = QStringLiteral("mismatched shapes: %1 and %2").arg(shape(c, *p.u), shape(c, *p.v));
        return false;
    }
    const std::size_t nd = p.u->dims.size();
    p.dimY = p.u->dims[nd - 2];
    p.dimX = p.u->dims[nd - 1];
    if (!ch.scalar.isEmpty()) {
        p.scalar = c.var(ch.scalar);
        if (!p.scalar) {
            error = QStringLiteral("no variable named %1").arg(ch.scalar);
            return false;
        }
    } else {
        p.scalar = findScalar(c);
        // A scalar found by name that does not fit the flow's grid is simply not taken.
        if (p.scalar && (p.scalar->dims.size() < 2 || p.scalar->dims[p.scalar->dims.size() - 2] != p.dimY
                         || p.scalar->dims.back() != p.dimX))
            p.scalar = nullptr;
    }
    if (p.scalar) {
        const std::size_t sd = p.scalar->dims.size();
        if (!usable(*p.scalar) || p.scalar->dims[sd - 2] != p.dimY || p.scalar->dims[sd - 1] != p.dimX) {
            error = QStringLiteral("mismatched shapes: %1 and %2").arg(shape(c, *p.u), shape(c, *p.scalar));
            return false;
        }
    }
    std::vector<std::size_t> start;
    if (!sliceStart(c, *p.u, ch, start, &p.extra, error))
        return false;
    if (p.scalar && !sliceStart(c, *p.scalar, ch, start, nullptr, error))
        return false;
    const std::size_t nx = c.dim(p.dimX).length, ny = c.dim(p.dimY).length;
    if (nx < 2 || ny < 2) {
        error = QStringLiteral("%1 has %2 x %3 points; a grid needs at least 2 x 2").arg(shape(c, *p.u)).arg(nx).arg(ny);
        return false;
    }
    if (nx > ch.maxPoints / ny) {
        error = QStringLiteral("%1 has %2 x %3 points, more than the %4 that can be imported").arg(shape(c, *p.u)).arg(nx).arg(ny).arg(ch.maxPoints);
        return false;
    }
    // Coordinates: 2-D ones named in the `coordinates` attribute make a curvilinear grid;
    // else the 1-D coordinate variables (named there or named like the dimensions).
    for (const QString &name : p.u->coordinates.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const Var *cv = c.var(name);
        if (!cv || !numeric(cv->type))
            continue;
        if (cv->dims.size() == 2 && cv->dims[0] == p.dimY && cv->dims[1] == p.dimX) {
            const Role r = roleOf(*cv);
            if (r == Role::X && !(p.coordX && p.coordX->dims.size() == 2))
                p.coordX = cv;
            else if (r == Role::Y && !(p.coordY && p.coordY->dims.size() == 2))
                p.coordY = cv;
        } else if (cv->dims.size() == 1 && cv->dims[0] == p.dimX && !p.coordX) {
            p.coordX = cv;
        } else if (cv->dims.size() == 1 && cv->dims[0] == p.dimY && !p.coordY) {
            p.coordY = cv;
        }
    }
    const bool twoD = p.coordX && p.coordY && p.coordX->dims.size() == 2 && p.coordY->dims.size() == 2;
    if (!twoD) {
        if (!p.coordX || p.coordX->dims.size() != 1)
            p.coordX = c.coordinateOf(p.dimX);
        if (!p.coordY || p.coordY->dims.size() != 1)
            p.coordY = c.coordinateOf(p.dimY);
    }
    p.curvilinear = twoD;
    return true;
}

// Reads the 2-D slice of `v` at `start` (leading indices) as unpacked values: missing
// points (_FillValue, missing_value, outside valid_range, NaN) become NaN, then
// scale_factor and add_offset apply.
template <typename T>
bool readSlice(const Catalogue &c, const Var &v, const std::vector<std::size_t> &start0, std::size_t ny, std::size_t nx,
               std::vector<T> &out, QString &error, std::size_t *beyond = nullptr)
{
    std::vector<std::size_t> start = start0, count(v.dims.size(), 1);
    start.resize(v.dims.size(), 0);
    if (v.dims.size() >= 2) {
        count[v.dims.size() - 2] = ny;
        count[v.dims.size() - 1] = nx;
    } else {
        count[0] = nx * ny;
    }
    std::vector<double> raw;
    try {
        raw.resize(nx * ny);
        out.resize(nx * ny);
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("not enough memory for %1 x %2 points").arg(nx).arg(ny);
        return false;
    }
    const int status = nc_get_vara_double(c.nc, v.id, start.data(), count.data(), raw.data());
    if (status != NC_NOERR && status != NC_ERANGE) {
        error = QStringLiteral("cannot read %1: %2").arg(v.name, QString::fromUtf8(nc_strerror(status)));
        return false;
    }
    const std::vector<double> fill = attNumbers(c.nc, v.id, "_FillValue");
    const std::vector<double> missing = attNumbers(c.nc, v.id, "missing_value");
    const std::vector<double> range = attNumbers(c.nc, v.id, "valid_range");
    const std::vector<double> vmin = attNumbers(c.nc, v.id, "valid_min");
    const std::vector<double> vmax = attNumbers(c.nc, v.id, "valid_max");
    const std::vector<double> scale = attNumbers(c.nc, v.id, "scale_factor");
    const std::vector<double> offset = attNumbers(c.nc, v.id, "add_offset");
    const double fillValue = fill.empty() ? defaultFill(v.type) : fill[0];
    double lo = -INFINITY, hi = INFINITY;
    if (range.size() >= 2) {
        lo = range[0];
        hi = range[1];
    } else {
        if (!vmin.empty())
            lo = vmin[0];
        if (!vmax.empty())
            hi = vmax[0];
    }
    const double s = scale.empty() ? 1.0 : scale[0];
    const double o = offset.empty() ? 0.0 : offset[0];
    const bool packed = !scale.empty() || !offset.empty();
    for (std::size_t k = 0; k < raw.size(); ++k) {
        const double r = raw[k];
        bool gone = !(r >= lo && r <= hi) || r == fillValue; // also NaN
        for (double m : missing)
            gone = gone || r == m;
        const double value = gone ? NAN : packed ? r * s + o : r;
        const bool fits = std::isfinite(static_cast<T>(value));
        // A value in the file but beyond the range of T (1e308 or inf as a float): missing, counted.
        if (beyond && !fits && !std::isnan(value))
            ++*beyond;
        out[k] = fits ? static_cast<T>(value) : static_cast<T>(NAN);
    }
    return true;
}

// A classic file cut short: the chosen variables first (u, v, the scalar, the coordinates),
// then any other, so that the message names what the import would have read.
bool wholeFile(const QString &fileName, std::uint64_t fileSize, const std::vector<Extent> &extents, const Plan &p, QString &error)
{
    std::vector<const Extent *> order;
    for (const Var *v : {p.u, p.v, p.scalar, p.coordX, p.coordY})
        for (const Extent &e : extents)
            if (v && e.name == v->name)
                order.push_back(&e);
    for (const Extent &e : extents)
        order.push_back(&e);
    for (const Extent *e : order)
        if (e->end > fileSize) {
            error = QStringLiteral("%1 is truncated: %2 needs bytes up to %3, the file has %4")
                        .arg(fileName, e->name, e->end == UINT64_MAX ? QStringLiteral("beyond 2^64") : QString::number(e->end))
                        .arg(fileSize);
            return false;
        }
    return true;
}

// A NetCDF-4 variable whose values would need more bytes than the whole file has, even at
// deflate's best ratio, was never written: the library would return fill values, after
// allocating the declared size. Unknown filters (no bound on their ratio) pass.
bool written(const Catalogue &c, const Plan &p, std::uint64_t fileSize, QString &error)
{
    if (c.format != NC_FORMAT_NETCDF4 && c.format != NC_FORMAT_NETCDF4_CLASSIC)
        return true;
    const std::uint64_t points = std::uint64_t(c.dim(p.dimX).length) * c.dim(p.dimY).length;
    for (const Var *v : {p.u, p.v, p.scalar}) {
        std::size_t bytes = 0, filters = 0;
        if (!v || nc_inq_type(c.nc, v->type, nullptr, &bytes) != NC_NOERR || nc_inq_var_filter_ids(c.nc, v->id, &filters, nullptr) != NC_NOERR
            || filters > 8)
            continue;
        unsigned int ids[8] = {};
        if (filters > 0 && nc_inq_var_filter_ids(c.nc, v->id, &filters, ids) != NC_NOERR)
            continue;
        // Deflate (1) compresses at most about 1032 : 1; shuffle (2) and the checksum (3)
        // keep the size.
        bool deflate = false, known = true;
        for (std::size_t k = 0; k < filters; ++k) {
            deflate = deflate || ids[k] == 1;
            known = known && ids[k] >= 1 && ids[k] <= 3;
        }
        if (!known)
            continue;
        const std::uint64_t least = points * bytes / (deflate ? 1032 : 1);
        if (least > fileSize) {
            error = QStringLiteral("%1 was never written: %2 x %3 values need at least %4 bytes, the file has %5")
                        .arg(shape(c, *v)).arg(c.dim(p.dimX).length).arg(c.dim(p.dimY).length).arg(least).arg(fileSize);
            return false;
        }
    }
    return true;
}

// The import holds per point the values read (double), u, v and the scalar (float) and the
// positions (double, one per point on a curvilinear grid): refused before reading when that
// is more than the memory the system has available.
bool memoryFor(const Catalogue &c, const Plan &p, QString &error)
{
    const std::uint64_t points = std::uint64_t(c.dim(p.dimX).length) * c.dim(p.dimY).length;
    const std::uint64_t need = points * (8 + 12 + (p.curvilinear ? 16 : 0));
    QFile info(QStringLiteral("/proc/meminfo"));
    if (!info.open(QIODevice::ReadOnly))
        return true;
    for (const QByteArray &line : info.readAll().split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const std::uint64_t available = line.mid(13).trimmed().split(' ').value(0).toULongLong() * 1024;
        if (available > 0 && need > available) {
            error = QStringLiteral("%1 has %2 x %3 points: reading it needs about %4 MB, more than the %5 MB available")
                        .arg(shape(c, *p.u)).arg(c.dim(p.dimX).length).arg(c.dim(p.dimY).length).arg(need >> 20).arg(available >> 20);
            return false;
        }
    }
    return true;
}

QString formatName(int f);

// The leading dimensions of `v` and the index taken along each, with the coordinate
// variable's value there (NaN when there is none or it cannot be read).
QVector<metadata::Slice> slicesOf(const Catalogue &c, const Var &v, const NetcdfChoice &ch)
{
    QVector<metadata::Slice> slices;
    for (std::size_t k = 0; k + 2 < v.dims.size(); ++k) {
        const Dim &d = c.dim(v.dims[k]);
        metadata::Slice s;
        s.dimension = d.name;
        s.time = d.time;
        s.index = d.time ? ch.time : ch.level;
        s.length = static_cast<qint64>(d.length);
        if (const Var *cv = c.coordinateOf(v.dims[k])) {
            std::vector<double> value;
            QString ignored;
            if (readSlice(c, *cv, {static_cast<std::size_t>(s.index)}, 1, 1, value, ignored) && value.size() == 1)
                s.value = value[0];
            s.units = cv->units;
        }
        slices.append(s);
    }
    return slices;
}

// `fileSize`: the file's bytes, which bound what a classic-format file can hold.
bool read(int nc, const QString &fileName, std::uint64_t fileSize, const std::vector<Extent> &extents, const NetcdfChoice &ch,
          Grid &g, QString &error)
{
    Catalogue c;
    Plan p;
    if (!catalogue(nc, c, error) || !plan(c, ch, p, error) || !wholeFile(fileName, fileSize, extents, p, error)
        || !written(c, p, fileSize, error) || !memoryFor(c, p, error))
        return false;
    const std::size_t nx = c.dim(p.dimX).length, ny = c.dim(p.dimY).length;
    const bool classic = c.format == NC_FORMAT_CLASSIC || c.format == NC_FORMAT_64BIT_OFFSET || c.format == NC_FORMAT_CDF5;
    for (const Var *v : {p.u, p.v, p.scalar}) {
        std::size_t bytes = 0;
        // A classic file stores every value of a slice: a slice larger than the file means
        // a damaged header (the library would hand back fill values for the rest).
        if (classic && v && nc_inq_type(nc, v->type, nullptr, &bytes) == NC_NOERR && nx * ny > fileSize / std::max<std::size_t>(bytes, 1)) {
            error = QStringLiteral("damaged NetCDF file: %1 needs more than its %2 bytes").arg(shape(c, *v)).arg(fileSize);
            return false;
        }
    }
    g = Grid();
    g.nx = static_cast<int>(nx);
    g.ny = static_cast<int>(ny);
    std::vector<std::size_t> start;
    if (!sliceStart(c, *p.u, ch, start, nullptr, error) || !readSlice(c, *p.u, start, ny, nx, g.u, error, &g.flowBeyondFloat)
        || !readSlice(c, *p.v, start, ny, nx, g.v, error, &g.flowBeyondFloat))
        return false;
    if (p.scalar && (!sliceStart(c, *p.scalar, ch, start, nullptr, error) || !readSlice(c, *p.scalar, start, ny, nx, g.scalar, error)))
        return false;
    g.curvilinear = p.curvilinear;
    const std::vector<std::size_t> none(2, 0);
    const auto coord = [&](const Var *cv, int dimid, std::size_t n, std::vector<double> &out, Axis &axis) {
        if (!cv) {
            // No coordinate variable: the point indices serve as positions.
            out.resize(n);
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<double>(i);
            axis.name = c.dim(dimid).name + QStringLiteral(" (index)");
            return true;
        }
        axis.name = cv->name;
        axis.units = cv->units;
        return p.curvilinear ? readSlice(c, *cv, none, ny, nx, out, error) : readSlice(c, *cv, none, 1, n, out, error);
    };
    if (!coord(p.coordX, p.dimX, nx, g.xs, g.xAxis) || !coord(p.coordY, p.dimY, ny, g.ys, g.yAxis))
        return false;
    g.uName = p.u->name;
    g.vName = p.v->name;
    g.uUnits = p.u->units;
    g.vUnits = p.v->units;
    g.uLongName = p.u->longName;
    g.vLongName = p.v->longName;
    if (p.scalar) {
        g.scalarName = p.scalar->name;
        g.scalarUnits = p.scalar->units;
        g.scalarLongName = p.scalar->longName;
    }
    g.source = p.extra.join(QStringLiteral(", "));
    g.slices = slicesOf(c, *p.u, ch);
    g.format = QStringLiteral("NetCDF ") + formatName(c.format);
    return true;
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

// Walks the header of a classic-format file (CDF-1, CDF-2, CDF-5) and checks that every
// name, count and attribute it declares fits in the file. The library allocates what a
// header declares before it compares with the file, so a damaged header of a few bytes
// could otherwise ask for gigabytes. An empty result: sound, or the header reaches beyond
// the `have` bytes at hand (nothing can be judged there).
class HeaderWalk
{
public:
    HeaderWalk(const unsigned char *bytes, std::size_t have, std::uint64_t fileSize)
        : mB(bytes), mHave(have), mSize(fileSize), mLong(have > 3 && bytes[3] == 5), mOffset(have > 3 && bytes[3] == 1 ? 4 : 8)
    {
    }

    QString problem()
    {
        mPos = 4;
        mRecords = count();
        list(10, "dimension");
        list(12, "attribute");
        list(11, "variable");
        return mStop == Stop::Bad ? mWhy : QString();
    }

    // Each variable's end in the file; empty unless the whole header was walked.
    std::vector<Extent> extents() const
    {
        if (mStop != Stop::No)
            return {};
        static const std::uint64_t sizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
        const auto isRecord = [&](const WalkVar &v) { return !v.dims.empty() && mDimLengths[v.dims[0]] == 0; };
        const auto bytes = [&](const WalkVar &v) { // one record's worth for a record variable
            std::uint64_t n = sizes[v.type];
            for (std::size_t d = isRecord(v) ? 1 : 0; d < v.dims.size(); ++d)
                if (__builtin_mul_overflow(n, mDimLengths[v.dims[d]], &n))
                    return UINT64_MAX;
            return n;
        };
        std::uint64_t recordVars = 0, recordSize = 0;
        for (const WalkVar &v : mVars)
            if (isRecord(v)) {
                ++recordVars;
                const std::uint64_t b = bytes(v);
                recordSize = b > UINT64_MAX - recordSize - 3 ? UINT64_MAX : recordSize + (b + 3) / 4 * 4;
            }
        // A single record variable's records follow each other unpadded.
        for (const WalkVar &v : mVars)
            if (isRecord(v) && recordVars == 1)
                recordSize = bytes(v);
        // The all-ones count marks a file still being streamed: its records cannot be judged.
        const bool streaming = mRecords == (mLong ? UINT64_MAX : 0xFFFFFFFFu);
        std::vector<Extent> out;
        for (const WalkVar &v : mVars) {
            const std::uint64_t b = bytes(v);
            if (b == 0 || (isRecord(v) && (mRecords == 0 || streaming)))
                continue;
            std::uint64_t end = v.begin, skipped = 0;
            if (isRecord(v) && (__builtin_mul_overflow(mRecords - 1, recordSize, &skipped) || __builtin_add_overflow(end, skipped, &end)))
                end = UINT64_MAX;
            if (__builtin_add_overflow(end, b, &end))
                end = UINT64_MAX;
            out.push_back({v.name, end});
        }
        return out;
    }

private:
    enum class Stop { No, End, Bad };

    bool stopped() const { return mStop != Stop::No; }
    void bad(const QString &why)
    {
        if (!stopped()) {
            mStop = Stop::Bad;
            mWhy = why;
        }
    }
    bool need(std::uint64_t n)
    {
        if (stopped())
            return false;
        if (n > mSize || mPos > mSize - n) {
            bad(QStringLiteral("damaged NetCDF header: it declares more than the file's %1 bytes").arg(mSize));
            return false;
        }
        if (mPos + n > mHave) {
            mStop = Stop::End;
            return false;
        }
        return true;
    }
    std::uint64_t number(int bytes)
    {
        if (!need(static_cast<std::uint64_t>(bytes)))
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | mB[mPos + static_cast<std::uint64_t>(i)];
        mPos += static_cast<std::uint64_t>(bytes);
        return v;
    }
    std::uint64_t count() { return number(mLong ? 8 : 4); }
    // CDF-5 adds the unsigned and 64-bit types (7 ... 11) to byte ... double (1 ... 6).
    std::uint64_t maxType() const { return mLong ? 11 : 6; }
    void skip(std::uint64_t n)
    {
        const std::uint64_t padded = n + (4 - n % 4) % 4;
        if (padded >= n && need(padded))
            mPos += padded;
        else if (padded < n)
            bad(QStringLiteral("damaged NetCDF header"));
    }
    // Each element of a list takes at least `least` bytes of the rest of the file.
    bool fits(std::uint64_t n, std::uint64_t least)
    {
        if (!stopped() && n > (mSize - std::min(mPos, mSize)) / least)
            bad(QStringLiteral("damaged NetCDF header: %1 entries cannot fit in the file").arg(n));
        return !stopped();
    }
    // Names are limited to NC_MAX_NAME bytes; the library copies longer ones into buffers
    // of that size regardless.
    QString name()
    {
        const std::uint64_t n = count();
        if (!stopped() && n > NC_MAX_NAME) {
            bad(QStringLiteral("damaged NetCDF header: a name of %1 bytes").arg(n));
            return QString();
        }
        const std::uint64_t at = mPos;
        skip(n);
        if (stopped())
            return QString();
        char text[NC_MAX_NAME + 1] = {};
        std::memcpy(text, mB + at, static_cast<std::size_t>(n));
        return ncText(text);
    }
    void attributes()
    {
        const std::uint64_t tag = number(4), n = count();
        if (stopped() || (tag == 0 && n == 0))
            return;
        if (tag != 12)
            return bad(QStringLiteral("damaged NetCDF header: attribute list expected"));
        for (std::uint64_t i = 0; fits(n - i, 12) && i < n; ++i) {
            name();
            const std::uint64_t type = number(4), values = count();
            static const int sizes[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
            if (!stopped() && (type < 1 || type > maxType()))
                return bad(QStringLiteral("damaged NetCDF header: attribute type %1").arg(type));
            if (!stopped() && values > mSize)
                return bad(QStringLiteral("damaged NetCDF header: it declares more than the file's %1 bytes").arg(mSize));
            skip(values * static_cast<std::uint64_t>(sizes[stopped() ? 0 : type]));
        }
    }
    void list(std::uint64_t expected, const char *what)
    {
        if (expected == 12)
            return attributes();
        const std::uint64_t tag = number(4), n = count();
        if (stopped() || (tag == 0 && n == 0))
            return;
        if (tag != expected)
            return bad(QStringLiteral("damaged NetCDF header: %1 list expected").arg(QLatin1String(what)));
        if (expected == 10 && fits(n, 8))
            mDimLengths.reserve(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; fits(n - i, 8) && i < n; ++i) {
            WalkVar var;
            var.name = name();
            if (expected == 10) {
                mDimLengths.push_back(count());
                if (!stopped() && mDimLengths.back() == 0 && ++mRecordDims > 1)
                    return bad(QStringLiteral("damaged NetCDF header: more than one record dimension"));
                continue;
            }
            const std::uint64_t dims = count();
            fits(dims, mLong ? 8 : 4);
            // The record dimension (length 0) may only come first: elsewhere the library
            // divides by a zero size while it checks the variable.
            for (std::uint64_t d = 0; !stopped() && d < dims; ++d) {
                const std::uint64_t id = count();
                var.dims.push_back(static_cast<std::size_t>(id));
                if (!stopped() && id >= mDimLengths.size())
                    return bad(QStringLiteral("damaged NetCDF header: a variable names dimension %1 of %2").arg(id).arg(mDimLengths.size()));
                if (!stopped() && d > 0 && mDimLengths[static_cast<std::size_t>(id)] == 0)
                    return bad(QStringLiteral("damaged NetCDF header: the record dimension is not a variable's first"));
            }
            attributes();
            const std::uint64_t type = number(4);
            // Types the format does not know have no size, and the library divides by it.
            if (!stopped() && (type < 1 || type > maxType()))
                return bad(QStringLiteral("damaged NetCDF header: variable type %1").arg(type));
            count();             // size, which the extents compute from the dimensions
            var.type = static_cast<int>(type);
            var.begin = number(mOffset);
            if (!stopped())
                mVars.push_back(var);
        }
    }

    const unsigned char *mB;
    std::size_t mHave;
    std::uint64_t mSize;
    bool mLong;
    int mOffset;
    std::uint64_t mPos = 0;
    struct WalkVar
    {
        QString name;
        std::vector<std::size_t> dims;
        int type = 0;
        std::uint64_t begin = 0;
    };
    std::vector<std::uint64_t> mDimLengths;
    std::vector<WalkVar> mVars;
    std::uint64_t mRecords = 0;
    int mRecordDims = 0;
    Stop mStop = Stop::No;
    QString mWhy;
};

QString headerProblem(const QByteArray &head, std::uint64_t fileSize, std::vector<Extent> &extents)
{
    extents.clear();
    if (!head.startsWith("CDF"))
        return QString();
    HeaderWalk walk(reinterpret_cast<const unsigned char *>(head.constData()), static_cast<std::size_t>(head.size()), fileSize);
    const QString problem = walk.problem();
    extents = walk.extents();
    return problem;
}

} // namespace

bool looksLikeNetcdf(const QByteArray &head)
{
    return head.startsWith(QByteArrayLiteral("CDF\x01")) || head.startsWith(QByteArrayLiteral("CDF\x02"))
           || head.startsWith(QByteArrayLiteral("CDF\x05")) || head.startsWith(QByteArrayLiteral("\x89HDF\r\n\x1a\n"));
}

// Checks a classic header on disk before the library sees it (see HeaderWalk).
static bool checkHeader(const QString &path, std::uint64_t &size, std::vector<Extent> &extents, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    size = static_cast<std::uint64_t>(file.size());
    constexpr qint64 kHeaderLimit = 16 * 1024 * 1024;
    error = headerProblem(file.read(std::min<qint64>(file.size(), kHeaderLimit)), size, extents);
    return error.isEmpty();
}

// Checks the header ourselves, then opens the file with the library.
static bool openChecked(const QString &path, File &f, std::uint64_t &size, std::vector<Extent> &extents, QString &error)
{
    if (!checkHeader(path, size, extents, error))
        return false;
    const int status = nc_open(QFile::encodeName(path).constData(), NC_NOWRITE, f.handle());
    if (status != NC_NOERR) {
        error = openError(path, status);
        return false;
    }
    return true;
}

bool readNetcdf(const QString &path, const NetcdfChoice &choice, Grid &g, QString &error)
{
    std::uint64_t size = 0;
    std::vector<Extent> extents;
    File f;
    return openChecked(path, f, size, extents, error) && read(f.id(), path, size, extents, choice, g, error);
}

bool readNetcdfMemory(const QByteArray &image, const NetcdfChoice &choice, Grid &g, QString &error)
{
    // The library may keep a pointer into the image while the file is open: a private copy.
    std::vector<Extent> extents;
    error = headerProblem(image, static_cast<std::uint64_t>(image.size()), extents);
    if (!error.isEmpty())
        return false;
    std::vector<char> copy(image.begin(), image.end());
    File f;
    const int status = nc_open_mem("memory", NC_NOWRITE, copy.size(), copy.data(), f.handle());
    if (status != NC_NOERR) {
        error = openError(QStringLiteral("the image"), status);
        return false;
    }
    return read(f.id(), QStringLiteral("the image"), copy.size(), extents, choice, g, error);
}

bool listNetcdf(const QString &path, const NetcdfChoice &choice, QString &report, QString &error)
{
    std::uint64_t size = 0;
    std::vector<Extent> extents;
    File f;
    if (!openChecked(path, f, size, extents, error))
        return false;
    Catalogue c;
    if (!catalogue(f.id(), c, error) || !wholeFile(path, size, extents, Plan(), error))
        return false;
    QString &r = report;
    r = QStringLiteral("NetCDF file %1 (%2)\ndimensions:").arg(QFileInfo(path).fileName(), formatName(c.format));
    for (const Dim &d : c.dims)
        r += QStringLiteral(" %1 = %2%3%4").arg(d.name).arg(d.length).arg(d.unlimited ? QStringLiteral(" (unlimited)") : QString(),
                                                                   d.time ? QStringLiteral(" [time]") : QString());
    r += QStringLiteral("\nvariables:\n");
    for (const Var &v : c.vars) {
        const QString about = !v.standardName.isEmpty() ? v.standardName : v.longName;
        QString line = QStringLiteral("  %1 %2 %3").arg(shape(c, v), -34).arg(v.units.isEmpty() ? QStringLiteral("-") : v.units, -14).arg(about);
        r += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    Plan p;
    QString why;
    if (!plan(c, choice, p, why)) {
        r += QStringLiteral("would use: nothing - %1\n").arg(why);
        return true;
    }
    const auto coordName = [&](const Var *cv, int dimid) {
        return cv ? QStringLiteral("%1%2").arg(cv->name, cv->units.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(cv->units))
                  : QStringLiteral("%1 (index)").arg(c.dim(dimid).name);
    };
    r += QStringLiteral("would use: u = %1, v = %2, scalar = %3\n")
             .arg(p.u->name, p.v->name, p.scalar ? p.scalar->name : QStringLiteral("(none: flow speed)"));
    r += QStringLiteral("           x = %1, y = %2%3, grid %4 x %5\n")
             .arg(coordName(p.coordX, p.dimX), coordName(p.coordY, p.dimY), p.curvilinear ? QStringLiteral(" (curvilinear)") : QString())
             .arg(c.dim(p.dimX).length).arg(c.dim(p.dimY).length);
    if (!p.extra.isEmpty())
        r += QStringLiteral("           %1\n").arg(p.extra.join(QStringLiteral(", ")));
    return true;
}

} // namespace tessimport
