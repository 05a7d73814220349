#pragma once

// How tessaly-render turns its options into the calls the interactive views make (the
// dataset itself comes from loadDataset, as the program's). The
// pictures, polylines, seeding runs and reports come from the same core functions the
// widgets call; what is left here is the translation of options into those calls' settings.
//
// Coordinates: "index" is the regular grid's index space (gridVolume), "pixel" the picture's
// pixels (x right, y down), "world" the dataset's own positions (loadedVolume's extent).

#include "arrowplot/ArrowRender.h"
#include "streamlines/LineData.h"
#include "streamlines/SeparationGrid.h"
#include "streamlines/StreamlineRender.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVector>

#include <memory>

class QPainter;
class Volume;

namespace pipeline {

// ---------------------------------------------------------------- arrow plot

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
    bool fit = false;       // picture of the grid's own size instead of the view's
};

// The picture's size for these settings on `grid` (the zoom needs it to be checked).
QSize arrowPictureSize(const Volume &grid, const ArrowSettings &s);
// The largest zoom level whose view is still at least one cell wide and high.
int maxArrowZoom(QSize pictureSize);
// The view's settings after zoom - 1 right clicks and then a drag by the pan offset, by the
// view's own zoom and drag rules. The zoom must not exceed maxArrowZoom().
arrowrender::PictureSettings arrowPicture(const Volume &grid, const ArrowSettings &s);

// The colour bar legend (180 x 70) with its top-left corner at `at`, as the widget paints it:
// black captions on whatever lies below, the ramp bar in rows 30 ... 69.
constexpr int kColorBarWidth = 180;
constexpr int kColorBarHeight = 70;
constexpr int kColorBarGap = 10; // white pixels between the picture and the legend
void paintColorBar(QPainter &painter, QPoint at);
// Width the legend needs in a picture: the widget's 180 pixels, or more where the caption
// "High Pressure" runs past them in the application's font (the widget cuts it off there).
int colorBarExtent();
// A picture of `picture` pixels with the legend beside it: kColorBarGap white pixels to its
// right, as tall as the taller of the two.
QSize colorBarCanvas(QSize picture);
// The raster picture as the tool writes it: with `northUp`, rows flipFirst ... flipLast - 1
// (the rows that show the grid) mirrored top to bottom; then, with `colorBar`, the picture on
// a white colorBarCanvas() with the legend beside it. Null when that canvas cannot be held.
QImage composePicture(QImage image, bool northUp, int flipFirst, int flipLast, bool colorBar);

// ---------------------------------------------------------------- streamlines

// View rectangle corners are held to +-2^29 grid units, so that a width or height (at most
// 2^30) and every difference of two corners fit an int.
constexpr int kMaxViewCoordinate = 1 << 29;

struct StreamSettings
{
    bool evenly = false;
    int method = Euler;
    double dt = streamlineDefaults::kDt;
    int maxLength = streamlineDefaults::kMaxLength; // regular lines only
    bool antialias = false;
    bool haveRect = false;  // else the full grid
    ViewRect rect;          // index units
    float dSep = streamlineDefaults::kDSep; // evenly only
    float dTest = streamlineDefaults::kDTest;
    int maxSeeds = streamlineDefaults::kMaxSeeds; // evenly only; the view's limits by default
    int maxSteps = streamlineDefaults::kMaxSteps;
};

// One seeding run as the view makes it before it draws: the regular seed grid, or the evenly
// spaced lines (each listed once per seed search made on it, as the view lists them).
struct StreamRun
{
    QSize size;    // pixels: the view is sized to the grid, one pixel per cell
    ViewRect rect; // the visible region, index units
    StreamSettings settings;
    QVector<Vector3> seeds;
    QVector<Streamline> lines;
    QVector<QPolygon> polylines; // the pixel polylines the view draws, in drawing order
    std::unique_ptr<SeparationGrid> separation; // evenly only: the seeding's grid
};

// The run of the core's streamline computations (StreamlineRuns) for these options.
StreamRun seedStreamlines(const Volume &grid, const StreamSettings &s);
// Regular lines traced forward from `seeds` (index positions) with the settings' method,
// step and length, as data: without empty lines and repeated points (see dataLines).
QVector<Streamline> regularLines(const QVector<Vector3> &seeds, const StreamSettings &s, const Volume &grid,
                                 DroppedRepeats *dropped = nullptr);
// The same lines for a vector picture, which holds each once: the data lines below mapped to
// pixels, without a pixel repeated in a row (a trace that stalls within one pixel).
QVector<QPolygon> vectorPolylines(const StreamRun &run, const Volume &grid, DroppedRepeats *dropped = nullptr);
// The lines as data: every drawn line once (an evenly spaced line is drawn once per seed
// search made on it), in drawing order, without empty lines and without repeated points
// (withoutRepeatedPoints; what it left out is added to `dropped`).
QVector<Streamline> dataLines(const StreamRun &run, const Volume &grid, DroppedRepeats *dropped = nullptr);

} // namespace pipeline
