#include "tools/render/Figure.h"

#include "arrowplot/ArrowRender.h"
#include "arrowplot/ColorRamp.h"
#include "tools/render/FastPng.h"
#include "data/Metadata.h"
#include "tools/render/Output.h"
#include "data/SinglePrecision.h"
#include "tools/render/Ticks.h"
#include "data/Volume.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QThread>


#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>
#include <vector>

namespace figure {

// ------------------------------------------------------------- options

QStringList valueOptions()
{
    return {QStringLiteral("scale"),   QStringLiteral("size"),       QStringLiteral("line-width"),
            QStringLiteral("color-by"), QStringLiteral("cmap"),      QStringLiteral("label"),
            QStringLiteral("arrow-step"), QStringLiteral("arrow-scale"), QStringLiteral("line-arrows")};
}

QStringList flagOptions()
{
    return {QStringLiteral("smooth")};
}

namespace {

bool wholeNumber(const QString &text, int lo, int hi, int *v)
{
    bool ok = false;
    *v = text.trimmed().toInt(&ok);
    return ok && *v >= lo && *v <= hi;
}

} // namespace

bool parse(const std::function<bool(const char *)> &has, const std::function<QString(const char *)> &text, Settings &s,
           bool *active, QString *error)
{
    *active = false;
    const auto fail = [&](const QString &why) {
        *error = why;
        return false;
    };
    if (has("scale")) {
        if (!wholeNumber(text("scale"), 1, kMaxScale, &s.scale))
            return fail(QStringLiteral("--scale %1: expected a whole number from 1 to %2").arg(text("scale")).arg(kMaxScale));
        // --scale 1 alone is the view's picture.
        *active = *active || s.scale != 1;
    }
    if (has("size")) {
        if (has("scale"))
            return fail(QStringLiteral("--size and --scale exclude each other"));
        const QStringList wh = text("size").toLower().split(QLatin1Char('x'));
        int w = 0, h = 0;
        if (wh.size() != 2 || !wholeNumber(wh[0], 1, 32767, &w) || !wholeNumber(wh[1], 1, 32767, &h))
            return fail(QStringLiteral("--size %1: expected WxH, each from 1 to 32767 pixels").arg(text("size")));
        s.fitInto = QSize(w, h);
        *active = true;
    }
    if (has("line-width")) {
        bool ok = false;
        s.lineWidth = text("line-width").trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(s.lineWidth) || !(s.lineWidth > 0.0) || s.lineWidth > 256.0)
            return fail(QStringLiteral("--line-width %1: expected output pixels above 0, at most 256").arg(text("line-width")));
        *active = true;
    }
    if (has("color-by")) {
        const QString c = text("color-by").trimmed().toLower();
        if (c == QLatin1String("speed")) {
            s.colorBy = ColorBy::Speed;
        } else if (c == QLatin1String("pressure")) {
            s.colorBy = ColorBy::Channel;
            s.channel = 0;
        } else if (wholeNumber(c, 0, 1 << 20, &s.channel)) {
            s.colorBy = ColorBy::Channel;
        } else {
            return fail(QStringLiteral("--color-by %1: expected speed, pressure or a channel number (0 is the pressure)")
                            .arg(text("color-by")));
        }
        *active = true;
    }
    if (has("cmap")) {
        if (!colormaps::parse(text("cmap").trimmed().toLower(), &s.map))
            return fail(QStringLiteral("--cmap %1: expected %2").arg(text("cmap"), colormaps::names().join(QStringLiteral(", "))));
        if (s.colorBy == ColorBy::None)
            return fail(QStringLiteral("--cmap goes with --color-by"));
    }
    s.colorBar = has("colorbar");
    if (has("label")) {
        s.label = text("label");
        if (s.label.trimmed().isEmpty())
            return fail(QStringLiteral("--label needs a text"));
        if (!s.colorBar)
            return fail(QStringLiteral("--label goes with --colorbar"));
        *active = true;
    }
    if (has("arrow-step")) {
        if (!wholeNumber(text("arrow-step"), 1, 10000, &s.arrowStep))
            return fail(QStringLiteral("--arrow-step %1: expected a whole number of cells from 1 to 10000").arg(text("arrow-step")));
        *active = true;
    }
    if (has("arrow-scale")) {
        s.arrowScaleGiven = true;
        const QString a = text("arrow-scale").trimmed().toLower();
        if (a != QLatin1String("auto")) {
            bool ok = false;
            s.arrowScale = a.toDouble(&ok);
            if (!ok || !std::isfinite(s.arrowScale) || !(s.arrowScale > 0.0) || s.arrowScale > 1e6)
                return fail(QStringLiteral("--arrow-scale %1: expected auto or cells per unit of flow above 0, at most 1e6")
                                .arg(text("arrow-scale")));
        }
        *active = true;
    }
    if (has("line-arrows")) {
        if (!wholeNumber(text("line-arrows"), 1, 100, &s.lineArrows))
            return fail(QStringLiteral("--line-arrows %1: expected a whole number from 1 to 100").arg(text("line-arrows")));
        *active = true;
    }
    s.smooth = has("smooth");
    *active = *active || s.smooth;
    s.northUp = has("north-up");
    return true;
}

// ------------------------------------------------------------- values along lines

