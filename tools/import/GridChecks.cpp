#include "tools/import/GridChecks.h"

#include "data/SinglePrecision.h"

#include <algorithm>
#include <cmath>

namespace tessimport {

namespace {

QString number(double v)
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
                .arg(QLatin1String(which), axis.name, number(v), QStringLiteral("about ±3.4e38"));
        if (f == 0.0f && v != 0.0)
            return QStringLiteral("the %1 coordinate %2 holds %3, which single precision stores as 0")
                .arg(QLatin1String(which), axis.name, number(v));
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

} // namespace

QString positionProblem(const Grid &g)
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
        return QStringLiteral("the extent is empty: all %1 points lie at (%2, %3)").arg(g.points()).arg(number(x0), number(y0));
    if (x0 == x1)
        return QStringLiteral("the extent is empty: all %1 points have x = %2 (%3)").arg(g.points()).arg(number(x0), g.xAxis.name);
    if (y0 == y1)
        return QStringLiteral("the extent is empty: all %1 points have y = %2 (%3)").arg(g.points()).arg(number(y0), g.yAxis.name);
    return QString();
}

} // namespace tessimport
