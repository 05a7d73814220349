#include "data/DatasetCheck.h"

#include "data/SinglePrecision.h"
#include "data/Volume.h"

#include <charconv>
#include <cmath>

namespace dataset {

namespace {

// A position as the files hold it: the shortest text that reads back as the same float.
QString number(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
    return QString::fromLatin1(buf, static_cast<int>(r.ptr - buf));
}

QString point(double x, double y)
{
    return QStringLiteral("(%1, %2)").arg(number(x), number(y));
}

} // namespace

QString whyUnusable(const Volume &loaded)
{
    const std::size_t n = loaded.pointCount();
    if (loaded.getDimX() < 2 || loaded.getDimY() < 2)
        return QStringLiteral("the dataset is %1 x %2 points: at least 2 along x and 2 along y are needed")
            .arg(loaded.getDimX())
            .arg(loaded.getDimY());

    const Vector3 &lo = loaded.mMinPos, &hi = loaded.mMaxPos;
    const bool finiteExtent = std::isfinite(lo.x) && std::isfinite(lo.y) && std::isfinite(hi.x) && std::isfinite(hi.y);
    // Infinite when the extent is flat or too narrow for single precision.
    const bool noWidth = !std::isfinite(roundToSingle(loaded.getDimX() / (hi.x - lo.x)));
    const bool noHeight = !std::isfinite(roundToSingle(loaded.getDimY() / (hi.y - lo.y)));
    // The loader starts the corners at +-99999999, which no single-precision position equals
    // (the nearest float is 100000000): a corner still there was never set.
    const bool unset = lo.x == 99999999.0 || hi.x == -99999999.0;
    // Set corners are positions of the dataset, so a sound extent needs no look at the
    // points; the rest is told apart by them.
    if (finiteExtent && !unset && !noWidth && !noHeight)
        return QString();

    // Positions of every layer, x and y: how many are finite, and whether they all coincide.
    const Vector3 *pos = loaded.store().pos();
    std::size_t finite = 0, infinite = 0;
    bool allEqual = true;
    Vector3 first;
    for (std::size_t i = 0; i < n; ++i) {
        const Vector3 &p = pos[i];
        if (std::isfinite(p.x) && std::isfinite(p.y)) {
            if (finite++ == 0)
                first = p;
            else if (p.x != first.x || p.y != first.y)
                allEqual = false;
        } else if (std::isinf(p.x) || std::isinf(p.y)) {
            ++infinite;
        }
    }
    if (finite == 0)
        return QStringLiteral("the extent is empty: all %1 positions are NaN or infinite").arg(n);

    if (!finiteExtent)
        return QStringLiteral("the extent is infinite: %1 of %2 positions are infinite").arg(infinite).arg(n);
    if (allEqual)
        return QStringLiteral("the extent is empty: all %1 points%2 lie at %3")
            .arg(finite)
            .arg(finite < n ? QStringLiteral(" with a finite position") : QString())
            .arg(point(first.x, first.y));
    if (unset)
        return QStringLiteral("the extent is not set: every position lies beyond +-99999999 in x or y");
    // The extent takes whole positions (a point lower-left of all before it, or upper-right),
    // so it can be flat even where the positions differ.
    return QStringLiteral("the extent has no %1: it runs from %2 to %3")
        .arg(QLatin1String(noWidth && noHeight ? "area" : noWidth ? "width" : "height"), point(lo.x, lo.y), point(hi.x, hi.y));
}

QString unusableMessage(const QString &reason)
{
    return QStringLiteral("Not loaded: ") + reason;
}

} // namespace dataset