double lineValue(const Settings &s, const Volume &grid, double x, double y)
{
    if (s.colorBy == ColorBy::Speed) {
        const Vector3 v = grid.sampleDir(x, y, 0.0);
        return std::hypot(v.x, v.y);
    }
    if (!grid.isInside(x, y, 0.0) || grid.pointCount() == 0)
        return std::nan("");
    const PointStore &store = grid.store();
    const int stride = store.stride();
    if (s.channel >= stride)
        return std::nan("");
    // Bilinear over the four cells around (x, y); past the last column or row the edge cell
    // stands in for its missing neighbour.
    const int ix = static_cast<int>(x), iy = static_cast<int>(y);
    const double fx = x - ix, fy = y - iy;
    const int jx = std::min(ix + 1, grid.getDimX() - 1), jy = std::min(iy + 1, grid.getDimY() - 1);
    double sum = 0.0;
    const int cx[4] = {ix, jx, ix, jx}, cy[4] = {iy, iy, jy, jy};
    const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    for (int k = 0; k < 4; ++k) {
        const std::size_t i = grid.indexOf(cx[k], cy[k], 0);
        if (store.count()[i] <= 0)
            return std::nan("");
        sum += w[k] * static_cast<double>(store.values()[i * static_cast<std::size_t>(stride) + s.channel]);
    }
    return sum;
}

bool valueRange(const Settings &s, const Volume &grid, const ViewRect &rect, double *lo, double *hi)
{
    *lo = INFINITY;
    *hi = -INFINITY;
    if (grid.pointCount() == 0)
        return false;
    const PointStore &store = grid.store();
    const std::size_t stride = static_cast<std::size_t>(store.stride());
    const int x1 = std::clamp(rect.x1, 0, grid.getDimX()), x2 = std::clamp(rect.x2, 0, grid.getDimX());
    const int y1 = std::clamp(rect.y1, 0, grid.getDimY()), y2 = std::clamp(rect.y2, 0, grid.getDimY());
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x) {
            const std::size_t i = grid.indexOf(x, y, 0);
            if (store.count()[i] <= 0)
                continue;
            double v;
            if (s.colorBy == ColorBy::Speed)
                v = std::hypot(store.dir()[i].x, store.dir()[i].y);
            else
                v = static_cast<double>(store.values()[i * stride + static_cast<std::size_t>(s.channel)]);
            if (!std::isfinite(v))
                continue;
            *lo = std::min(*lo, v);
            *hi = std::max(*hi, v);
        }
    return *lo <= *hi;
}

// ------------------------------------------------------------- legend

namespace {

constexpr QRgb kNoValue = 0xff808080; // a line point without a value (missing data)

QFont legendFont(double pixels)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    return font;
}

// Legend text height: follows the picture's size, so that it reads the same at any scale.
double legendEm(QSize picture)
{
    return std::clamp(std::round(std::min(picture.width(), picture.height()) / 25.0), 11.0, 64.0);
}

// What the legend shows; its geometry follows from the picture it sits beside.
struct LegendSpec
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

struct LegendBox
{
    double em, gap, width, height;
};

LegendBox measure(const LegendSpec &l, QSize picture, int scale)
{
    LegendBox b;
    b.em = legendEm(picture);
    b.gap = b.em;
    const QFontMetricsF metrics(legendFont(b.em));
    double w = 0.0, h = b.em;
    if (l.bar) {
        double ticksWidth = 0.0;
        for (const ticks::Tick &t : ticks::roundTicks(l.lo, l.hi))
            ticksWidth = std::max(ticksWidth, metrics.horizontalAdvance(t.text));
        w = std::max({w, std::round(1.2 * b.em) + 0.6 * b.em + ticksWidth, metrics.horizontalAdvance(l.label)});
        h += 9.0 * b.em;
    }
    if (l.key) {
        const double arrow = std::max(l.keyPixelsPerScale * scale, b.em);
        w = std::max(w, arrow + 0.5 * b.em + metrics.horizontalAdvance(l.keyText));
        h += 3.0 * b.em;
    }
    b.width = std::ceil(w + b.em);
    b.height = std::ceil(h);
    return b;
}

QSize canvasFor(const LegendSpec *l, QSize picture, int scale)
{
    if (!l || (!l->bar && !l->key))
        return picture;
    const LegendBox b = measure(*l, picture, scale);
    return QSize(picture.width() + static_cast<int>(b.gap + b.width), std::max(picture.height(), static_cast<int>(b.height)));
}

// One arrow: the shaft, then two barbs at 30 degrees, each at most 0.4 of the shaft long.
void appendArrow(QVector<QPointF> &pairs, QPointF tail, QPointF v, double head)
{
    const double len = std::hypot(v.x(), v.y());
    if (!(len > 0.0) || !std::isfinite(len))
        return;
    const QPointF tip = tail + v;
    const double h = std::min(head, 0.4 * len);
    const double ux = v.x() / len, uy = v.y() / len;
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    pairs << tail << tip;
    pairs << tip << QPointF(tip.x() - h * (c * ux - s * uy), tip.y() - h * (s * ux + c * uy));
    pairs << tip << QPointF(tip.x() - h * (c * ux + s * uy), tip.y() - h * (-s * ux + c * uy));
}

