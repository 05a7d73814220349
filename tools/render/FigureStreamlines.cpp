// Streamlines as a figure: the view's lines through their sub-pixel points at K output
// pixels per view pixel, optionally coloured along their length by a field, with heads
// showing the flow's direction and a colour bar with values.

#include "data/Volume.h"
#include "tools/render/Figure.h"
#include "tools/render/FigureLegend.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace figure {

using namespace detail;

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

namespace {

constexpr QRgb kNoValue = 0xff808080; // a line point without a value (missing data)
constexpr QRgb kWhite = 0xffffffff;   // uncoloured lines, as the view draws them

// The range of the quantity the lines are coloured by, over the visible grid: 0 ... 1 without
// values, and about a constant value a small range either side of it.
void colourRange(const Settings &s, const pipeline::StreamRun &run, const Volume &grid, double *lo, double *hi)
{
    *lo = 0.0;
    *hi = 1.0;
    if (s.colorBy != ColorBy::None && !valueRange(s, grid, run.rect, lo, hi)) {
        *lo = 0.0;
        *hi = 1.0;
    }
    if (!(*hi > *lo)) {
        // A constant field: the map's middle, on a bar one unit (or a thousandth of the
        // value) either side of it.
        const double half = std::max(0.5, std::fabs(*lo) * 1e-3);
        *lo -= half;
        *hi += half;
    }
}

LegendContent lineLegend(const Settings &s, const Shown &shown, double lo, double hi)
{
    LegendContent l;
    if (!s.colorBar || s.colorBy == ColorBy::None)
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
}

// Draws the run's lines into a figure at scale k: their polylines in f.data, their heads
// kept for after every line.
class LineDrawing
{
public:
    LineDrawing(const Settings &s, const pipeline::StreamRun &run, const Volume &grid, int k, double lo, double hi)
        : mS(s), mRun(run), mGrid(grid), mK(k), mLo(lo), mHi(hi), mColored(s.colorBy != ColorBy::None),
          mWidth(defaultLineWidth(s, k))
    {
        // The view's mapping, before its truncation to whole pixels, times the scale.
        const float scaleX = static_cast<float>(run.rect.x2 - run.rect.x1) / static_cast<float>(run.size.width());
        const float scaleY = static_cast<float>(run.rect.y2 - run.rect.y1) / static_cast<float>(run.size.height());
        mInvX = 1.0f / scaleX;
        mInvY = 1.0f / scaleY;
    }

    double width() const { return mWidth; }

    void draw(Figure &f)
    {
        for (const Streamline &line : pipeline::dataLines(mRun, mGrid))
            drawLine(f, line);
        f.data += mHeads;
    }

private:
    QPointF place(const Vector3 &q) const
    {
        return QPointF((q.x - mRun.rect.x1) * mInvX * mK, (q.y - mRun.rect.y1) * mInvY * mK);
    }
    QRgb colorOf(int e) const { return e < 0 ? kNoValue : colormaps::entry(mS.map, e); }
    void emitLine(Figure &f, QVector<QPointF> &&points, QRgb color) const
    {
        Item line;
        line.kind = Item::Polyline;
        line.color = color;
        line.width = mWidth;
        line.points = std::move(points);
        f.data.append(std::move(line));
    }
    void drawLine(Figure &f, const Streamline &line);
    void colouredRuns(Figure &f, const QVector<QPointF> &pts, const std::vector<int> &entries) const;
    void addHeads(const Streamline &line, const QVector<QPointF> &pts, const std::vector<int> &entries);

