#include "tools/render/ColorMaps.h"

#include "arrowplot/ColorRamp.h"

#include <algorithm>
#include <cmath>

namespace colormaps {

bool parse(const QString &name, Map *map)
{
    static const struct
    {
        const char *name;
        Map map;
    } known[] = {{"viridis", Map::Viridis}, {"cividis", Map::Cividis}, {"magma", Map::Magma}, {"tessaly", Map::Tessaly}};
    for (const auto &k : known) {
        if (name == QLatin1String(k.name)) {
            *map = k.map;
            return true;
        }
    }
    return false;
}

QStringList names()
{
    return {QStringLiteral("viridis"), QStringLiteral("cividis"), QStringLiteral("magma"), QStringLiteral("tessaly")};
}

int entryFor(double t)
{
    if (!(t > 0.0))
        return 0;
    if (t >= 1.0)
        return kEntries - 1;
    return std::min(kEntries - 1, static_cast<int>(t * kEntries));
}

QRgb entry(Map map, int i)
{
    i = std::clamp(i, 0, kEntries - 1);
    const float(*table)[3] = nullptr;
    switch (map) {
    case Map::Viridis: table = data::viridis; break;
    case Map::Cividis: table = data::cividis; break;
    case Map::Magma: table = data::magma; break;
    case Map::Tessaly: return ramp::rgbAt(static_cast<double>(i) / (kEntries - 1));
    }
    const auto c = [&](int k) { return static_cast<int>(std::lround(static_cast<double>(table[i][k]) * 255.0)); };
    return qRgb(c(0), c(1), c(2));
}

} // namespace colormaps