void addLegend(Figure &f, const LegendSpec &l, int scale, QRgb arrowColor, double arrowWidth, double arrowHead)
{
    if (!l.bar && !l.key)
        return;
    const LegendBox b = measure(l, f.picture, scale);
    const double em = b.em;
    const double x0 = f.picture.width() + b.gap;
    const double height = f.canvas.height();
    if (l.bar) {
        Item label;
        label.kind = Item::Text;
        label.text = l.label;
        label.fontPixels = em;
        label.rect = QRectF(x0, 1.2 * em, 0, 0);
        f.legend.append(label);

        const double top = 2.0 * em;
        const double bottom = height - (l.key ? 4.0 : 1.0) * em;
        const double barWidth = std::round(1.2 * em);
        // The bar at its map's resolution: 256 bands, high values at the top.
        Item bar;
        bar.kind = Item::Image;
        bar.image = QImage(1, colormaps::kEntries, QImage::Format_RGB32);
        for (int r = 0; r < colormaps::kEntries; ++r)
            bar.image.setPixel(0, r, l.color(l.hi - (r + 0.5) / colormaps::kEntries * (l.hi - l.lo)));
        bar.rect = QRectF(x0, top, barWidth, bottom - top);
        f.legend.append(bar);

        Item marks;
        marks.kind = Item::Lines;
        marks.width = std::max(1.0, em / 11.0);
        for (const ticks::Tick &t : ticks::roundTicks(l.lo, l.hi)) {
            const double y = l.hi > l.lo ? bottom - (t.value - l.lo) / (l.hi - l.lo) * (bottom - top) : bottom;
            marks.points << QPointF(x0 + barWidth, y) << QPointF(x0 + barWidth + 0.4 * em, y);
            Item text;
            text.kind = Item::Text;
            text.text = t.text;
            text.fontPixels = em;
            text.rect = QRectF(x0 + barWidth + 0.6 * em, y + 0.35 * em, 0, 0);
            f.legend.append(text);
        }
        f.legend.append(marks);
    }
    if (l.key) {
        // The reference arrow on a grey patch, so that white and black arrows both show.
        const double arrow = l.keyPixelsPerScale * scale;
        const double y = height - 2.0 * em;
        Item patch;
        patch.kind = Item::Fill;
        patch.color = arrowColor == 0xffffffff ? 0xff606060 : 0xffd0d0d0;
        patch.rect = QRectF(x0 - 0.25 * em, y - 1.0 * em, std::max(arrow, em) + 0.5 * em, 2.0 * em);
        f.legend.append(patch);
        Item glyph;
        glyph.kind = Item::Lines;
        glyph.color = arrowColor;
        glyph.width = arrowWidth;
        appendArrow(glyph.points, QPointF(x0, y), QPointF(arrow, 0.0), arrowHead);
        f.legend.append(glyph);
        Item text;
        text.kind = Item::Text;
        text.text = l.keyText;
        text.fontPixels = em;
        text.rect = QRectF(x0 + std::max(arrow, em) + 0.5 * em, y + 0.35 * em, 0, 0);
        f.legend.append(text);
    }
}

// The quantity a legend shows, as the metadata gives it: real values from stored ones and
// back (both increasing), and its label. Without metadata, the stored values themselves.
struct Shown
{
    std::function<double(double)> real = [](double v) { return v; };
    std::function<double(double)> stored = [](double v) { return v; };
    QString label; // empty: none known
};

Shown shownChannel(const Settings &s, int channel)
{
    Shown q;
    if (!s.meta || !s.meta->knows(channel))
        return q;
    q.label = s.meta->label(channel);
    // A mapping of zero width holds no values to tell apart: the stored ones stay.
    if (channel == 0 && !s.meta->mapping.degenerate()) {
        const metadata::Mapping m = s.meta->mapping;
        q.real = [m](double v) { return m.real(v); };
        q.stored = [m](double v) { return m.stored(v); };
    }
    return q;
}

Shown shownSpeed(const Settings &s)
{
    Shown q;
    if (!s.meta)
        return q;
    const double k = s.meta->flowScale;
    q.real = [k](double v) { return v / k; };
    q.stored = [k](double v) { return v * k; };
    q.label = s.meta->speedLabel();
    return q;
}

// The largest scale whose figure fits `into`, 0 when none does.
int scaleFor(const Settings &s, QSize picture1, const std::function<LegendSpec(int)> &legend)
{
    if (!s.fitInto.isValid())
        return s.scale;
    for (int k = kMaxScale; k >= 1; --k) {
        const QSize p(picture1.width() * k, picture1.height() * k);
        if (p.width() > s.fitInto.width() || p.height() > s.fitInto.height())
            continue;
        const LegendSpec l = legend(k);
        const QSize c = canvasFor(&l, p, k);
        if (c.width() <= s.fitInto.width() && c.height() <= s.fitInto.height())
            return k;
    }
    return 0;
}

double defaultLineWidth(const Settings &s, int scale)
{
    return s.lineWidth > 0.0 ? s.lineWidth : std::max(1.0, scale / 2.0);
}

