#include "data/FieldArrays.h"

#include "data/SinglePrecision.h"

#include <algorithm>
#include <cmath>

namespace field {

namespace {

// Strictly increasing or strictly decreasing, every value finite.
bool monotonic(const std::vector<double> &a)
{
    if (a.empty() || !std::isfinite(a[0]))
        return false;
    const bool up = a.size() < 2 || a[1] > a[0];
    for (std::size_t i = 1; i < a.size(); ++i)
        if (!std::isfinite(a[i]) || (up ? !(a[i] > a[i - 1]) : !(a[i] < a[i - 1])))
            return false;
    return true;
}

template <typename T> void reverseColumns(std::vector<T> &a, int nx, int ny)
{
    if (a.empty())
        return;
    for (int j = 0; j < ny; ++j) {
        auto row = a.begin() + static_cast<std::ptrdiff_t>(j) * nx;
        std::reverse(row, row + nx);
    }
}

template <typename T> void reverseRows(std::vector<T> &a, int nx, int ny)
{
    if (a.empty())
        return;
    for (int j = 0; j < ny / 2; ++j)
        std::swap_ranges(a.begin() + static_cast<std::ptrdiff_t>(j) * nx, a.begin() + static_cast<std::ptrdiff_t>(j + 1) * nx,
                         a.begin() + static_cast<std::ptrdiff_t>(ny - 1 - j) * nx);
}

// In double: the squares of large float components would overflow.
float speed(const Arrays &g, std::size_t k)
{
    return static_cast<float>(std::hypot(double(g.u[k]), double(g.v[k])));
}

QString shortNumber(double v)
{
    return QString::number(v, 'g', 7);
}

// A coordinate that single precision cannot hold: beyond its range, or a non-zero value
// that becomes 0.
QString unstorable(const std::vector<double> &a, const Axis &axis, const char *which)
{
    for (const double v : a) {
        const float f = roundToSingle(v);
        if (std::isinf(f))
            return QStringLiteral("the %1 coordinate %2 holds %3, beyond the float range of positions (%4)")
                .arg(QLatin1String(which), axis.name, shortNumber(v), QStringLiteral("about ±3.4e38"));
        if (f == 0.0f && v != 0.0)
            return QStringLiteral("the %1 coordinate %2 holds %3, which single precision stores as 0")
                .arg(QLatin1String(which), axis.name, shortNumber(v));
    }
    return QString();
}

// A 1-D axis must stay strictly monotonic in single precision.
QString merged(const std::vector<double> &a, const Axis &axis, const char *which)
{
    for (std::size_t i = 1; i < a.size(); ++i)
        if (roundToSingle(a[i]) == roundToSingle(a[i - 1]))
            return QStringLiteral("the %1 coordinate %2 has neighbours %3 and %4 that single precision stores as one value")
                .arg(QLatin1String(which), axis.name, QString::number(a[i - 1], 'g', 17), QString::number(a[i], 'g', 17));
    return QString();
}

// Every per-point array of the field, for the reversals.
std::vector<std::vector<float> *> pointArrays(Arrays &g)
{
    std::vector<std::vector<float> *> all{&g.u, &g.v, &g.scalar};
    for (std::vector<float> &e : g.extra)
        all.push_back(&e);
    return all;
}

} // namespace

QString orient(Arrays &g)
{
    if (g.nx < 2 || g.ny < 2)
        return QStringLiteral("a grid needs at least 2 x 2 points, found %1 x %2").arg(g.nx).arg(g.ny);
    if (g.curvilinear) {
        for (std::size_t k = 0; k < g.points(); ++k)
            if (!std::isfinite(g.xs[k]) || !std::isfinite(g.ys[k]))
                return QStringLiteral("the coordinates %1/%2 have missing values").arg(g.xAxis.name, g.yAxis.name);
    } else {
        if (!monotonic(g.xs))
            return QStringLiteral("the x coordinate %1 is not strictly monotonic").arg(g.xAxis.name);
        if (!monotonic(g.ys))
            return QStringLiteral("the y coordinate %1 is not strictly monotonic").arg(g.yAxis.name);
    }
    // Reverses every per-point array with `flip` (columns or rows), and the positions: on a
    // curvilinear grid alike, else the 1-D `axis`.
    const auto reverse = [&g](auto flip, std::vector<double> &axis) {
        if (g.curvilinear) {
            flip(g.xs);
            flip(g.ys);
        } else {
            std::reverse(axis.begin(), axis.end());
        }
        for (std::vector<float> *a : pointArrays(g))
            flip(*a);
    };
    // Columns first, judged along the first row; then rows, judged along the first column
    // as it stands after that (on a curvilinear grid the two steps are not independent).
    g.reversedX = g.x(g.nx - 1, 0) < g.x(0, 0);
    if (g.reversedX)
        reverse([&g](auto &a) { reverseColumns(a, g.nx, g.ny); }, g.xs);
    g.reversedY = g.y(0, g.ny - 1) < g.y(0, 0);
    if (g.reversedY)
        reverse([&g](auto &a) { reverseRows(a, g.nx, g.ny); }, g.ys);
    return QString();
}

std::size_t missingFlow(const Arrays &g)
{
    std::size_t n = 0;
    for (std::size_t k = 0; k < g.points(); ++k)
        n += !(std::isfinite(g.u[k]) && std::isfinite(g.v[k]));
    return n;
}

bool scalarMapping(const Arrays &g, bool haveRange, double low, double high, ScalarMapping &m, QString &error)
{
    const bool own = !g.scalar.empty();
    m.name = own ? g.scalarName : QStringLiteral("speed");
    m.units = own ? g.scalarUnits : g.uUnits;
    m.fromData = !haveRange;
    m.missing = 0;
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t k = 0; k < g.points(); ++k) {
        const float s = own ? g.scalar[k] : speed(g, k);
        if (!std::isfinite(s)) {
            ++m.missing;
            continue;
        }
        lo = std::min(lo, double(s));
        hi = std::max(hi, double(s));
    }
    if (haveRange) {
        lo = low;
        hi = high;
    } else if (!(lo <= hi)) {
        error = QStringLiteral("%1 has no value at any point").arg(m.name);
        return false;
    }
    m.low = lo;
    m.high = hi;
    return true;
}

