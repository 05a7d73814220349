// The volume report and the pictures: tessaly-render's --probe and its PNG output, composed
// as the tool composes them (tools/render/Pipeline and Figure), as RGBA pixels.

#include "python/src/AdapterPrivate.h"

#include "arrowplot/ArrowRender.h"
#include "data/SinglePrecision.h"
#include "data/Volume.h"
#include "streamlines/StreamlineRender.h"
#include "tools/render/Figure.h"
#include "volinfo/VolumeReport.h"

#include <QGuiApplication>
#include <QImage>

#include <clocale>
#include <cmath>
#include <mutex>

namespace tessalypy {

namespace {

// Largest picture tessaly-render draws.
constexpr long long kMaxPixels = 1LL << 28;
constexpr int kMaxSide = 32767;

void checkPicture(QSize size)
{
    const int w = size.width(), h = size.height();
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || (long long)w * h > kMaxPixels)
        throw ValueError(text(QStringLiteral("a picture of %1 x %2 pixels is beyond the limit of %3 pixels a side and %4 in all")
                                  .arg(w)
                                  .arg(h)
                                  .arg(kMaxSide)
                                  .arg(kMaxPixels)));
}

QImage held(QImage image, QSize size)
{
    if (image.isNull())
        throw ValueError(text(QStringLiteral("no memory for a %1 x %2 picture").arg(size.width()).arg(size.height())));
    return image;
}

Image toImage(const QImage &image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    Image out;
    out.width = rgba.width();
    out.height = rgba.height();
    out.rgba.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(rgba.constScanLine(y), std::size_t(out.width) * 4, out.rgba.data() + std::size_t(y) * out.width * 4);
    return out;
}

// The view's settings of a picture, checked as the tool checks its options.
struct View
{
    bool arrows = false;
    pipeline::ArrowSettings a;
    pipeline::StreamSettings s;
};

View viewOf(const RenderSettings &r)
{
    View v;
    v.arrows = r.view == "arrows";
    if (!v.arrows && r.view != "streamlines" && r.view != "evenly")
        throw ValueError("view " + r.view + ": expected arrows, streamlines or evenly");
    if (v.arrows) {
        if (r.zoom < 1 || r.zoom > pipeline::kMaxZoom)
            throw ValueError("zoom " + std::to_string(r.zoom) + ": expected a whole number from 1 to 15");
        for (int p : {r.panX, r.panY})
            if (p < -pipeline::kMaxPan || p > pipeline::kMaxPan)
                throw ValueError("pan: expected 2 whole numbers, each within +-" + std::to_string(pipeline::kMaxPan));
        v.a.zoom = r.zoom;
        v.a.panX = r.panX;
        v.a.panY = r.panY;
        v.a.pressure = r.pressure;
        v.a.intensity = r.intensity;
        v.a.black = r.black;
        v.a.fit = r.fit;
        return v;
    }
    v.s = streamSettings(r.lines, r.view == "evenly");
    v.s.antialias = r.antialias;
    if (r.haveRect) {
        constexpr int kLimit = pipeline::kMaxViewCoordinate;
        for (int c : r.rect)
            if (c < -kLimit || c > kLimit)
                throw ValueError("view_rect: expected 4 whole numbers, each within +-" + std::to_string(kLimit));
        if (r.rect[2] <= r.rect[0] || r.rect[3] <= r.rect[1])
            throw ValueError("view_rect: X1 < X2 and Y1 < Y2 are needed");
        v.s.haveRect = true;
        v.s.rect = ViewRect{r.rect[0], r.rect[1], r.rect[2], r.rect[3]};
    }
    return v;
}

// The figure options, read by the tool's own parser (the same ranges and messages).
// `figureMode` tells whether any of them asks for a figure.
figure::Settings figureOf(const RenderSettings &r, const Dataset &d, bool *figureMode)
{
    const auto given = [&](const char *name) -> const std::string * {
        for (const auto &[k, v] : r.figure)
            if (k == name)
                return &v;
        return nullptr;
    };
    const auto has = [&](const char *name) {
        const std::string n(name);
        return given(name) != nullptr || (n == "colorbar" && r.colorBar) || (n == "north-up" && r.northUp);
    };
    const auto value = [&](const char *name) {
        const std::string *v = given(name);
        return v ? QString::fromStdString(*v) : QString();
    };
    figure::Settings settings;
    QString error;
    if (!figure::parse(has, value, settings, figureMode, &error))
        throw ValueError(text(error));
    settings.meta = d.meta.get();
    return settings;
}

// The arrow picture's size, with the zoom checked against it.
QSize arrowSize(const Volume &grid, const pipeline::ArrowSettings &a)
{
    const QSize size = pipeline::arrowPictureSize(grid, a);
    checkPicture(size);
    const int maxZoom = pipeline::maxArrowZoom(size);
    if (a.zoom > maxZoom)
        throw ValueError(text(QStringLiteral("zoom %1 leaves no cells of a %2 x %3 picture (largest zoom %4)")
                                  .arg(a.zoom)
                                  .arg(size.width())
                                  .arg(size.height())
                                  .arg(maxZoom)));
    return size;
}

QImage figurePicture(const Dataset &d, const View &v, const figure::Settings &settings)
{
    const Volume &grid = *d.grid;
    figure::Figure f;
    QString error;
    int status = 0;
    if (v.arrows) {
        arrowSize(grid, v.a);
        status = figure::arrowFigure(settings, grid, v.a, f, &error);
    } else {
        checkPicture(QSize(grid.getDimX(), grid.getDimY()));
        status = figure::streamlineFigure(settings, pipeline::seedStreamlines(grid, v.s), grid, f, &error);
    }
    if (status != 0)
        throw ValueError(text(error));
    checkPicture(f.canvas);
    return held(figure::rasterise(f), f.canvas);
}

// The view's own picture, composed as the tool writes its PNG.
QImage viewPicture(const Dataset &d, const View &v, const RenderSettings &r)
{
    const Volume &grid = *d.grid;
    QImage image;
    QSize size;
    int flipRows[2] = {0, 0}; // the pixel rows that show the grid: north up mirrors these alone
    if (v.arrows) {
        size = arrowSize(grid, v.a);
        const arrowrender::PictureSettings picture = pipeline::arrowPicture(grid, v.a);
        if (!figure::arrowDataRows(grid, picture, 1, &flipRows[0], &flipRows[1]))
            flipRows[0] = flipRows[1] = 0;
        image = arrowrender::renderPicture(*d.core, picture);
    } else {
        size = QSize(grid.getDimX(), grid.getDimY());
        checkPicture(size);
        const pipeline::StreamRun run = pipeline::seedStreamlines(grid, v.s);
        image = blankStreamlineImage(run.size);
        paintPolylines(image, run.polylines, v.s.antialias);
        flipRows[1] = run.size.height();
    }
    image = held(std::move(image), size);
    const bool colorBar = v.arrows && r.colorBar;
    if (colorBar)
        checkPicture(pipeline::colorBarCanvas(size));
    image = pipeline::composePicture(std::move(image), r.northUp, flipRows[0], flipRows[1], colorBar);
    if (image.isNull())
        throw ValueError("no memory for the picture");
    return image;
}

} // namespace