// Largest raster the tool draws (as for the views' pictures).
bool fits(QSize size, QString *error)
{
    constexpr qint64 kMaxPixels = qint64(1) << 28;
    if (size.width() < 1 || size.height() < 1 || size.width() > 32767 || size.height() > 32767
        || qint64(size.width()) * size.height() > kMaxPixels) {
        *error = QStringLiteral("a figure of %1 x %2 pixels is beyond the limit of 32767 pixels a side and %3 in all")
                     .arg(size.width())
                     .arg(size.height())
                     .arg(kMaxPixels);
        return false;
    }
    return true;
}

QString noFit(const Settings &s, QSize picture1)
{
    return QStringLiteral("--size %1x%2: the figure needs more than that even at one pixel per view pixel (%3 x %4 and its legend)")
        .arg(s.fitInto.width())
        .arg(s.fitInto.height())
        .arg(picture1.width())
        .arg(picture1.height());
}

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

} // namespace

// ------------------------------------------------------------- arrow plot

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
    Volume view(std::max(p.viewX2 - p.viewX1, 1), std::max(p.viewY2 - p.viewY1, 1), 1);
    if (view.pointCount() == 0) {
        *error = QStringLiteral("no memory for the view's %1 x %2 cells").arg(view.getDimX()).arg(view.getDimY());
        return 1;
    }
    arrowrender::copyViewCells(&grid, p.viewX1, p.viewY1, view);
    const int vw = view.getDimX(), vh = view.getDimY();
    const int step = s.arrowStep > 0 ? s.arrowStep : 12;
    const QRgb arrowColor = p.arrowColor.rgb();
    const Vector3 *dir = view.store().dir();

    // The lattice's longest flow vector in data units, for the automatic scale and the key.
    double longest = 0.0;
    for (int i = step; i < vw; i += step)
        for (int j = step; j <= vh - step; j += step) {
            const Vector3 &q = dir[view.indexOf(i, j, 0)];
            const double len = std::hypot(double(roundToSingle(q.x)), double(roundToSingle(q.y)));
            if (std::isfinite(len))
                longest = std::max(longest, len);
        }

    // Everything at scale k: the view's scale computed for a picture k times the size.
    const auto scaleAt = [&](int k) {
        return arrowrender::arrowScaleFor(p.width * k, p.height * k, p.viewX1, p.viewY1, p.viewX2, p.viewY2, p.zoom,
                                          p.fixedLength);
    };
    // Output pixels per unit of flow along x and y in the proportional modes (0: the view's rule).
    const auto proportional = [&](const arrowrender::ArrowScale &sc, double *ux, double *uy) {
        if (!s.arrowScaleGiven) {
            *ux = *uy = 0.0;
            return;
        }
        double cells = s.arrowScale;
        if (cells == 0.0) // auto: the longest arrow spans the step
            cells = longest > 0.0 ? step / longest : 1.0;
        *ux = cells * sc.cellWidth;
        *uy = cells * sc.cellHeight;
    };
    // The arrow in output pixels for flow (dx, dy) and its head length.
    const auto arrowVector = [&](const arrowrender::ArrowScale &sc, float dx, float dy, double *head) {
        double ux = 0.0, uy = 0.0;
        proportional(sc, &ux, &uy);
        if (ux > 0.0) {
            *head = 0.3 * std::hypot(dx * ux, dy * uy);
            return QPointF(dx * ux, dy * uy);
        }
        // The view's rule: each component limited to 6 * m cells, the head 3 * m cells.
        const double m = sc.fixedLength ? 1.0 : roundToSingle(std::sqrt(double(dx) * dx + double(dy) * dy) + 0.3);
        const double lx = 6.0 * m * sc.cellWidth, ly = 6.0 * m * sc.cellHeight;
        *head = 3.0 * m * std::min(sc.cellWidth, sc.cellHeight);
        return QPointF(std::clamp(dx * double(sc.pixelsPerUnitX), -lx, lx), std::clamp(dy * double(sc.pixelsPerUnitY), -ly, ly));
    };

    // The key is a round number of the source's flow units: the pair's flow is the source's
    // times the import's flow scale.
    const double flowScale = s.meta ? s.meta->flowScale : 1.0;
    const double keyReal = ticks::roundBelow(longest / flowScale);
    const double keyValue = keyReal * flowScale;
    const QString keyUnits = s.meta && !s.meta->u.units.isEmpty() ? QStringLiteral(" ") + s.meta->u.units : QString();
    const Shown pressure = shownChannel(s, 0);
    const auto legendAt = [&](int k) {
        LegendSpec l;
        if (!s.colorBar)
            return l;
        if (p.showPressure) {
            l.bar = true;
            l.label = !s.label.isEmpty() ? s.label : !pressure.label.isEmpty() ? pressure.label : QStringLiteral("pressure");
            // The ramp's fixed scale: -4 ... 2.5 spans it once; in the metadata's real values
            // its ends are the range the import mapped onto it.
            l.lo = pressure.real(-4.0);
            l.hi = pressure.real(2.5);
            l.color = [stored = pressure.stored](double v) { return ramp::pressureRgb(roundToSingle(stored(v))); };
        }
        if (keyValue > 0.0) {
            l.key = true;
            l.keyValue = keyValue;
            double head = 0.0;
            l.keyPixelsPerScale = arrowVector(scaleAt(k), roundToSingle(keyValue), 0.0f, &head).x() / k;
            l.keyText = ticks::format(keyReal, keyReal) + keyUnits;
        }
        return l;
    };

    const int k = scaleFor(s, picture1, legendAt);
    if (k == 0) {
        *error = noFit(s, picture1);
        return 2;
    }
    const arrowrender::ArrowScale sc = scaleAt(k);
    const LegendSpec legend = legendAt(k);
    f = Figure();
    f.picture = QSize(p.width * k, p.height * k);
    f.canvas = canvasFor(&legend, f.picture, k);
    if (!fits(f.canvas, error))
        return 1;
    f.antialias = true; // the view draws its arrows antialiased

    const int w = f.picture.width(), h = f.picture.height();
    if (p.showPressure) {
        Item bg;
        bg.kind = Item::Image;
        bg.smooth = s.smooth;
        // One pixel per view cell for vector output, scaled over the cells' extent.
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
            return 1;
        }
        f.data.append(bg);
    } else {
        Item black;
        black.kind = Item::Fill;
        black.rect = QRectF(0, 0, w, h);
        f.data.append(black);
    }

    const double width = defaultLineWidth(s, k);
    Item arrows;
    arrows.kind = Item::Lines;
    arrows.color = arrowColor;
    arrows.width = width;
    for (int i = step; i < vw; i += step)
        for (int j = step; j <= vh - step; j += step) {
            const Vector3 &q = dir[view.indexOf(i, j, 0)];
            double head = 0.0;
            const QPointF v = arrowVector(sc, roundToSingle(q.x), roundToSingle(q.y), &head);
            const QPointF tail(double(static_cast<float>(i) * sc.cellWidth), double(static_cast<float>(j) * sc.cellHeight));
            appendArrow(arrows.points, tail, v, head);
        }
    f.data.append(arrows);

    if (s.northUp)
        f.flip = arrowDataRows(grid, p, k, &f.flipRow0, &f.flipRow1);
    double keyHead = 0.0;
    arrowVector(sc, roundToSingle(legend.keyValue), 0.0f, &keyHead);
    addLegend(f, legend, k, arrowColor, width, keyHead);
    return 0;
}

