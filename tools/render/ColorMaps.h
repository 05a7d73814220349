#pragma once

// Colour maps for values along streamlines and in the colour bar. viridis, cividis and
// magma are perceptually uniform 256-entry tables (ColorMapData.cpp, generated from their
// published definitions); "tessaly" is the arrow plot's own pressure ramp.

#include <QRgb>
#include <QString>
#include <QStringList>

namespace colormaps {

enum class Map { Viridis, Cividis, Magma, Tessaly };

constexpr int kEntries = 256;

// The map of that name (lower case); false for an unknown name.
bool parse(const QString &name, Map *map);
QStringList names();

// The map's entry for position t in 0 ... 1: entry floor(t * 256), held to 0 ... 255 (so t = 1
// is the last entry). NaN gives the first entry.
int entryFor(double t);
// Entry i (0 ... 255) as an opaque colour; components rounded from the table's 0 ... 1.
QRgb entry(Map map, int i);
inline QRgb at(Map map, double t) { return entry(map, entryFor(t)); }

namespace data {
extern const float viridis[kEntries][3];
extern const float cividis[kEntries][3];
extern const float magma[kEntries][3];
} // namespace data

} // namespace colormaps