    const Settings &mS;
    const pipeline::StreamRun &mRun;
    const Volume &mGrid;
    const int mK;
    const double mLo, mHi;
    const bool mColored;
    const double mWidth;
    double mInvX = 1.0, mInvY = 1.0;
    QVector<Item> mHeads;
};

void LineDrawing::drawLine(Figure &f, const Streamline &line)
{
    const qsizetype n = line.size();
    if (n < 2)
        return;
    QVector<QPointF> pts(n);
    std::vector<int> entries(static_cast<std::size_t>(n), 0);
    for (qsizetype i = 0; i < n; ++i) {
        pts[i] = place(line[i]);
        if (mColored) {
            const double v = lineValue(mS, mGrid, line[i].x, line[i].y);
            entries[static_cast<std::size_t>(i)] = std::isfinite(v) ? colormaps::entryFor((v - mLo) / (mHi - mLo)) : -1;
        }
    }
    if (!mColored)
        emitLine(f, QVector<QPointF>(pts), kWhite);
    else
        colouredRuns(f, pts, entries);
    if (mS.lineArrows > 0)
        addHeads(line, pts, entries);
}

// Each point's colour holds from half way to its predecessor to half way to its successor:
// one polyline per run of points of the same map entry.
void LineDrawing::colouredRuns(Figure &f, const QVector<QPointF> &pts, const std::vector<int> &entries) const
{
    QVector<QPointF> cur{pts[0]};
    int e = entries[0];
    for (qsizetype i = 1; i < pts.size(); ++i) {
        const int ei = entries[static_cast<std::size_t>(i)];
        if (ei == e) {
            cur.append(pts[i]);
            continue;
        }
        const QPointF mid = (pts[i - 1] + pts[i]) / 2.0;
        cur.append(mid);
        emitLine(f, std::move(cur), colorOf(e));
        cur = QVector<QPointF>{mid, pts[i]};
        e = ei;
    }
    emitLine(f, std::move(cur), colorOf(e));
}

// Heads at equal arc length (output pixels), turned to point along the flow.
void LineDrawing::addHeads(const Streamline &line, const QVector<QPointF> &pts, const std::vector<int> &entries)
{
    const qsizetype n = pts.size();
    std::vector<double> arc(static_cast<std::size_t>(n), 0.0);
    for (qsizetype i = 1; i < n; ++i)
        arc[static_cast<std::size_t>(i)] = arc[static_cast<std::size_t>(i - 1)]
                                           + std::hypot(pts[i].x() - pts[i - 1].x(), pts[i].y() - pts[i - 1].y());
    const double total = arc.back();
    if (!(total > 0.0))
        return;
    qsizetype seg = 1;
    for (int a = 0; a < mS.lineArrows; ++a) {
        const double at = total * (a + 0.5) / mS.lineArrows;
        while (seg < n - 1 && arc[static_cast<std::size_t>(seg)] < at)
            ++seg;
        const double len = arc[static_cast<std::size_t>(seg)] - arc[static_cast<std::size_t>(seg - 1)];
        const double t = len > 0.0 ? (at - arc[static_cast<std::size_t>(seg - 1)]) / len : 0.0;
        const QPointF pos = pts[seg - 1] + (pts[seg] - pts[seg - 1]) * t;
        QPointF d = pts[seg] - pts[seg - 1];
        const Vector3 q = line[seg - 1] + (line[seg] - line[seg - 1]) * t;
        const Vector3 flow = mGrid.sampleDir(q.x, q.y, 0.0);
        if (flow.x * d.x() * mInvX + flow.y * d.y() * mInvY < 0.0)
            d = -d;
        const double dl = std::hypot(d.x(), d.y());
        if (!(dl > 0.0))
            continue;
        const double size = 3.0 * mWidth + 2.0 * mK;
        Item head;
        head.kind = Item::Lines;
        head.width = mWidth;
        head.color = mColored ? colorOf(entries[static_cast<std::size_t>(seg - 1)]) : kWhite;
        // A head only: its shaft is the line itself.
        QVector<QPointF> pairs;
        appendArrow(pairs, pos - d / dl * size, d / dl * size, size);
        head.points = pairs.mid(2);
        mHeads.append(head);
    }
}

} // namespace

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
    colourRange(s, run, grid, &lo, &hi);
    const Shown shown = s.colorBy == ColorBy::Speed ? shownSpeed(s) : shownChannel(s, s.channel);
    const LegendContent legend = lineLegend(s, shown, lo, hi); // the same at every scale
    const int k = scaleFor(s, picture1, [&](int) { return legend; });
    if (k == 0) {
        *error = noFit(s, picture1);
        return 2;
    }
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

    LineDrawing drawing(s, run, grid, k, lo, hi);
    drawing.draw(f);
    if (s.northUp) {
        f.flip = true;
        f.flipRow0 = 0;
        f.flipRow1 = f.picture.height();
    }
    addLegend(f, legend, k, kWhite, drawing.width(), 0.0);
    return 0;
}

} // namespace figure
