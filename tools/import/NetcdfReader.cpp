#include "tools/import/NetcdfReader.h"

#include "tools/import/NetcdfFile.h"
#include "tools/import/NetcdfHeader.h"
#include "tools/import/NetcdfPlan.h"

#include <netcdf_mem.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace tessimport {

using namespace netcdf;

namespace {

// What marks a value of one variable as missing (_FillValue, missing_value, outside
// valid_range or valid_min ... valid_max, NaN) and how the others unpack (scale_factor,
// add_offset), from the variable's attributes.
class Unpacking
{
public:
    Unpacking(int nc, const Var &v)
        : mMissing(attNumbers(nc, v.id, "missing_value"))
    {
        const std::vector<double> fill = attNumbers(nc, v.id, "_FillValue");
        const std::vector<double> range = attNumbers(nc, v.id, "valid_range");
        const std::vector<double> vmin = attNumbers(nc, v.id, "valid_min");
        const std::vector<double> vmax = attNumbers(nc, v.id, "valid_max");
        const std::vector<double> scale = attNumbers(nc, v.id, "scale_factor");
        const std::vector<double> offset = attNumbers(nc, v.id, "add_offset");
        mFill = fill.empty() ? defaultFill(v.type) : fill[0];
        if (range.size() >= 2) {
            mLow = range[0];
            mHigh = range[1];
        } else {
            if (!vmin.empty())
                mLow = vmin[0];
            if (!vmax.empty())
                mHigh = vmax[0];
        }
        mScale = scale.empty() ? 1.0 : scale[0];
        mOffset = offset.empty() ? 0.0 : offset[0];
        mPacked = !scale.empty() || !offset.empty();
    }

    // The values that `raw[0 ... n)` stand for, as T: NaN where one is missing, and where it
    // lies beyond the range of T (1e308 or inf as a float), which also counts in `beyond`.
    // `raw` may be `out` itself.
    template <typename In, typename T> void apply(const In *raw, T *out, std::size_t n, std::size_t *beyond) const
    {
        if constexpr (std::is_same_v<In, float> && std::is_same_v<T, float>)
            if (plainFloats())
                return runFloats(raw, out, n, beyond);
        if (mMissing.empty())
            mPacked ? run<false, true>(raw, out, n, beyond) : run<false, false>(raw, out, n, beyond);
        else
            mPacked ? run<true, true>(raw, out, n, beyond) : run<true, false>(raw, out, n, beyond);
    }

private:
    // Floats with only a fill value that is itself a float (or none): the same rules, tested
    // in single precision, where double(f) == fill exactly when f == float(fill).
    bool plainFloats() const
    {
        return mMissing.empty() && !mPacked && mLow == -INFINITY && mHigh == INFINITY
               && (std::isnan(mFill) || static_cast<double>(static_cast<float>(mFill)) == mFill);
    }
    void runFloats(const float *raw, float *out, std::size_t n, std::size_t *beyond) const
    {
        const float fill = static_cast<float>(mFill); // NaN: no value is the fill
        // Kept and finite: |f| <= FLT_MAX fails for NaN and inf alike. Kept infinities are
        // counted before an in-place `out` overwrites them. Branch-free, in runs of a fixed
        // length that the compiler vectorises.
        constexpr std::size_t kRun = 16;
        std::size_t over = 0;
        const auto keep = [fill](float f) { return std::fabs(f) <= FLT_MAX && f != fill ? f : NAN; };
        std::size_t k = 0;
        for (; k + kRun <= n; k += kRun) {
            std::uint32_t infinite = 0;
            for (std::size_t j = 0; j < kRun; ++j)
                infinite += std::fabs(raw[k + j]) == INFINITY && raw[k + j] != fill;
            over += infinite;
            for (std::size_t j = 0; j < kRun; ++j)
                out[k + j] = keep(raw[k + j]);
        }
        for (; k < n; ++k) {
            over += std::fabs(raw[k]) == INFINITY && raw[k] != fill;
            out[k] = keep(raw[k]);
        }
        if (beyond)
            *beyond += over;
    }

    template <bool Missing, bool Packed, typename In, typename T>
    void run(const In *raw, T *out, std::size_t n, std::size_t *beyond) const
    {
        const double lo = mLow, hi = mHigh, fill = mFill, scale = mScale, offset = mOffset;
        std::size_t over = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const double r = static_cast<double>(raw[k]);
            bool kept = r >= lo && r <= hi && r != fill; // not NaN either
            if constexpr (Missing)
                for (double m : mMissing)
                    kept = kept && r != m;
            // A kept value beyond the range of T is missing too, and counted.
            const double value = Packed ? r * scale + offset : r;
            const T t = static_cast<T>(value);
            const bool fits = std::isfinite(t);
            over += kept && !fits && !std::isnan(value);
            out[k] = kept && fits ? t : static_cast<T>(NAN);
        }
        if (beyond)
            *beyond += over;
    }

    std::vector<double> mMissing;
    double mFill = NAN, mLow = -INFINITY, mHigh = INFINITY, mScale = 1.0, mOffset = 0.0;
    bool mPacked = false;
};

// Other types are read into doubles this many values at a time (whole rows), so that no
// copy of the whole slice in double is ever held.
constexpr std::size_t kBlockValues = std::size_t(1) << 18;