float mapScalar(const ScalarMapping &m, float value)
{
    if (!std::isfinite(value))
        return NAN;
    const double span = m.high - m.low;
    if (!(span > 0.0))
        return 0.5f * (kScalarLow + kScalarHigh);
    const double t = std::clamp((double(value) - m.low) / span, 0.0, 1.0);
    return static_cast<float>(kScalarLow + t * (double(kScalarHigh) - double(kScalarLow)));
}

QString checkSizes(const Arrays &g)
{
    if (g.nx < 0 || g.ny < 0)
        return QStringLiteral("negative point counts %1 x %2").arg(g.nx).arg(g.ny);
    const std::size_t n = g.points();
    const std::size_t nxs = g.curvilinear ? n : std::size_t(g.nx);
    const std::size_t nys = g.curvilinear ? n : std::size_t(g.ny);
    if (g.xs.size() != nxs || g.ys.size() != nys)
        return QStringLiteral("the coordinates hold %1 and %2 values, a %3 x %4 grid needs %5 and %6")
            .arg(g.xs.size()).arg(g.ys.size()).arg(g.nx).arg(g.ny).arg(nxs).arg(nys);
    if (g.u.size() != n || g.v.size() != n || (!g.scalar.empty() && g.scalar.size() != n))
        return QStringLiteral("u, v and the scalar hold %1, %2 and %3 values, a %4 x %5 grid needs %6 each")
            .arg(g.u.size()).arg(g.v.size()).arg(g.scalar.size()).arg(g.nx).arg(g.ny).arg(n);
    for (std::size_t c = 0; c < g.extra.size(); ++c)
        if (g.extra[c].size() != n)
            return QStringLiteral("channel %1 holds %2 values, a %3 x %4 grid needs %5")
                .arg(c + kChannels).arg(g.extra[c].size()).arg(g.nx).arg(g.ny).arg(n);
    return QString();
}

QString positionProblem(const Arrays &g)
{
    QString why = unstorable(g.xs, g.xAxis, "x");
    if (why.isEmpty())
        why = unstorable(g.ys, g.yAxis, "y");
    if (why.isEmpty() && !g.curvilinear) {
        why = merged(g.xs, g.xAxis, "x");
        if (why.isEmpty())
            why = merged(g.ys, g.yAxis, "y");
    }
    if (!why.isEmpty())
        return why;
    float x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const float x = roundToSingle(g.x(i, j)), y = roundToSingle(g.y(i, j));
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    if (x0 == x1 && y0 == y1)
        return QStringLiteral("the extent is empty: all %1 points lie at (%2, %3)").arg(g.points()).arg(shortNumber(x0), shortNumber(y0));
    if (x0 == x1)
        return QStringLiteral("the extent is empty: all %1 points have x = %2 (%3)").arg(g.points()).arg(shortNumber(x0), g.xAxis.name);
    if (y0 == y1)
        return QStringLiteral("the extent is empty: all %1 points have y = %2 (%3)").arg(g.points()).arg(shortNumber(y0), g.yAxis.name);
    return QString();
}

namespace {

// The rule of point() below, inlined into the row loop as well.
inline void pointAt(const Arrays &g, const ScalarMapping &m, double flowScale, int x, int y, float pos[3], float dir[3],
                    float values[kChannels])
{
    const bool own = !g.scalar.empty();
    const std::size_t k = static_cast<std::size_t>(y) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(x);
    pos[0] = static_cast<float>(g.x(x, y));
    pos[1] = static_cast<float>(g.y(x, y));
    pos[2] = 0.0f;
    const float su = static_cast<float>(g.u[k] * flowScale);
    const float sv = static_cast<float>(g.v[k] * flowScale);
    // A point with one component missing (or scaled beyond the float range) has no
    // flow: both become NaN.
    const bool flow = std::isfinite(su) && std::isfinite(sv);
    dir[0] = flow ? su : NAN;
    dir[1] = flow ? sv : NAN;
    dir[2] = 0.0f;
    const float s = own ? g.scalar[k] : (std::isfinite(g.u[k]) && std::isfinite(g.v[k]) ? speed(g, k) : NAN);
    values[0] = mapScalar(m, s);
    values[1] = std::isfinite(s) ? s : NAN;
}

} // namespace

void point(const Arrays &g, const ScalarMapping &m, double flowScale, int x, int y, float pos[3], float dir[3],
           float values[kChannels])
{
    pointAt(g, m, flowScale, x, y, pos, dir, values);
}

void pointRow(const Arrays &g, const ScalarMapping &m, double flowScale, int y, float *pos, float *record)
{
    constexpr std::size_t stride = kRecordFloats;
    for (int x = 0; x < g.nx; ++x, pos += 3, record += stride)
        pointAt(g, m, flowScale, x, y, pos, record, record + 3);
}

} // namespace field
