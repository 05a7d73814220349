#pragma once

// Pictures for reports: the views' geometry, computed exactly as the views compute it, drawn
// at K output pixels per view pixel (lines through their sub-pixel points, arrows from their
// vectors), optionally with lines coloured by a field, a colour bar with values, a smooth
// background, and written as PNG, SVG or PDF. Everything here is opt-in: without these
// options tessaly-render writes the views' own pictures.
//
// Coordinates: "output pixels" are the figure's pixels (x right, y down); one view pixel is
// `scale` output pixels. SVG and PDF use the same units (a PDF point per output pixel).

#include "tools/render/ColorMaps.h"
#include "tools/render/Pipeline.h"

#include <QImage>
#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QVector>

#include <functional>

class QPainter;
class Volume;

namespace metadata {
struct Metadata;
}

namespace figure {

constexpr int kMaxScale = 64;

enum class ColorBy { None, Speed, Channel };

struct Settings
{
    int scale = 1;      // 1 ... 64 output pixels per view pixel
    QSize fitInto;      // --size: the largest scale whose figure fits; invalid: use `scale`
    double lineWidth = 0.0; // output pixels; 0: the default, which grows with the scale
    ColorBy colorBy = ColorBy::None;
    int channel = 0;    // ColorBy::Channel
    colormaps::Map map = colormaps::Map::Viridis;
    bool colorBar = false;
    QString label;      // empty: the quantity's name
    int arrowStep = 0;  // cells between arrows; 0: the view's 12
    bool arrowScaleGiven = false;
    double arrowScale = 0.0; // 0: auto (the longest arrow spans the step); else cells per unit of flow
    bool smooth = false;
    bool northUp = false;
    int lineArrows = 0; // heads per streamline
    // What the dataset's channels and flow mean (NAME.meta.json): legends then show real
    // values with the quantity's long name and units. Null: the stored values.
    const metadata::Metadata *meta = nullptr;
};

// Reads the figure options (scale, size, line-width, color-by, cmap, colorbar, label,
// arrow-step, arrow-scale, line-arrows, smooth, north-up; declared for the tool in
// OptionTable.cpp) through the caller's option accessors. `has` tells whether an option was
// given, `text` its value. Returns false with a one-line reason for a bad value. `active` is
// set when any option asks for a figure (rather than the view's own picture).
bool parse(const std::function<bool(const char *)> &has, const std::function<QString(const char *)> &text,
           Settings &s, bool *active, QString *error);

// ------------------------------------------------------------- the drawing

// One thing drawn, in output pixels.
struct Item
{
    enum Kind { Fill, Image, Lines, Polyline, Text } kind = Fill;
    QRectF rect;           // Fill, Image: target
    QRgb color = 0xff000000;
    QImage image;          // Image: at the data's own resolution (one pixel per cell)
    QImage raster;         // Image: the same at output resolution for raster output (optional)
    bool smooth = false;   // Image: interpolated when scaled
    QVector<QPointF> points; // Polyline: the points; Lines: pairs of end points
    double width = 1.0;    // Lines, Polyline: stroke width
    QString text;          // Text: its baseline starts at rect.topLeft()
    double fontPixels = 11.0;
};

struct Figure
{
    QSize canvas;          // the whole figure
    QSize picture;         // the data picture at its top-left corner; items in `data` are clipped to it
    bool antialias = true;
    QRgb paper = 0xffffffff; // canvas colour around the picture (legend)
    QVector<Item> data;    // the view's content
    QVector<Item> legend;  // drawn on top, never flipped
    // North up: the data rows flipRow0 ... flipRow1 - 1 are mirrored in place.
    bool flip = false;
    int flipRow0 = 0, flipRow1 = 0;
};

// Raster output: the figure as an image (null without memory for it).
QImage rasterise(const Figure &f);
// The figure as a file by its extension (png, svg, pdf), through output::writeFile (staged in the
// current output transaction). `error` gets a reason.
// `pngLevel`: the PNG's deflate level, 0 ... 9.
bool write(const QString &path, const QString &format, const Figure &f, const QString &title, QString *error,
           int pngLevel = 1);

// ------------------------------------------------------------- the views

// Each returns 0, 1 (failed: `error`) or 2 (a setting that this dataset cannot take:
// `error`), and on 0 fills `f`.
int arrowFigure(const Settings &s, const Volume &grid, const pipeline::ArrowSettings &arrows, Figure &f,
                QString *error);
// The pixel rows row0 ... row1 - 1 of the arrow picture `p` at scale k that show grid rows
// (the view's cell rows as its background paints them); false when none do. North up
// mirrors these rows alone: the view beyond the grid stays where it is.
bool arrowDataRows(const Volume &grid, const arrowrender::PictureSettings &p, int k, int *row0, int *row1);
int streamlineFigure(const Settings &s, const pipeline::StreamRun &run, const Volume &grid, Figure &f,
                     QString *error);

// The quantity a line is coloured by at index position (x, y): the speed |v| of the bilinear
// flow, or the bilinear channel value (NaN where a corner has no value, or outside).
double lineValue(const Settings &s, const Volume &grid, double x, double y);
// Its range over the grid cells within `rect` (index units) that hold a value; false when
// no cell does.
bool valueRange(const Settings &s, const Volume &grid, const ViewRect &rect, double *lo, double *hi);

} // namespace figure