bool readFailed(int status, const Var &v, QString &error)
{
    // NC_ERANGE: a value beyond the target type; the library converts the rest.
    if (status == NC_NOERR || status == NC_ERANGE)
        return false;
    error = QStringLiteral("cannot read %1: %2").arg(v.name, QString::fromUtf8(nc_strerror(status)));
    return true;
}

// Reads the 2-D slice of `v` at `start` (leading indices) in the file's storage order, as
// unpacked values (see Unpacking). Values that are already of the output's type (a float
// field, or any coordinate read as double) go straight into `out` and are unpacked in
// place; others pass through a block of rows in double.
template <typename T>
bool readSlice(const Catalogue &c, const Var &v, const std::vector<std::size_t> &start0, std::size_t ny, std::size_t nx,
               std::vector<T> &out, QString &error, std::size_t *beyond = nullptr)
{
    const std::size_t nd = v.dims.size();
    std::vector<std::size_t> start = start0, count(nd, 1);
    start.resize(nd, 0);
    if (nd >= 2) {
        count[nd - 2] = ny;
        count[nd - 1] = nx;
    } else {
        count[0] = nx * ny;
    }
    try {
        out.resize(nx * ny);
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("not enough memory for %1 x %2 points").arg(nx).arg(ny);
        return false;
    }
    const Unpacking unpack(c.nc, v);
    if (std::is_same_v<T, double> || v.type == NC_FLOAT) {
        int status;
        if constexpr (std::is_same_v<T, double>)
            status = nc_get_vara_double(c.nc, v.id, start.data(), count.data(), out.data());
        else
            status = nc_get_vara_float(c.nc, v.id, start.data(), count.data(), out.data());
        if (readFailed(status, v, error))
            return false;
        unpack.apply(out.data(), out.data(), out.size(), beyond);
        return true;
    }
    const std::size_t rows = nd < 2 ? ny : std::max<std::size_t>(1, kBlockValues / std::max<std::size_t>(nx, 1));
    std::vector<double> block(std::min(rows, ny) * nx);
    for (std::size_t y = 0; y < ny; y += rows) {
        const std::size_t n = std::min(rows, ny - y);
        if (nd >= 2) {
            count[nd - 2] = n;
            start[nd - 2] = y; // the slice's rows start at 0 (sliceStart)
        }
        if (readFailed(nc_get_vara_double(c.nc, v.id, start.data(), count.data(), block.data()), v, error))
            return false;
        unpack.apply(block.data(), out.data() + y * nx, n * nx, beyond);
    }
    return true;
}

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

// u, v and the scalar, each in one pass, in the order the file stores them (by variable:
// the classic formats lay out fixed variables and a record's variables in that order).
bool readFields(const Catalogue &c, const Plan &p, const NetcdfChoice &ch, Grid &g, QString &error)
{
    const std::size_t nx = std::size_t(g.nx), ny = std::size_t(g.ny);
    struct Field
    {
        const Var *var;
        std::vector<float> *out;
        std::size_t *beyond;
    };
    std::vector<Field> fields = {{p.u, &g.u, &g.flowBeyondFloat}, {p.v, &g.v, &g.flowBeyondFloat}};
    if (p.scalar)
        fields.push_back({p.scalar, &g.scalar, nullptr});
    std::stable_sort(fields.begin(), fields.end(), [](const Field &a, const Field &b) { return a.var->id < b.var->id; });
    std::vector<std::size_t> start;
    for (const Field &f : fields)
        if (!sliceStart(c, *f.var, ch, start, nullptr, error) || !readSlice(c, *f.var, start, ny, nx, *f.out, error, f.beyond))
            return false;
    return true;
}

// The positions: the coordinate variables' values, or the point indices where there is none.
bool readCoordinates(const Catalogue &c, const Plan &p, Grid &g, QString &error)
{
    const std::size_t nx = std::size_t(g.nx), ny = std::size_t(g.ny);
    const std::vector<std::size_t> none(2, 0);
    const auto coord = [&](const Var *cv, int dimid, std::size_t n, std::vector<double> &out, Axis &axis) {
        if (!cv) {
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
    g.curvilinear = p.curvilinear;
    return coord(p.coordX, p.dimX, nx, g.xs, g.xAxis) && coord(p.coordY, p.dimY, ny, g.ys, g.yAxis);
}

void describeFields(const Catalogue &c, const Plan &p, const NetcdfChoice &ch, Grid &g)
{
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
    if (!readFields(c, p, ch, g, error) || !readCoordinates(c, p, g, error))
        return false;
    describeFields(c, p, ch, g);
    return true;
}

// Checks the header ourselves, then opens the file with the library.
bool openChecked(const QString &path, File &f, std::uint64_t &size, std::vector<Extent> &extents, QString &error)
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

} // namespace

bool looksLikeNetcdf(const QByteArray &head)
{
    return head.startsWith(QByteArrayLiteral("CDF\x01")) || head.startsWith(QByteArrayLiteral("CDF\x02"))
           || head.startsWith(QByteArrayLiteral("CDF\x05")) || head.startsWith(QByteArrayLiteral("\x89HDF\r\n\x1a\n"));
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
