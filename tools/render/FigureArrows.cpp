// The arrow plot as a figure: the view's arrows and pressure background computed as the view
// computes them, at K output pixels per view pixel, with an optional legend.

#include "arrowplot/ArrowRender.h"
#include "arrowplot/ColorRamp.h"
#include "data/Metadata.h"
#include "data/SinglePrecision.h"
#include "data/Volume.h"
#include "tools/render/Figure.h"
#include "tools/render/FigureLegend.h"
#include "tools/render/Ticks.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace figure {

using namespace detail;

namespace {

// The background bilinearly interpolated at each output pixel's centre, in view cells; a
// pixel whose nearest cell holds no value is black, and cells without a value take no part
// in their neighbours' interpolation.
QImage smoothBackground(const Volume &view, int w, int h, float cellWidth, float cellHeight)
{
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const int vw = view.getDimX(), vh = view.getDimY();
    const PointStore &s = view.store();
    const std::size_t stride = static_cast<std::size_t>(s.stride());
    const auto value = [&](int cx, int cy, float *v) {
        cx = std::clamp(cx, 0, vw - 1);
        cy = std::clamp(cy, 0, vh - 1);
        const std::size_t k = view.indexOf(cx, cy, 0);
        if (s.count()[k] <= 0 || stride == 0)
            return false;
        *v = s.values()[k * stride];
        return std::isfinite(*v);
    };
    for (int py = 0; py < h; ++py) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(py));
        const double v = (py + 0.5) / cellHeight - 0.5;
        const int cy = static_cast<int>(std::floor(v));
        const double fy = v - cy;
        for (int px = 0; px < w; ++px) {
            const double u = (px + 0.5) / cellWidth - 0.5;
            const int cx = static_cast<int>(std::floor(u));
            const double fx = u - cx;
            float near = 0.0f;
            const int nx = static_cast<int>(std::floor(u + 0.5)), ny = static_cast<int>(std::floor(v + 0.5));
            if (nx >= vw || ny >= vh || !value(nx, ny, &near)) {
                line[px] = qRgb(0, 0, 0);
                continue;
            }
            double sum = 0.0, weight = 0.0;
            const double wts[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
            for (int k = 0; k < 4; ++k) {
                float c = 0.0f;
                if (wts[k] > 0.0 && value(cx + (k & 1), cy + (k >> 1), &c)) {
                    sum += wts[k] * c;
                    weight += wts[k];
                }
            }
            line[px] = ramp::pressureRgb(weight > 0.0 ? roundToSingle(sum / weight) : near);
        }
    }
    return image;
}

// The lattice's longest flow vector in data units, for the automatic scale and the key.
double longestFlow(const Volume &view, int step)
{
    const int vw = view.getDimX(), vh = view.getDimY();
    const Vector3 *dir = view.store().dir();
    double longest = 0.0;
    for (int i = step; i < vw; i += step)
        for (int j = step; j <= vh - step; j += step) {
            const Vector3 &q = dir[view.indexOf(i, j, 0)];
            const double len = std::hypot(double(roundToSingle(q.x)), double(roundToSingle(q.y)));
            if (std::isfinite(len))
                longest = std::max(longest, len);
        }
    return longest;
}

// How long the figure's arrows are: the view's rule, or proportional to the flow with
// --arrow-scale.
struct ArrowLengths
{
    const Settings &s;
    const arrowrender::PictureSettings &p;
    int step;       // cells between arrows
    double longest; // longestFlow()

    // Everything at scale k: the view's scale computed for a picture k times the size.
    arrowrender::ArrowScale scaleAt(int k) const
    {
        return arrowrender::arrowScaleFor(p.width * k, p.height * k, p.viewX1, p.viewY1, p.viewX2, p.viewY2, p.zoom,
                                          p.fixedLength);
    }

