#pragma once

#include <QImage>
#include <QLine>

class Progress;
class QPainter;
class Volume;

// Image computation of the arrow plot, free of any widget so that it can be tested and timed
// on its own. All coordinates are image pixels (x right, y down) unless said otherwise; the
// view copy is indexed in view cells (column 0 = the view's left edge).
namespace arrowrender {

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

} // namespace arrowrender