// ------------------------------------------------------------- streamlines

int streamlineFigure(const Settings &s, const pipeline::StreamRun &run, const Volume &grid, Figure &f, QString *error)
{
    if (s.colorBy == ColorBy::Channel && s.channel >= std::max(grid.store().stride(), 0)) {
        *error = QStringLiteral("--color-by %1: the dataset has %2 channels (0 ... %3)")
                     .arg(s.channel)
                     .arg(grid.store().stride())
                     .arg(grid.store().stride() - 1);
        return 2;
    }
    const QSize picture1 = run.size;
    double lo = 0.0, hi = 1.0;
    const bool colored = s.colorBy != ColorBy::None;
    if (colored && !valueRange(s, grid, run.rect, &lo, &hi)) {
        lo = 0.0;
        hi = 1.0;
    }
    if (!(hi > lo)) {
        // A constant field: the map's middle, on a bar one unit (or a thousandth of the
        // value) either side of it.
        const double half = std::max(0.5, std::fabs(lo) * 1e-3);
        lo -= half;
        hi += half;
    }
    const auto toT = [&](double v) { return (v - lo) / (hi - lo); };
    const Shown shown = s.colorBy == ColorBy::Speed ? shownSpeed(s) : shownChannel(s, s.channel);
    const auto legendAt = [&](int) {
        LegendSpec l;
        if (!s.colorBar || !colored)
            return l;
        l.bar = true;
        l.label = !s.label.isEmpty() ? s.label
                  : !shown.label.isEmpty() ? shown.label
                  : s.colorBy == ColorBy::Speed ? QStringLiteral("speed")
                  : s.channel == 0 ? QStringLiteral("pressure")
                                   : QStringLiteral("channel %1").arg(s.channel);
        // The bar in the quantity's real values; the colours stay those of the stored ones.
        l.lo = shown.real(lo);
        l.hi = shown.real(hi);
        const colormaps::Map map = s.map;
        l.color = [map, lo, hi, stored = shown.stored](double v) { return colormaps::at(map, (stored(v) - lo) / (hi - lo)); };
        return l;
    };
    const int k = scaleFor(s, picture1, legendAt);
    if (k == 0) {
        *error = noFit(s, picture1);
        return 2;
    }
    const LegendSpec legend = legendAt(k);
    f = Figure();
    f.picture = QSize(picture1.width() * k, picture1.height() * k);
    f.canvas = canvasFor(&legend, f.picture, k);
    if (!fits(f.canvas, error))
        return 1;
    f.antialias = run.settings.antialias;
    Item black;
    black.kind = Item::Fill;
    black.rect = QRectF(QPointF(0, 0), QSizeF(f.picture));
    f.data.append(black);

    // The view's mapping, before its truncation to whole pixels, times the scale.
    const float scaleX = static_cast<float>(run.rect.x2 - run.rect.x1) / static_cast<float>(picture1.width());
    const float scaleY = static_cast<float>(run.rect.y2 - run.rect.y1) / static_cast<float>(picture1.height());
    const double invX = 1.0f / scaleX, invY = 1.0f / scaleY;
    const auto place = [&](const Vector3 &q) {
        return QPointF((q.x - run.rect.x1) * invX * k, (q.y - run.rect.y1) * invY * k);
    };
    const double width = defaultLineWidth(s, k);
    const QRgb white = qRgb(255, 255, 255);
    const auto colorOf = [&](int e) { return e < 0 ? kNoValue : colormaps::entry(s.map, e); };
    const auto emitLine = [&](QVector<QPointF> &&points, QRgb color) {
        Item line;
        line.kind = Item::Polyline;
        line.color = color;
        line.width = width;
        line.points = std::move(points);
        f.data.append(std::move(line));
    };
    Item heads;
    heads.kind = Item::Lines;
    heads.width = width;
    QVector<Item> headItems;

    for (const Streamline &line : pipeline::dataLines(run, grid)) {
        const qsizetype n = line.size();
        if (n < 2)
            continue;
        QVector<QPointF> pts(n);
        std::vector<int> entries(static_cast<std::size_t>(n), 0);
        for (qsizetype i = 0; i < n; ++i) {
            pts[i] = place(line[i]);
            if (colored) {
                const double v = lineValue(s, grid, line[i].x, line[i].y);
                entries[static_cast<std::size_t>(i)] = std::isfinite(v) ? colormaps::entryFor(toT(v)) : -1;
            }
        }
        if (!colored) {
            emitLine(QVector<QPointF>(pts), white);
        } else {
            // Each point's colour holds from half way to its predecessor to half way to its
            // successor: one polyline per run of points of the same map entry.
            QVector<QPointF> cur{pts[0]};
            int e = entries[0];
            for (qsizetype i = 1; i < n; ++i) {
                const int ei = entries[static_cast<std::size_t>(i)];
                if (ei == e) {
                    cur.append(pts[i]);
                    continue;
                }
                const QPointF mid = (pts[i - 1] + pts[i]) / 2.0;
                cur.append(mid);
                emitLine(std::move(cur), colorOf(e));
                cur = QVector<QPointF>{mid, pts[i]};
                e = ei;
            }
            emitLine(std::move(cur), colorOf(e));
        }
        if (s.lineArrows > 0) {
            // Heads at equal arc length (output pixels), turned to point along the flow.
            std::vector<double> arc(static_cast<std::size_t>(n), 0.0);
            for (qsizetype i = 1; i < n; ++i)
                arc[static_cast<std::size_t>(i)] = arc[static_cast<std::size_t>(i - 1)]
                                                   + std::hypot(pts[i].x() - pts[i - 1].x(), pts[i].y() - pts[i - 1].y());
            const double total = arc.back();
            if (!(total > 0.0))
                continue;
            qsizetype seg = 1;
            for (int a = 0; a < s.lineArrows; ++a) {
                const double at = total * (a + 0.5) / s.lineArrows;
                while (seg < n - 1 && arc[static_cast<std::size_t>(seg)] < at)
                    ++seg;
                const double len = arc[static_cast<std::size_t>(seg)] - arc[static_cast<std::size_t>(seg - 1)];
                const double t = len > 0.0 ? (at - arc[static_cast<std::size_t>(seg - 1)]) / len : 0.0;
                const QPointF pos = pts[seg - 1] + (pts[seg] - pts[seg - 1]) * t;
                QPointF d = pts[seg] - pts[seg - 1];
                const Vector3 q = line[seg - 1] + (line[seg] - line[seg - 1]) * t;
                const Vector3 flow = grid.sampleDir(q.x, q.y, 0.0);
                if (flow.x * d.x() * invX + flow.y * d.y() * invY < 0.0)
                    d = -d;
                const double dl = std::hypot(d.x(), d.y());
                if (!(dl > 0.0))
                    continue;
                const double size = 3.0 * width + 2.0 * k;
                Item head = heads;
                head.color = colored ? colorOf(entries[static_cast<std::size_t>(seg - 1)]) : white;
                // A head only: its shaft is the line itself.
                QVector<QPointF> pairs;
                appendArrow(pairs, pos - d / dl * size, d / dl * size, size);
                head.points = pairs.mid(2);
                headItems.append(head);
            }
        }
    }
    f.data += headItems;
    if (s.northUp) {
        f.flip = true;
        f.flipRow0 = 0;
        f.flipRow1 = f.picture.height();
    }
    addLegend(f, legend, k, white, width, 0.0);
    return 0;
}