    // The arrow in output pixels for flow (dx, dy) and its head length.
    QPointF vector(const arrowrender::ArrowScale &sc, float dx, float dy, double *head) const
    {
        if (s.arrowScaleGiven) {
            // Output pixels per unit of flow along x and y.
            double cells = s.arrowScale;
            if (cells == 0.0) // auto: the longest arrow spans the step
                cells = longest > 0.0 ? step / longest : 1.0;
            const double ux = cells * sc.cellWidth, uy = cells * sc.cellHeight;
            if (ux > 0.0) {
                *head = 0.3 * std::hypot(dx * ux, dy * uy);
                return QPointF(dx * ux, dy * uy);
            }
        }
        // The view's rule: each component limited to 6 * m cells, the head 3 * m cells.
        const double m = sc.fixedLength ? 1.0 : roundToSingle(std::sqrt(double(dx) * dx + double(dy) * dy) + 0.3);
        const double lx = 6.0 * m * sc.cellWidth, ly = 6.0 * m * sc.cellHeight;
        *head = 3.0 * m * std::min(sc.cellWidth, sc.cellHeight);
        return QPointF(std::clamp(dx * double(sc.pixelsPerUnitX), -lx, lx), std::clamp(dy * double(sc.pixelsPerUnitY), -ly, ly));
    }
};

// The colour bar of the pressure ramp and the reference arrow at scale k.
LegendContent arrowLegend(const ArrowLengths &a, int k)
{
    const Settings &s = a.s;
    LegendContent l;
    if (!s.colorBar)
        return l;
    if (a.p.showPressure) {
        const Shown pressure = shownChannel(s, 0);
        l.bar = true;
        l.label = !s.label.isEmpty() ? s.label : !pressure.label.isEmpty() ? pressure.label : QStringLiteral("pressure");
        // The ramp's fixed scale: -4 ... 2.5 spans it once; in the metadata's real values
        // its ends are the range the import mapped onto it.
        l.lo = pressure.real(-4.0);
        l.hi = pressure.real(2.5);
        l.color = [stored = pressure.stored](double v) { return ramp::pressureRgb(roundToSingle(stored(v))); };
    }
    // The key is a round number of the source's flow units: the pair's flow is the source's
    // times the import's flow scale.
    const double flowScale = s.meta ? s.meta->flowScale : 1.0;
    const double keyReal = ticks::roundBelow(a.longest / flowScale);
    const double keyValue = keyReal * flowScale;
    if (keyValue > 0.0) {
        const QString keyUnits = s.meta && !s.meta->u.units.isEmpty() ? QStringLiteral(" ") + s.meta->u.units : QString();
        l.key = true;
        l.keyValue = keyValue;
        double head = 0.0;
        l.keyPixelsPerScale = a.vector(a.scaleAt(k), roundToSingle(keyValue), 0.0f, &head).x() / k;
        l.keyText = ticks::format(keyReal, keyReal) + keyUnits;
    }
    return l;
}

// The picture's background: the view cells' pressure (one pixel per cell for vector output,
// the view's raster or a smooth one for PNG), or black. False without memory for it.
bool addBackground(const Settings &s, bool pressure, const Volume &view, const arrowrender::ArrowScale &sc, Figure &f,
                   QString *error)
{
    const int w = f.picture.width(), h = f.picture.height();
    if (!pressure) {
        Item black;
        black.kind = Item::Fill;
        black.rect = QRectF(0, 0, w, h);
        f.data.append(black);
        return true;
    }
    const int vw = view.getDimX(), vh = view.getDimY();
    Item bg;
    bg.kind = Item::Image;
    bg.smooth = s.smooth;
    bg.image = QImage(vw, vh, QImage::Format_RGB32);
    const PointStore &st = view.store();
    const std::size_t stride = static_cast<std::size_t>(st.stride());
    for (int j = 0; j < vh; ++j)
        for (int i = 0; i < vw; ++i) {
            const std::size_t c = view.indexOf(i, j, 0);
            bg.image.setPixel(i, j, st.count()[c] > 0 && stride > 0 ? ramp::pressureRgb(st.values()[c * stride]) : qRgb(0, 0, 0));
        }
    bg.rect = QRectF(0, 0, vw * double(sc.cellWidth), vh * double(sc.cellHeight));
    if (s.smooth)
        bg.raster = smoothBackground(view, w, h, sc.cellWidth, sc.cellHeight);
    else
        arrowrender::computePressureBackground(bg.raster, w, h, view, sc.cellWidth, sc.cellHeight, nullptr);
    if (bg.raster.isNull() || bg.image.isNull()) {
        *error = QStringLiteral("no memory for a %1 x %2 background").arg(w).arg(h);
        return false;
    }
    f.data.append(bg);
    return true;
}