// A QGuiApplication for the pictures (fonts of the colour bar, the painter's raster engine),
// made once when none exists, on the offscreen platform whatever QT_QPA_PLATFORM says (a
// platform without a display would end the process). Qt sets the C locale from the
// environment as it starts; the interpreter's is put back.
void ensureGuiApplication()
{
    static std::once_flag once; // pictures may be asked for from several threads at once
    std::call_once(once, [] {
        if (QCoreApplication::instance())
            return;
        static int argc = 3;
        static char arg0[] = "tessaly", arg1[] = "-platform", arg2[] = "offscreen";
        static char *argv[] = {arg0, arg1, arg2, nullptr};
        const char *current = std::setlocale(LC_ALL, nullptr);
        const std::string locale = current ? current : "C";
        new QGuiApplication(argc, argv); // lives as long as the process
        std::setlocale(LC_ALL, locale.c_str());
    });
}

Probe probe(Dataset &d, double x, double y)
{
    // tessaly-render --probe's range.
    for (const auto &[name, v] : {std::pair<const char *, double>{"x", x}, {"y", y}})
        if (!std::isfinite(v) || v < 0.0 || v > 1e9)
            throw ValueError(std::string(name) + " " + number(v) + ": not a position from 0 to 1e9");
    const float px = roundToSingle(x), py = roundToSingle(y);
    const Volume &l = *d.loaded;
    if (px > l.getDimX() - 1 || py > l.getDimY() - 1)
        throw ValueError("probe (" + number(x) + ", " + number(y) + "): outside the dataset, whose positions run from 0 to "
                         + std::to_string(l.getDimX() - 1) + " along x and 0 to " + std::to_string(l.getDimY() - 1)
                         + " along y");
    Quiet quiet;
    const volumereport::Report r = volumereport::sample(*d.core, px, py);
    Probe p;
    p.x = r.x;
    p.y = r.y;
    const Vector3 *v[3] = {&r.point.mPos, &r.point.mDir, &r.outPutPos};
    double *out[3] = {p.pos, p.dir, p.outPutPos};
    for (int i = 0; i < 3; ++i) {
        out[i][0] = v[i]->x;
        out[i][1] = v[i]->y;
        out[i][2] = v[i]->z;
    }
    p.values.assign(r.point.mValues.begin(), r.point.mValues.end());
    if (d.meta) {
        // tessaly-render --probe --json's "real" and "units".
        p.haveMeta = true;
        for (std::size_t c = 0; c < p.values.size(); ++c) {
            const double real = d.meta->realValue(int(c), double(p.values[c]));
            p.real.push_back(std::isfinite(real) ? real : NAN);
            p.known.push_back(d.meta->knows(int(c)));
            p.units.push_back(p.known.back() ? text(d.meta->units(int(c))) : std::string());
        }
    }
    return p;
}

Image render(const Dataset &d, const RenderSettings &r)
{
    const View v = viewOf(r);
    bool figureMode = false;
    const figure::Settings settings = figureOf(r, d, &figureMode);
    Quiet quiet;
    ensureGuiApplication();
    return toImage(figureMode ? figurePicture(d, v, settings) : viewPicture(d, v, r));
}

} // namespace tessalypy
