#include "tools/import/fuzz/ImportFuzz.h"

#include "tools/import/ImportGrid.h"
#include "tools/import/NetcdfReader.h"
#include "tools/import/TableReader.h"

#include <QByteArray>

#include <cmath>

namespace importfuzz {

namespace {

// Fuzz inputs stay below this many points, so that one input costs little memory.
constexpr std::size_t kFuzzPoints = std::size_t(1) << 20;

QString checkGrid(tessimport::Grid &g)
{
    using namespace tessimport;
    const std::size_t n = g.points();
    if (g.nx < 2 || g.ny < 2 || n > kMaxPoints)
        return QStringLiteral("accepted a %1 x %2 grid").arg(g.nx).arg(g.ny);
    if (g.u.size() != n || g.v.size() != n || (!g.scalar.empty() && g.scalar.size() != n))
        return QStringLiteral("value arrays do not match the grid");
    const std::size_t positions = g.curvilinear ? n : 0;
    if (g.xs.size() != (g.curvilinear ? positions : std::size_t(g.nx)) || g.ys.size() != (g.curvilinear ? positions : std::size_t(g.ny)))
        return QStringLiteral("position arrays do not match the grid");
    for (std::size_t k = 0; k < n; ++k)
        if (std::isinf(g.u[k]) || std::isinf(g.v[k]) || (!g.scalar.empty() && std::isinf(g.scalar[k])))
            return QStringLiteral("an infinite value was kept instead of becoming missing");
    if (!orient(g).isEmpty())
        return QString();
    // A curvilinear grid can twist so that no reversal puts its first row and column in
    // ascending order at once: there the rows, turned last, must be right.
    if ((!g.curvilinear && g.x(0, 0) > g.x(g.nx - 1, 0)) || g.y(0, 0) > g.y(0, g.ny - 1))
        return QStringLiteral("the first point is not the lower-left one after orienting");
    ScalarMapping m;
    QString error;
    if (!scalarMapping(g, false, 0, 0, m, error))
        return QString();
    if (!(m.low <= m.high))
        return QStringLiteral("scalar range %1 ... %2").arg(m.low).arg(m.high);
    const float values[] = {float(m.low), float(m.high), NAN, float(m.low) - 1.0f};
    for (float v : values) {
        const float mapped = mapScalar(m, v);
        if (std::isfinite(v) != std::isfinite(mapped) || mapped < kScalarLow || mapped > kScalarHigh)
            return QStringLiteral("mapped %1 onto %2").arg(v).arg(mapped);
    }
    return QString();
}

} // namespace

QString runTable(const std::uint8_t *bytes, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size));
    tessimport::Grid g;
    tessimport::TableInfo info;
    QString error;
    if (tessimport::inspectTable(text, {}, info, error) && describeTable(info).isEmpty())
        return QStringLiteral("empty table description");
    if (!tessimport::readTable(text, {}, g, error)) {
        if (error.isEmpty() || error.contains(QLatin1Char('\n')))
            return QStringLiteral("a refusal without a one-line message");
        return QString();
    }
    return checkGrid(g);
}

QString runNetcdf(const std::uint8_t *bytes, std::size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size));
    if (!image.startsWith("CDF"))
        return QString();
    tessimport::NetcdfChoice choice;
    choice.maxPoints = kFuzzPoints;
    tessimport::Grid g;
    QString error;
    if (!tessimport::readNetcdfMemory(image, choice, g, error)) {
        if (error.isEmpty() || error.contains(QLatin1Char('\n')))
            return QStringLiteral("a refusal without a one-line message");
        return QString();
    }
    return checkGrid(g);
}

} // namespace importfuzz