// ------------------------------------------------------------- output

namespace {

void paintItem(QPainter &painter, const Item &item, bool raster, bool antialias)
{
    switch (item.kind) {
    case Item::Fill:
        painter.fillRect(item.rect, QColor(item.color));
        break;
    case Item::Image:
        if (raster && !item.raster.isNull()) {
            painter.drawImage(item.rect.topLeft(), item.raster);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, item.smooth);
            painter.drawImage(item.rect, item.image);
        }
        break;
    case Item::Lines:
    case Item::Polyline: {
        painter.setRenderHint(QPainter::Antialiasing, antialias);
        // Square caps and bevel joins: round ones cost the stroker an arc at every point of a
        // large figure, and look the same at these widths.
        painter.setPen(QPen(QColor(item.color), item.width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        if (item.kind == Item::Polyline) {
            painter.drawPolyline(item.points.constData(), static_cast<int>(item.points.size()));
        } else {
            std::vector<QLineF> lines;
            lines.reserve(static_cast<std::size_t>(item.points.size() / 2));
            for (qsizetype i = 0; i + 1 < item.points.size(); i += 2)
                lines.emplace_back(item.points[i], item.points[i + 1]);
            painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        }
        break;
    }
    case Item::Text: {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        const QFont font = legendFont(item.fontPixels);
        painter.setFont(font);
        painter.setPen(QColor(item.color));
        painter.drawText(item.rect.topLeft(), item.text);
        break;
    }
    }
}

// The whole figure on a painter; raster: the images' output-resolution rasters and the flip
// done by the caller on the picture's pixels, else the flip as a transformation.
void paintFigure(QPainter &painter, const Figure &f, bool raster)
{
    if (f.canvas != f.picture)
        painter.fillRect(QRect(QPoint(0, 0), f.canvas), QColor(f.paper));
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), f.picture));
    // Black where the flipped content leaves rows uncovered (the view beyond the grid).
    painter.fillRect(QRect(QPoint(0, 0), f.picture), Qt::black);
    if (!raster && f.flip) {
        painter.translate(0, f.flipRow0 + f.flipRow1);
        painter.scale(1, -1);
    }
    for (const Item &item : f.data)
        paintItem(painter, item, raster, f.antialias);
    painter.restore();
    for (const Item &item : f.legend)
        paintItem(painter, item, raster, true);
}

