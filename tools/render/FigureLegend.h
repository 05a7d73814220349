#pragma once

// What the arrow and streamline figures share, inside the figure files: the legend beside the
// picture (a colour bar with values, a reference arrow), the quantity it shows, and the scale
// a figure is drawn at. Output pixels throughout.

#include "tools/render/Figure.h"

#include <QFont>

#include <functional>

namespace figure::detail {

// The legend's font at `pixels` (rounded, at least 1) pixels high.
QFont legendFont(double pixels);

// What the legend shows; its geometry follows from the picture it sits beside.
struct LegendContent
{
    bool bar = false;
    QString label;
    double lo = 0.0, hi = 1.0;
    std::function<QRgb(double)> color; // value -> colour
    bool key = false;
    double keyValue = 0.0;
    double keyPixelsPerScale = 0.0; // key arrow length in output pixels at scale 1
    QString keyText;
};

// The figure's size: the picture, and the legend to its right (null: none).
QSize canvasFor(const LegendContent *l, QSize picture, int scale);

// One arrow from `tail` along `v` as pairs of end points: the shaft, then two barbs at 30
// degrees, each `head` long but at most 0.4 of the shaft.
void appendArrow(QVector<QPointF> &pairs, QPointF tail, QPointF v, double head);

// The legend's items beside f.picture, in f.legend. The key arrow is drawn as the picture's
// arrows are: `arrowColor`, `arrowWidth`, `arrowHead`.
void addLegend(Figure &f, const LegendContent &l, int scale, QRgb arrowColor, double arrowWidth, double arrowHead);

// The quantity a legend shows, as the metadata gives it: real values from stored ones and
// back (both increasing), and its label. Without metadata, the stored values themselves.
struct Shown
{
    std::function<double(double)> real = [](double v) { return v; };
    std::function<double(double)> stored = [](double v) { return v; };
    QString label; // empty: none known
};

Shown shownChannel(const Settings &s, int channel);
Shown shownSpeed(const Settings &s);

// The scale a figure is drawn at: s.scale, or with --size the largest whose figure fits
// (0 when none does). `picture1` is the picture at scale 1, `legend` the legend at a scale.
int scaleFor(const Settings &s, QSize picture1, const std::function<LegendContent(int)> &legend);
// The line and arrow width at `scale`: --line-width, or half the scale and at least 1.
double defaultLineWidth(const Settings &s, int scale);
// Whether a raster of `size` is within the tool's limit; else `error` says why.
bool fits(QSize size, QString *error);
// The reason for scaleFor's 0.
QString noFit(const Settings &s, QSize picture1);

} // namespace figure::detail
