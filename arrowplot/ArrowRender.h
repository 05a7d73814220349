#pragma once

#include "data/Volume.h"

#include <QColor>
#include <QImage>
#include <QLine>
#include <QRect>

class Dataset;
class Progress;
class QPainter;

// Image computation of the arrow plot, free of any widget so that it can be tested and timed
// on its own. All coordinates are image pixels (x right, y down) unless said otherwise; the
// view copy is indexed in view cells (column 0 = the view's left edge).
namespace arrowrender {

// The widget's fixed size in pixels; a full view shows one grid cell per pixel.
constexpr int kPlotWidth = 314;
constexpr int kPlotHeight = 538;
// The fixed extent of the data domain in data units, whatever the dataset: it only sets the
// arrow scale (pixels per unit of flow).
constexpr float kDomainMinX = 0.3299f;
constexpr float kDomainMinY = 0.3299f;
constexpr float kDomainMaxX = 11.6701f;
constexpr float kDomainMaxY = 18.77217f;

// Scale of one rendering: pixels per grid cell and pixels per unit of flow (which already
// include the zoom level), and whether the arrow length limit ignores the flow intensity.
struct ArrowScale
{
    float cellWidth = 1.0f;
    float cellHeight = 1.0f;
    float pixelsPerUnitX = 1.0f;
    float pixelsPerUnitY = 1.0f;
    bool fixedLength = true;
};

// Fills `view` (already sized to the view: vw x vh x 1) with the cells of `grid` whose
// columns start at x1 and rows at y1: view cell (i, j) = grid point (x1 + i, y1 + j, 0), or
// the all-zero point without values where that lies outside the grid. A null or empty grid
// gives an all-zero view. Copies the flat columns, so no point is built on the way.
void copyViewCells(const Volume *grid, int x1, int y1, Volume &view);

// The cells a picture of the view x1 ... x2, y1 ... y2 (grid index space) shows, as
// copyViewCells() gives them. A view of the whole 2-D grid (--fit) reads the grid itself:
// a copy would hold the same points and cost a second grid's memory and time.
class ViewCells
{
public:
    ViewCells(const Volume &grid, int x1, int y1, int x2, int y2);
    const Volume &cells() const { return mWhole ? mGrid : mCopy; }
    // False when the copy could not be held (no cells at all).
    bool held() const { return cells().pointCount() > 0; }

private:
    const Volume &mGrid;
    bool mWhole;
    Volume mCopy;
};

// Which cell paints each of `pixels` pixels along one axis when cell c covers the pixels
// trunc(c * cellSize) ... while p <= (c + 1) * cellSize (single-precision products, both ends
// inclusive) and later cells paint over earlier ones: owner[p] is the last cell covering p,
// or -1 where no cell does.
void pixelOwners(int cells, float cellSize, int pixels, int *owner);

// The pressure background: every view cell painted as a block in the ramp colour of its
// pressure (channel 0), exactly as a cell-by-cell, point-by-point drawing with inclusive
// bounds would paint it. Cells without a value and pixels no cell covers are black.
// `image` is (re)made as a w x h RGB32 image. Progress, if given, gets each view column.
void computePressureBackground(QImage &image, int w, int h, const Volume &view, float cellWidth,
                               float cellHeight, Progress *progress);

// A 64-bit fingerprint of what the pressure background of `view` depends on: the size of
// the view and, per cell, whether it has a value and the value's bits.
quint64 pressureFingerprint(const Volume &view);

// The line segments of one arrow glyph with its tail at pixel (x, y) for the flow vector
// (dx, dy) in data units. Returns the number of segments written to `lines` (0: nothing to
// draw, a zero vector; -1: a non-finite vector or scale, also nothing to draw). The first
// segment is the shaft, the others the head.
int arrowGlyph(int x, int y, float dx, float dy, const ArrowScale &scale, QLine lines[3]);

// Draws one arrow glyph with the painter's current pen. Returns arrowGlyph's count.
int drawArrow(QPainter &painter, int x, int y, float dx, float dy, const ArrowScale &scale);

// Draws the arrows on the coarse lattice of view cells (12, 24, ... while < vw) x
// (12, 24, ... while <= vh - 12) of `view`, each with its tail at the top-left pixel of its
// cell. Returns the number of arrows skipped for a non-finite flow vector.
int drawArrowLattice(QPainter &painter, const Volume &view, const ArrowScale &scale);

// Scale of a w x h picture of the view columns x1 ... x2 - 1 and rows y1 ... y2 - 1 at
// zoom level `zoom` (single-precision quotients; an empty view counts as one cell wide).
ArrowScale arrowScaleFor(int w, int h, int x1, int y1, int x2, int y2, int zoom, bool fixedLength);

// Makes `image` the base of a w x h picture (RGB32, reusing its pixels when it already is
// one): a copy of `background` when that has the same size and format, black otherwise.
void prepareArrowImage(QImage &image, int w, int h, const QImage *background);

// The arrow layer: the lattice of `view` drawn antialiased with a cosmetic pen of width 1 in
// `color`, on any painter (an image, an SVG generator). Returns drawArrowLattice's count.
int paintArrowLayer(QPainter &painter, const Volume &view, const ArrowScale &scale, const QColor &color);

// The picture without data: black over `rect` with "Data must be loaded first" centred in white.
void paintNoData(QPainter &painter, const QRect &rect);

// The legend of the pressure background within 180 x 70 pixels: "Low Pressure" ...
// "High Pressure" in the painter's pen and font over a 170 x 40 bar through the ramp
// (15 columns of the low colour, 140 of ramp, 15 of the high colour).
void paintColorBar(QPainter &painter);

// Everything one arrow picture depends on besides the grid.
struct PictureSettings
{
    int width = kPlotWidth;   // picture size in pixels
    int height = kPlotHeight;
    int viewX1 = 0;           // the view, in grid cells (half-open)
    int viewY1 = 0;
    int viewX2 = kPlotWidth;
    int viewY2 = kPlotHeight;
    int zoom = 1;
    bool fixedLength = true;
    bool showArrows = true;
    bool showPressure = false;
    QColor arrowColor = QColor(255, 255, 255);
};

// The whole arrow plot picture of `grid` as the view shows it: the view copy, the pressure
// background if asked (progress as the view reports it: "Calculating Colors ..." over the
// view columns, then columns + 10), and the arrows. Without a grid it is the no-data
// picture. `skipped`, if given, gets the number of arrows with a non-finite flow.
QImage renderPicture(const Volume *grid, const PictureSettings &settings, int *skipped = nullptr);

// The arrow view's computation on a dataset: renderPicture of its grid. An empty dataset
// gives the picture of a grid of no points.
QImage renderPicture(const Dataset &dataset, const PictureSettings &settings, int *skipped = nullptr);

// The same picture on any painter (an SVG generator, a printer) over the settings' width x
// height from its origin: the background or black as an image, the arrows as lines.
void paintPicture(QPainter &painter, const Volume *grid, const PictureSettings &settings, int *skipped = nullptr);

} // namespace arrowrender