// The arrows of the view's lattice, every `step` cells.
Item arrowItem(const ArrowLengths &a, const Volume &view, const arrowrender::ArrowScale &sc, double width)
{
    const int vw = view.getDimX(), vh = view.getDimY();
    const Vector3 *dir = view.store().dir();
    Item arrows;
    arrows.kind = Item::Lines;
    arrows.color = a.p.arrowColor.rgb();
    arrows.width = width;
    for (int i = a.step; i < vw; i += a.step)
        for (int j = a.step; j <= vh - a.step; j += a.step) {
            const Vector3 &q = dir[view.indexOf(i, j, 0)];
            double head = 0.0;
            const QPointF v = a.vector(sc, roundToSingle(q.x), roundToSingle(q.y), &head);
            const QPointF tail(double(static_cast<float>(i) * sc.cellWidth), double(static_cast<float>(j) * sc.cellHeight));
            appendArrow(arrows.points, tail, v, head);
        }
    return arrows;
}

} // namespace

bool arrowDataRows(const Volume &grid, const arrowrender::PictureSettings &p, int k, int *row0, int *row1)
{
    const int h = p.height * k;
    const int vh = std::max(p.viewY2 - p.viewY1, 1);
    const float cellHeight = static_cast<float>(h) / static_cast<float>(vh);
    std::vector<int> owner(static_cast<std::size_t>(std::max(h, 0)));
    arrowrender::pixelOwners(vh, cellHeight, h, owner.data());
    int r0 = h, r1 = 0;
    for (int r = 0; r < h; ++r) {
        const int o = owner[static_cast<std::size_t>(r)];
        const long long g = static_cast<long long>(p.viewY1) + o;
        if (o >= 0 && g >= 0 && g < grid.getDimY()) {
            r0 = std::min(r0, r);
            r1 = std::max(r1, r + 1);
        }
    }
    *row0 = r0;
    *row1 = r1;
    return r0 < r1;
}


int arrowFigure(const Settings &s, const Volume &grid, const pipeline::ArrowSettings &a, Figure &f, QString *error)
{
    const arrowrender::PictureSettings p = pipeline::arrowPicture(grid, a);
    const QSize picture1(p.width, p.height);
    const arrowrender::ViewCells cells(grid, p.viewX1, p.viewY1, p.viewX2, p.viewY2);
    if (!cells.held()) {
        *error = QStringLiteral("no memory for the view's %1 x %2 cells")
                     .arg(std::max(p.viewX2 - p.viewX1, 1))
                     .arg(std::max(p.viewY2 - p.viewY1, 1));
        return 1;
    }
    const Volume &view = cells.cells();
    const int step = s.arrowStep > 0 ? s.arrowStep : 12;
    const ArrowLengths lengths{s, p, step, longestFlow(view, step)};

    const int k = scaleFor(s, picture1, [&](int scale) { return arrowLegend(lengths, scale); });
    if (k == 0) {
        *error = noFit(s, picture1);
        return 2;
    }
    const arrowrender::ArrowScale sc = lengths.scaleAt(k);
    const LegendContent legend = arrowLegend(lengths, k);
    f = Figure();
    f.picture = QSize(p.width * k, p.height * k);
    f.canvas = canvasFor(&legend, f.picture, k);
    if (!fits(f.canvas, error))
        return 1;
    f.antialias = true; // the view draws its arrows antialiased
    if (!addBackground(s, p.showPressure, view, sc, f, error))
        return 1;
    const double width = defaultLineWidth(s, k);
    f.data.append(arrowItem(lengths, view, sc, width));

    if (s.northUp)
        f.flip = arrowDataRows(grid, p, k, &f.flipRow0, &f.flipRow1);
    double keyHead = 0.0;
    lengths.vector(sc, roundToSingle(legend.keyValue), 0.0f, &keyHead);
    addLegend(f, legend, k, p.arrowColor.rgb(), width, keyHead);
    return 0;
}

} // namespace figure
