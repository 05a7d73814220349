#include "tools/render/FigureLegend.h"

#include "data/Metadata.h"
#include "tools/render/Ticks.h"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace figure::detail {

namespace {

// Legend text height: follows the picture's size, so that it reads the same at any scale.
double legendEm(QSize picture)
{
    return std::clamp(std::round(std::min(picture.width(), picture.height()) / 25.0), 11.0, 64.0);
}

struct LegendBox
{
    double em, gap, width, height;
};

LegendBox measure(const LegendContent &l, QSize picture, int scale)
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

} // namespace

QFont legendFont(double pixels)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    return font;
}

QSize canvasFor(const LegendContent *l, QSize picture, int scale)
{
    if (!l || (!l->bar && !l->key))
        return picture;
    const LegendBox b = measure(*l, picture, scale);
    return QSize(picture.width() + static_cast<int>(b.gap + b.width), std::max(picture.height(), static_cast<int>(b.height)));
}

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

void addLegend(Figure &f, const LegendContent &l, int scale, QRgb arrowColor, double arrowWidth, double arrowHead)
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

int scaleFor(const Settings &s, QSize picture1, const std::function<LegendContent(int)> &legend)
{
    if (!s.fitInto.isValid())
        return s.scale;
    for (int k = kMaxScale; k >= 1; --k) {
        const QSize p(picture1.width() * k, picture1.height() * k);
        if (p.width() > s.fitInto.width() || p.height() > s.fitInto.height())
            continue;
        const LegendContent l = legend(k);
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

} // namespace figure::detail
