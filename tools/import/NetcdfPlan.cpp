#include "tools/import/NetcdfPlan.h"

#include <netcdf_filter.h>

#include <QFile>

#include <algorithm>

namespace tessimport::netcdf {

namespace {

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

// u and v, named or found, of one shape; the grid's dimensions are their last two.
bool planFlow(const Catalogue &c, const NetcdfChoice &ch, Plan &p, QString &error)
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
    return true;
}

// The scalar: named (and then it must fit the flow's grid), or found by name and taken
// only when it fits.
bool planScalar(const Catalogue &c, const NetcdfChoice &ch, Plan &p, QString &error)
{
    if (!ch.scalar.isEmpty()) {
        p.scalar = c.var(ch.scalar);
        if (!p.scalar) {
            error = QStringLiteral("no variable named %1").arg(ch.scalar);
            return false;
        }
    } else {
        p.scalar = findScalar(c);
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
    return true;
}

// Coordinates: 2-D ones named in u's `coordinates` attribute make a curvilinear grid; else
// the 1-D coordinate variables (named there or named like the dimensions).
void planCoordinates(const Catalogue &c, Plan &p)
{
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
}

} // namespace

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
    if (!planFlow(c, ch, p, error) || !planScalar(c, ch, p, error))
        return false;
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
    planCoordinates(c, p);
    return true;
}

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

// The import holds per point u, v and the scalar (float) and, on a curvilinear grid, the
// positions (double); values are read straight into these arrays (see readSlice).
bool memoryFor(const Catalogue &c, const Plan &p, QString &error)
{
    const std::uint64_t points = std::uint64_t(c.dim(p.dimX).length) * c.dim(p.dimY).length;
    const std::uint64_t need = points * (12 + (p.curvilinear ? 16 : 0));
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

} // namespace tessimport::netcdf