// ---- SVG

void number(QByteArray &out, double v)
{
    char buf[48];
    if (!std::isfinite(v))
        v = 0.0;
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    out.append(buf, r.ptr - buf);
}

QByteArray colorText(QRgb c)
{
    return QByteArray("#") + QByteArray::number(c & 0xffffff, 16).rightJustified(6, '0');
}

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray pngBase64(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toBase64();
}

// ` x="…" y="…" width="…" height="…"` of an SVG element, in output pixels.
void rectAttributes(QByteArray &out, const QRectF &r)
{
    out += " x=\"";
    number(out, r.x());
    out += "\" y=\"";
    number(out, r.y());
    out += "\" width=\"";
    number(out, r.width());
    out += "\" height=\"";
    number(out, r.height());
    out += "\"";
}

void svgItem(QByteArray &out, const Item &item, bool antialias)
{
    switch (item.kind) {
    case Item::Fill:
        out += "<rect";
        rectAttributes(out, item.rect);
        out += " fill=\"" + colorText(item.color) + "\"/>\n";
        break;
    case Item::Image:
        out += "<image";
        rectAttributes(out, item.rect);
        out += " preserveAspectRatio=\"none\"";
        if (!item.smooth)
            out += " image-rendering=\"optimizeSpeed\" style=\"image-rendering:pixelated\"";
        out += " xlink:href=\"data:image/png;base64," + pngBase64(item.image) + "\"/>\n";
        break;
    case Item::Lines:
    case Item::Polyline: {
        if (item.points.size() < 2)
            break;
        out += "<path fill=\"none\" stroke=\"" + colorText(item.color) + "\" stroke-width=\"";
        number(out, item.width);
        out += "\" stroke-linecap=\"square\" stroke-linejoin=\"bevel\"";
        if (!antialias)
            out += " shape-rendering=\"crispEdges\"";
        out += " d=\"";
        for (qsizetype i = 0; i < item.points.size(); ++i) {
            const bool move = i == 0 || (item.kind == Item::Lines && i % 2 == 0);
            out += move ? (i == 0 ? "M" : " M") : " L";
            number(out, item.points[i].x());
            out += ' ';
            number(out, item.points[i].y());
        }
        out += "\"/>\n";
        break;
    }
    case Item::Text: {
        const QFont font = legendFont(item.fontPixels);
        out += "<text x=\"";
        number(out, item.rect.left());
        out += "\" y=\"";
        number(out, item.rect.top());
        out += "\" font-family=\"" + escaped(font.family()) + "\" font-size=\"";
        number(out, font.pixelSize());
        out += "\" fill=\"" + colorText(item.color) + "\">" + escaped(item.text) + "</text>\n";
        break;
    }
    }
}

