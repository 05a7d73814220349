#pragma once

// The computation behind the streamline view, free of widgets: the seeding runs, the
// fixed-length trace, the mapping of grid positions to image pixels and the painting of the
// picture. The view gathers its parameters and calls exactly these; the headless renderer,
// benchmarks and tests call them directly.

#include "streamlines/EvenlySpacedSeeding.h"
#include "streamlines/Integrate.h"
#include "streamlines/StreamlineDefaults.h"
#include "data/Vector3.h"
#include "data/ViewRect.h"
#include "data/Volume.h"

#include <QImage>
#include <QPoint>
#include <QPolygon>
#include <QSize>
#include <QVector>

#include <cmath>
#include <functional>

class Progress;
class QPainter;

// The grid volume if it can be read: not null and holding points. A volume that failed to
// allocate (or a dataset of no points) counts as no data at all.
const Volume *usableGrid(const Volume *grid);

// Appends the regular seed grid over `view` to `seeds`, column by column: x and y start one
// unit inside the top-left corner and advance by width / seedsX and height / seedsY (double
// precision) while they stay left of / above the right / bottom edge. An empty or inverted
// rectangle or a non-positive count gives no seeds.
void appendRegularSeeds(QVector<Vector3> &seeds, const ViewRect &view, int seedsX, int seedsY);

// Maps grid positions to image pixels: the view rectangle is stretched over dimX x dimY
// pixels from the image's top-left corner (the whole image, since the view is sized to the
// grid). The scales are single-precision, as is their reciprocal; pixels truncate toward zero.
class PixelMapping
{
public:
    PixelMapping(const ViewRect &view, int dimX, int dimY);

    QPoint map(double x, double y) const { return QPoint(toPixel((x - mX1) * mInvX), toPixel((y - mY1) * mInvY)); }

    float scaleX() const { return mScaleX; }
    float scaleY() const { return mScaleY; }

private:
    // Truncation toward zero; positions far outside the picture are pinned well outside the
    // image instead of overflowing an int (the painter clips them either way).
    static int toPixel(double v)
    {
        constexpr double kLimit = 1 << 30;
        if (!(v < kLimit))
            return v > 0 ? static_cast<int>(kLimit) : -static_cast<int>(kLimit); // also NaN
        if (v < -kLimit)
            return -static_cast<int>(kLimit);
        return static_cast<int>(v);
    }

    float mScaleX;
    float mScaleY;
    double mInvX;
    double mInvY;
    double mX1;
    double mY1;
};

// The regular mode's fixed-length trace: from `seed`, while the position lies inside `grid`
// and fewer than maxLength positions were given, hands the position to `sink` and steps by
// |dt|. The position reached by the last step, and the first one outside, are not given.
template <typename Sink>
inline void traceFixedLength(Vector3 seed, double dt, int method, int maxLength, const Volume &grid, Sink &&sink)
{
    const double h = std::fabs(dt);
    Vector3 p = seed;
    for (int i = 0; i < maxLength; ++i) {
        if (!grid.isInside(p.x, p.y, p.z))
            return;
        const Vector3 q = integrate(p, h, method, &grid);
        sink(p);
        p = q;
    }
}

// The same trace as a list of positions.
Streamline traceFixedLength(Vector3 seed, double dt, int method, int maxLength, const Volume &grid);

// Rendering parameters of one regular picture.
struct TraceSettings
{
    double dt = streamlineDefaults::kDt;
    int method = Euler;
    int maxLength = streamlineDefaults::kMaxLength;
};

// One polyline per seed, in seed order (an empty one for a seed outside the grid), each
// position mapped to its pixel as the trace produces it. perSeed(i) runs after seed i.
void traceRegularPolylines(const QVector<Vector3> &seeds, const TraceSettings &settings, const Volume &grid,
                           const PixelMapping &mapping, QVector<QPolygon> &polylines,
                           const std::function<void(int)> &perSeed = {});

// A seeding run as the view starts one: prints the separator line, resets `seeding` with
// `parameters`, then places the regular seed grid over `view` into `seeds` or, when
// evenlySpaced, runs the evenly spaced seeding on `grid` (a message when there is none),
// and prints the number of traced points. `seeds` and `lines` are the lists `seeding` was
// built with; both are emptied first.
void runSeeding(EvenlySpacedSeeding &seeding, QVector<Vector3> &seeds, QVector<Streamline> &lines, bool evenlySpaced,
                const ViewRect &view, int seedsX, int seedsY, const EvenlySpacedSeeding::Parameters &parameters,
                const Volume *grid);

// The regular picture's polylines: one per seed, traced on `grid` and mapped from `view`
// onto the grid's pixels. Progress, if given, gets seed index i after seed i is traced.
QVector<QPolygon> regularPolylines(const QVector<Vector3> &seeds, const ViewRect &view, const TraceSettings &settings,
                                   const Volume &grid, Progress *progress = nullptr);

// The evenly spaced picture's polylines: the stored lines mapped from `view` onto the grid's
// pixels, without an inside test.
QVector<QPolygon> evenlySpacedPolylines(const QVector<Streamline> &lines, const ViewRect &view, const Volume &grid);

// A fresh image of `size`, ARGB32 premultiplied, opaque black. Null when it cannot be had.
QImage blankStreamlineImage(QSize size);

// Draws every polyline as an opaque white open polyline of width 1 with `painter` (an image,
// an SVG generator, ...); antialiased sets the painter's render hint first.
void paintStreamlines(QPainter &painter, const QVector<QPolygon> &polylines, bool antialiased);
// The same on an image (nothing on a null image).
void paintPolylines(QImage &image, const QVector<QPolygon> &polylines, bool antialiased);

// The picture shown without data: dark red over the image with "Data must be loaded first"
// centred in white.
void paintNoData(QImage &image);

// The whole regular picture as the view renders it: the regular lines painted on a black
// image of `size`.
struct RegularPicture
{
    QVector<Vector3> seeds;
    QVector<QPolygon> polylines;
    QImage image;
};
RegularPicture renderRegularPicture(QSize size, const ViewRect &view, int seedsX, int seedsY,
                                    const TraceSettings &settings, bool antialiased, const Volume &grid,
                                    Progress *progress = nullptr);
