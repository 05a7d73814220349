#pragma once

// How tessaly-render turns a loaded dataset into the pictures and data the interactive views
// show. Every call into the views' computing code (view copy, pressure background, arrow
// glyphs, seed grid, traces, pixel mapping, evenly spaced seeding, colour ramp, volume report)
// is made from here and nowhere else in the tool, so the tool follows those functions when
// they change.
//
// Coordinates: "index" is the regular grid's index space (gridVolume), "pixel" the picture's
// pixels (x right, y down), "world" the dataset's own positions (loadedVolume's extent).

#include "ArrowRender.h"
#include "EvenlySpacedSeeding.h"
#include "StreamlineRender.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QVector>

#include <memory>

class QPainter;
class Volume;

namespace pipeline {

// ---------------------------------------------------------------- datasets

// Loads `gridFile` as the program does (the dataset, then its regular grid of the same x and
// y counts and one layer). On failure both are null and the result is false; the loader's
// reason went to the console (qDebug).
bool load(const QString &gridFile, std::unique_ptr<Volume> &loaded, std::unique_ptr<Volume> &grid);

// World position of an index-space position: the inverse of the loader's mapping, with the
// same single-precision scale factors (a zero-width extent maps everything to its edge).
void indexToWorld(const Volume &loaded, double gx, double gy, double &wx, double &wy);

// ---------------------------------------------------------------- arrow plot

// The arrow plot window's fixed size in pixels (= grid cells at zoom level 1).
constexpr int kArrowWidth = 314;
constexpr int kArrowHeight = 538;
constexpr int kMaxZoom = 15;
// Pan offsets are held to this many cells, as the view holds them.
constexpr int kMaxPan = 1 << 28;

struct ArrowSettings
{
    int zoom = 1;           // 1 ... 15: zoom level reached by right clicks
    int panX = 0, panY = 0; // cells the view is moved right / down (a drag the other way)
    bool pressure = false;
    bool intensity = false; // arrow length follows the flow intensity
    bool black = false;     // black arrows instead of white
    bool fit = false;       // picture of the grid's own size instead of 314 x 538
};

struct ArrowPicture
{
    QSize size;                       // pixels
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0; // view rectangle in grid cells
    arrowrender::ArrowScale scale;
    std::unique_ptr<Volume> cells;    // the viewed cells (vw x vh x 1)
    QImage background;                // pressure background (RGB32), null when off
    QColor arrowColor;
};

// The picture's size for these settings on `grid` (the zoom needs it to be checked).
QSize arrowPictureSize(const Volume &grid, const ArrowSettings &s);
// The largest zoom level that leaves the view at least one cell wide and high.
int maxArrowZoom(QSize pictureSize);
// Everything the arrow plot computes for these settings. The zoom must not exceed
// maxArrowZoom(); null cells when memory for them cannot be had.
ArrowPicture composeArrows(const Volume &grid, const ArrowSettings &s);
// The image the arrow plot shows (RGB32).
QImage rasterArrows(const ArrowPicture &a);
// The same picture through any painter: the background as one image, each arrow as a path.
void paintArrowsVector(QPainter &painter, const ArrowPicture &a);

// The colour bar legend (180 x 70) with its top-left corner at `at`: black captions on
// whatever lies below, the ramp bar in rows 30 ... 69.
constexpr int kColorBarWidth = 180;
constexpr int kColorBarHeight = 70;
constexpr int kColorBarGap = 10; // white pixels between the picture and the legend
void paintColorBar(QPainter &painter, QPoint at);
// Width the legend needs in a picture: the widget's 180 pixels, or more where the caption
// "High Pressure" runs past them in the application's font (the widget cuts it off there).
int colorBarExtent();

// ---------------------------------------------------------------- streamlines

struct StreamSettings
{
    bool evenly = false;
    int method = Euler;
    double dt = 1.55;
    int maxLength = 200;    // regular lines only
    bool antialias = false;
    bool haveRect = false;  // else the full grid
    ViewRect rect;          // index units
    float dSep = 30.0f;     // evenly only
    float dTest = 0.5f;
};

struct StreamPicture
{
    QSize size;                 // pixels: the grid's x and y counts
    ViewRect rect;
    QVector<Streamline> drawn;  // in drawing order; evenly spaced lines repeat as the view's do
    QVector<QPolygon> polylines; // pixel polylines of `drawn`
    QImage image;               // ARGB32 premultiplied, as the view holds it
    QByteArray gridLog;         // evenly: the separation grid's counts as "grid.log" holds them
};

StreamPicture composeStreamlines(const Volume &grid, const StreamSettings &s);
// The image the streamline view shows.
QImage rasterStreamlines(const StreamPicture &p, bool antialias);
// The same lines through any painter, each polyline a path, on black.
void paintStreamlinesVector(QPainter &painter, const StreamPicture &p, bool antialias);
// The lines as data: every drawn line once, in drawing order, empty lines left out.
QVector<Streamline> dataLines(const StreamPicture &p);

// ---------------------------------------------------------------- volume information

struct Probe
{
    float x = 0.0f, y = 0.0f; // index position in the loaded dataset
    Vector3 pos, dir;
    QVector<float> values;
    Vector3 gridPos;          // "outPutPos"
    QString text;             // the report exactly as the volume information dialog shows it
};

// Position from whole and hundredth parts, as the dialog's spin boxes make it.
float probeCoordinate(int whole, int hundredths);
Probe probe(Volume &loaded, float x, float y);

} // namespace pipeline