bool writeSvgFigure(QIODevice &d, const Figure &f, const QString &title)
{
    QByteArray out;
    bool ok = true;
    const auto flush = [&](bool always) {
        if (always || out.size() > (1 << 20)) {
            ok = ok && d.write(out) == out.size();
            out.clear();
        }
    };
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\" "
           "width=\"" + QByteArray::number(f.canvas.width()) + "\" height=\"" + QByteArray::number(f.canvas.height())
           + "\" viewBox=\"0 0 " + QByteArray::number(f.canvas.width()) + ' ' + QByteArray::number(f.canvas.height())
           + "\">\n<title>" + escaped(title) + "</title>\n<desc>Written by tessaly-render</desc>\n";
    if (f.canvas != f.picture) {
        Item paper;
        paper.rect = QRectF(QPointF(0, 0), QSizeF(f.canvas));
        paper.color = f.paper;
        svgItem(out, paper, true);
    }
    out += "<defs><clipPath id=\"picture\"><rect x=\"0\" y=\"0\" width=\"" + QByteArray::number(f.picture.width())
           + "\" height=\"" + QByteArray::number(f.picture.height()) + "\"/></clipPath></defs>\n";
    out += "<g clip-path=\"url(#picture)\">\n";
    // Black where the flipped content leaves rows uncovered (the view beyond the grid).
    out += "<rect x=\"0\" y=\"0\" width=\"" + QByteArray::number(f.picture.width()) + "\" height=\""
           + QByteArray::number(f.picture.height()) + "\" fill=\"#000000\"/>\n";
    if (f.flip)
        out += "<g transform=\"matrix(1 0 0 -1 0 " + QByteArray::number(f.flipRow0 + f.flipRow1) + ")\">\n";
    for (const Item &item : f.data) {
        svgItem(out, item, f.antialias);
        flush(false);
    }
    if (f.flip)
        out += "</g>\n";
    out += "</g>\n";
    for (const Item &item : f.legend)
        svgItem(out, item, true);
    out += "</svg>\n";
    flush(true);
    return ok;
}

// Threads for a large figure's raster and PNG: the machine's, at most two, and one for a
// small figure, where starting threads costs more than it saves.
int threadsFor(QSize size)
{
    return qint64(size.width()) * size.height() >= (qint64(1) << 22) ? std::clamp(QThread::idealThreadCount(), 1, 2) : 1;
}

} // namespace

QImage rasterise(const Figure &f)
{
    QImage picture(f.picture, QImage::Format_RGB32);
    if (picture.isNull())
        return picture;
    // The views' pictures start with a fill of the whole picture; anything else on black.
    const bool covered = !f.data.isEmpty() && f.data.first().kind == Item::Fill
                         && f.data.first().rect.contains(QRectF(QPointF(0, 0), QSizeF(f.picture)));
    if (!covered)
        picture.fill(Qt::black);
    // Horizontal bands painted at once, each on its own painter over its rows of the picture
    // (the same pixels as one painter: whole-pixel translations only).
    const int bands = threadsFor(f.picture);
    const auto paintBand = [&](int band) {
        const int y0 = static_cast<int>(static_cast<long long>(f.picture.height()) * band / bands);
        const int y1 = static_cast<int>(static_cast<long long>(f.picture.height()) * (band + 1) / bands);
        if (y1 <= y0)
            return;
        QImage rows(picture.scanLine(y0), picture.width(), y1 - y0, picture.bytesPerLine(), picture.format());
        QPainter painter(&rows);
        painter.translate(0, -y0);
        for (const Item &item : f.data)
            paintItem(painter, item, true, f.antialias);
    };
    {
        std::vector<std::thread> workers;
        for (int band = 1; band < bands; ++band)
            workers.emplace_back(paintBand, band);
        paintBand(0);
        for (std::thread &t : workers)
            t.join();
    }
    if (f.flip) {
        // Mirror the rows flipRow0 ... flipRow1 - 1 in place.
        const qsizetype bpl = picture.bytesPerLine();
        std::vector<uchar> tmp(static_cast<std::size_t>(bpl));
        for (int a = f.flipRow0, b = f.flipRow1 - 1; a < b; ++a, --b) {
            std::copy_n(picture.scanLine(a), bpl, tmp.data());
            std::copy_n(picture.constScanLine(b), bpl, picture.scanLine(a));
            std::copy_n(tmp.data(), bpl, picture.scanLine(b));
        }
    }
    if (f.canvas == f.picture && f.legend.isEmpty())
        return picture;
    QImage canvas(f.canvas, QImage::Format_RGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(QColor(f.paper));
    QPainter painter(&canvas);
    painter.drawImage(0, 0, picture);
    for (const Item &item : f.legend)
        paintItem(painter, item, true, true);
    return canvas;
}

bool write(const QString &path, const QString &format, const Figure &f, const QString &title, QString *error, int pngLevel)
{
    if (format == QLatin1String("svg"))
        return output::writeFile(path, [&](QIODevice &d, QString *) { return writeSvgFigure(d, f, title); }, error);
    if (format == QLatin1String("pdf")) {
        return output::writeFile(
            path,
            [&](QIODevice &d, QString *why) {
                QPdfWriter writer(&d);
                // One point per output pixel: the page is the figure's size in the PNG's units.
                writer.setResolution(72);
                writer.setPageSize(QPageSize(QSizeF(f.canvas), QPageSize::Point, QString(), QPageSize::ExactMatch));
                writer.setPageMargins(QMarginsF(0, 0, 0, 0));
                writer.setTitle(title);
                writer.setCreator(QStringLiteral("tessaly-render"));
                QPainter painter;
                if (!painter.begin(&writer)) {
                    *why = QStringLiteral("cannot start the PDF painter");
                    return false;
                }
                paintFigure(painter, f, false);
                return painter.end();
            },
            error);
    }
    const QImage image = rasterise(f);
    if (image.isNull()) {
        *error = QStringLiteral("no memory for a %1 x %2 figure").arg(f.canvas.width()).arg(f.canvas.height());
        return false;
    }
    return output::writeFile(
        path, [&](QIODevice &d, QString *why) { return fastpng::write(d, image, threadsFor(image.size()), why, pngLevel); }, error);
}

} // namespace figure
