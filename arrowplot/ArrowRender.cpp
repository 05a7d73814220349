#include "arrowplot/ArrowRender.h"

#include "arrowplot/ColorRamp.h"
#include "data/Dataset.h"
#include "data/Progress.h"
#include "data/SinglePrecision.h"
#include "data/Volume.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace arrowrender {

// ---------------------------------------------------------------- view copy

namespace {

// Clears points [first, first + n) of a store: zero position and flow, no values.
void zeroPoints(PointStore &s, std::size_t first, std::size_t n)
{
    if (n == 0)
        return;
    std::fill(s.pos() + first, s.pos() + first + n, Vector3());
    std::fill(s.dir() + first, s.dir() + first + n, Vector3());
    std::fill(s.count() + first, s.count() + first + n, 0);
    const std::size_t stride = static_cast<std::size_t>(s.stride());
    if (stride != 0)
        std::fill(s.values() + first * stride, s.values() + (first + n) * stride, 0.0f);
}

} // namespace

void copyViewCells(const Volume *grid, int x1, int y1, Volume &view)
{
    const int vw = view.getDimX();
    const int vh = view.getDimY();
    if (view.pointCount() == 0)
        return;
    PointStore &dst = view.store();
    const std::size_t row = static_cast<std::size_t>(vw);

    const bool haveGrid = grid && grid->pointCount() > 0 && grid->getDimZ() > 0;
    if (!haveGrid || !dst.reserveChannels(grid->store().stride())) {
        zeroPoints(dst, 0, view.pointCount());
        return;
    }
    const PointStore &src = grid->store();
    const std::size_t srcStride = static_cast<std::size_t>(src.stride());
    const std::size_t dstStride = static_cast<std::size_t>(dst.stride());
    const long long gridX = grid->getDimX();
    const long long gridY = grid->getDimY();

    // The grid columns that fall inside the view: the same for every row.
    const long long from = std::max<long long>(x1, 0);
    const long long to = std::min<long long>(static_cast<long long>(x1) + vw, gridX);
    const std::size_t left = from < to ? static_cast<std::size_t>(from - x1) : row;
    const std::size_t inside = from < to ? static_cast<std::size_t>(to - from) : 0;

    for (int j = 0; j < vh; ++j) {
        const std::size_t base = static_cast<std::size_t>(j) * row;
        const long long gy = static_cast<long long>(y1) + j;
        if (gy < 0 || gy >= gridY || inside == 0) {
            zeroPoints(dst, base, row);
            continue;
        }
        zeroPoints(dst, base, left);
        zeroPoints(dst, base + left + inside, row - left - inside);

        const std::size_t s = grid->indexOf(static_cast<int>(from), static_cast<int>(gy), 0);
        const std::size_t d = base + left;
        std::memcpy(dst.pos() + d, src.pos() + s, inside * sizeof(Vector3));
        std::memcpy(dst.dir() + d, src.dir() + s, inside * sizeof(Vector3));
        std::memcpy(dst.count() + d, src.count() + s, inside * sizeof(int32_t));
        if (srcStride == dstStride) {
            if (srcStride != 0)
                std::memcpy(dst.values() + d * dstStride, src.values() + s * srcStride,
                            inside * srcStride * sizeof(float));
        } else {
            // The view keeps wider rows than the grid: copy each point's values, zero the rest.
            for (std::size_t k = 0; k < inside; ++k) {
                float *out = dst.values() + (d + k) * dstStride;
                if (srcStride != 0)
                    std::memcpy(out, src.values() + (s + k) * srcStride, srcStride * sizeof(float));
                std::fill(out + srcStride, out + dstStride, 0.0f);
            }
        }
    }
}

namespace {

bool isWholeGrid(const Volume &grid, int x1, int y1, int x2, int y2)
{
    return x1 == 0 && y1 == 0 && grid.getDimZ() == 1 && grid.getDimX() == x2 && grid.getDimY() == y2 &&
           grid.pointCount() > 0;
}

} // namespace

ViewCells::ViewCells(const Volume &grid, int x1, int y1, int x2, int y2)
    : mGrid(grid),
      mWhole(isWholeGrid(grid, x1, y1, x2, y2)),
      mCopy(mWhole ? 0 : std::max(x2 - x1, 1), mWhole ? 0 : std::max(y2 - y1, 1), 1)
{
    if (!mWhole)
        copyViewCells(&grid, x1, y1, mCopy);
}

// ---------------------------------------------------------------- pressure background

void pixelOwners(int cells, float cellSize, int pixels, int *owner)
{
    if (pixels <= 0)
        return;
    std::fill(owner, owner + pixels, -1);
    if (!(cellSize > 0.0f) || !std::isfinite(cellSize))
        return;
    for (int c = 0; c < cells; ++c) {
        // The drawing loop's own arithmetic: single-precision products, the start truncated,
        // the end compared as a float (pixel indices are exact in float far beyond any image).
        const float start = static_cast<float>(c) * cellSize;
        const float end = static_cast<float>(c + 1) * cellSize;
        if (!(start < static_cast<float>(pixels)))
            break; // starts only grow with c
        const int first = static_cast<int>(start);
        const int last = end >= static_cast<float>(pixels - 1) ? pixels - 1 : static_cast<int>(std::floor(end));
        for (int p = first; p <= last; ++p)
            owner[p] = c;
    }
}

void computePressureBackground(QImage &image, int w, int h, const Volume &view, float cellWidth,
                               float cellHeight, Progress *progress)
{
    if (w <= 0 || h <= 0) {
        image = QImage();
        return;
    }
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32)
        image = QImage(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return; // no memory for it: leave the null image
    const QRgb black = qRgb(0, 0, 0);

    const bool haveCells = view.pointCount() > 0 && view.getDimZ() > 0;
    const int vw = haveCells ? view.getDimX() : 0;
    const int vh = haveCells ? view.getDimY() : 0;

    std::vector<int> colOwner(static_cast<std::size_t>(w));
    std::vector<int> rowOwner(static_cast<std::size_t>(h));
    pixelOwners(vw, cellWidth, w, colOwner.data());
    pixelOwners(vh, cellHeight, h, rowOwner.data());

    // Each pixel takes the colour of the cell that painted it last. A cell row's colours are
    // computed once, where a pixel row first meets it, in a loop of their own; the pixels then
    // only look them up. A cell without a value (outside the grid, never written by the
    // resampling, a dataset without channels) is black: its empty value list is never read.
    const PointStore &s = view.store();
    const int32_t *count = s.count();
    const float *values = s.values();
    const std::size_t stride = static_cast<std::size_t>(s.stride());
    std::vector<QRgb> rowColours(static_cast<std::size_t>(vw));

    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    const QRgb *previous = nullptr;
    int previousRow = -1;
    int reported = 0; // progress runs over the view columns 0 ... vw - 1
    for (int py = 0; py < h; ++py) {
        QRgb *line = reinterpret_cast<QRgb *>(bits + py * bpl);
        const int cj = rowOwner[static_cast<std::size_t>(py)];
        if (cj < 0) {
            std::fill(line, line + w, black);
        } else if (cj == previousRow && previous) {
            // Rows painted by the same cell row are identical: copy the first of them.
            std::memcpy(line, previous, static_cast<std::size_t>(w) * sizeof(QRgb));
        } else {
            const std::size_t k0 = view.indexOf(0, cj, 0);
            for (int ci = 0; ci < vw; ++ci) {
                const std::size_t k = k0 + static_cast<std::size_t>(ci);
                rowColours[static_cast<std::size_t>(ci)] = count[k] > 0 ? ramp::pressureRgb(values[k * stride]) : black;
            }
            for (int px = 0; px < w; ++px) {
                const int ci = colOwner[static_cast<std::size_t>(px)];
                line[px] = ci < 0 ? black : rowColours[static_cast<std::size_t>(ci)];
            }
            previous = line;
            previousRow = cj;
        }
        if (progress) {
            // The share of the work done, as a number of columns, each reported once in order.
            const int done = static_cast<int>(static_cast<long long>(py + 1) * vw / h);
            for (; reported < done; ++reported)
                progress->setValue(reported);
        }
    }
}

quint64 pressureFingerprint(const Volume &view)
{
    // FNV-1a over 64-bit words: one multiply per cell, no allocation.
    constexpr quint64 prime = 1099511628211ULL;
    quint64 hash = 14695981039346656037ULL;
    auto mix = [&](quint64 word) { hash = (hash ^ word) * prime; };
    mix(static_cast<quint64>(static_cast<unsigned>(view.getDimX())));
    mix(static_cast<quint64>(static_cast<unsigned>(view.getDimY())));
    if (view.pointCount() == 0)
        return hash;
    const PointStore &s = view.store();
    const int32_t *count = s.count();
    const float *values = s.values();
    const std::size_t stride = static_cast<std::size_t>(s.stride());
    const std::size_t n = view.pointCount();
    for (std::size_t k = 0; k < n; ++k) {
        quint32 bits = 0;
        if (count[k] > 0)
            std::memcpy(&bits, values + k * stride, sizeof bits);
        mix((static_cast<quint64>(count[k] > 0) << 32) | bits);
    }
    return hash;
}

// ---------------------------------------------------------------- arrows

namespace {

// Pixel coordinates are kept well inside int range; anything this far lies off the image.
constexpr float kFar = 1.0e6f;

int floorToPixel(float v)
{
    if (v <= -kFar)
        return static_cast<int>(-kFar);
    if (v >= kFar)
        return static_cast<int>(kFar);
    return static_cast<int>(std::floor(v));
}

} // namespace

int arrowGlyph(int x, int y, float dx, float dy, const ArrowScale &scale, QLine lines[3])
{
    if (dx == 0.0f && dy == 0.0f)
        return 0;

    // Raw arrow in pixels, then each component limited to 6 * m cells on its own.
    float ax = dx * scale.pixelsPerUnitX;
    float ay = dy * scale.pixelsPerUnitY;
    const float m = scale.fixedLength
                        ? 1.0f
                        : roundToSingle(std::sqrt(static_cast<double>(dx * dx + dy * dy)) + 0.3);
    const float lx = 6.0f * m * scale.cellWidth;
    const float ly = 6.0f * m * scale.cellHeight;
    ax = std::clamp(ax, -lx, lx);
    ay = std::clamp(ay, -ly, ly);

    const float h = 3.0f * m;
    const float hx = h * scale.cellWidth;
    const float hy = h * scale.cellHeight;
    // NaN or overflowing flow: there is no arrow to draw (and no defined pixel to draw it at).
    if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(hx) || !std::isfinite(hy))
        return -1;

    const int x2 = floorToPixel(static_cast<float>(x) + ax);
    const int y2 = floorToPixel(static_cast<float>(y) + ay);
    lines[0] = QLine(x, y, x2, y2);

    const float tipX = static_cast<float>(x2);
    const float tipY = static_cast<float>(y2);
    if (std::abs(x2 - x) < 3) {
        // Nearly vertical: a symmetric V around the tip, opening back towards the tail. For a
        // shaft pointing up the image the V is mirrored, or the head would point downwards.
        const int xa = floorToPixel(tipX - hx);
        const int xb = floorToPixel(tipX + hx);
        const int ya = y2 < y ? floorToPixel(tipY + hy) : floorToPixel(tipY - hy);
        lines[1] = QLine(xa, ya, x2, y2);
        lines[2] = QLine(xb, ya, x2, y2);
        return 3;
    }

    const int xa = x2 < x ? floorToPixel(tipX + hx) : floorToPixel(tipX - hx);
    if (y2 == y) {
        // Exactly horizontal: a horizontal barb would lie on the shaft and there is no vertical
        // one, so draw two barbs symmetric about the shaft, opening back towards the tail.
        const int off = std::max(1, floorToPixel(hy));
        lines[1] = QLine(xa, y2 - off, x2, y2);
        lines[2] = QLine(xa, y2 + off, x2, y2);
        return 3;
    }
    // A right angle: one horizontal and one vertical barb, both turned back towards the tail.
    const int ya = y2 < y ? floorToPixel(tipY + hy) : floorToPixel(tipY - hy);
    lines[1] = QLine(xa, y2, x2, y2);
    lines[2] = QLine(x2, ya, x2, y2);
    return 3;
}

int drawArrow(QPainter &painter, int x, int y, float dx, float dy, const ArrowScale &scale)
{
    QLine lines[3];
    const int n = arrowGlyph(x, y, dx, dy, scale, lines);
    for (int k = 0; k < n; ++k)
        painter.drawLine(lines[k]);
    return n;
}

int drawArrowLattice(QPainter &painter, const Volume &view, const ArrowScale &scale)
{
    if (view.pointCount() == 0 || view.getDimZ() == 0)
        return 0;
    const int vw = view.getDimX();
    const int vh = view.getDimY();
    const Vector3 *dir = view.store().dir();
    int skipped = 0;
    // All lines in one call: the painter's per-call set-up (pen, clip, stroker) was a good
    // part of the cost of a line. The lines are stroked one by one in the same order, so the
    // pixels are those of drawing arrow by arrow.
    std::vector<QLine> lines;
    lines.reserve(static_cast<std::size_t>(std::max(vw / 12, 0) + 1) * static_cast<std::size_t>(std::max(vh / 12, 0) + 1) * 3);
    for (int i = 12; i < vw; i += 12) {
        for (int j = 12; j <= vh - 12; j += 12) {
            const Vector3 &q = dir[view.indexOf(i, j, 0)];
            const int x = static_cast<int>(static_cast<float>(i) * scale.cellWidth);
            const int y = static_cast<int>(static_cast<float>(j) * scale.cellHeight);
            QLine glyph[3];
            const int n = arrowGlyph(x, y, roundToSingle(q.x), roundToSingle(q.y), scale, glyph);
            if (n < 0)
                ++skipped;
            for (int k = 0; k < n; ++k)
                lines.push_back(glyph[k]);
        }
    }
    if (!lines.empty())
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    return skipped;
}

// ---------------------------------------------------------------- whole picture

ArrowScale arrowScaleFor(int width, int height, int x1, int y1, int x2, int y2, int zoom, bool fixedLength)
{
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    ArrowScale scale;
    // The view always has a positive size; max() only keeps a broken one from dividing by 0.
    scale.cellWidth = w / static_cast<float>(std::max(x2 - x1, 1));
    scale.cellHeight = h / static_cast<float>(std::max(y2 - y1, 1));
    scale.pixelsPerUnitX = w / (kDomainMaxX - kDomainMinX) * static_cast<float>(zoom);
    scale.pixelsPerUnitY = h / (kDomainMaxY - kDomainMinY) * static_cast<float>(zoom);
    scale.fixedLength = fixedLength;
    return scale;
}

void prepareArrowImage(QImage &image, int w, int h, const QImage *background)
{
    // Reusing the pixels matters: every pan step would otherwise fault in fresh pages.
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32)
        image = QImage(w, h, QImage::Format_RGB32);
    if (background && background->size() == image.size() && background->format() == image.format()) {
        // The background covers the whole image: copying it is drawing it.
        std::memcpy(image.bits(), background->constBits(), static_cast<std::size_t>(background->sizeInBytes()));
    } else {
        image.fill(Qt::black);
    }
}

int paintArrowLayer(QPainter &painter, const Volume &view, const ArrowScale &scale, const QColor &color)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(color, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    return drawArrowLattice(painter, view, scale);
}

void paintNoData(QPainter &painter, const QRect &rect)
{
    painter.fillRect(rect, Qt::black);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(rect, Qt::AlignCenter, QStringLiteral("Data must be loaded first"));
}

void paintColorBar(QPainter &painter)
{
    // Pixels: the bar's rows and the three column bands.
    constexpr int kBarTop = 30;
    constexpr int kBarRows = 40;
    constexpr int kLowCapEnd = 15;   // columns 0 ... 14: low colour
    constexpr int kRampEnd = 155;    // columns 15 ... 154: the ramp
    constexpr int kHighCapEnd = 170; // columns 155 ... 169: high colour
    painter.drawText(0, 20, QStringLiteral("Low Pressure"));
    painter.drawText(102, 20, QStringLiteral("High Pressure"));
    // Whole columns at a time: without render hints an integer rectangle fill covers exactly
    // the pixels that point-by-point drawing would.
    painter.fillRect(0, kBarTop, kLowCapEnd, kBarRows, QColor(255, 255, 0));
    for (int x = kLowCapEnd; x < kRampEnd; ++x)
        painter.fillRect(x, kBarTop, 1, kBarRows, colorFromRamp(static_cast<double>(x - kLowCapEnd) / 139.0));
    painter.fillRect(kRampEnd, kBarTop, kHighCapEnd - kRampEnd, kBarRows, QColor(61, 61, 61));
}

namespace {

// The view's cells, scale and (if asked) background of a picture, computed as the view does.
struct PictureParts
{
    ViewCells cells;
    const Volume *view;
    ArrowScale scale;
    QImage background;

    PictureParts(const Volume &grid, const PictureSettings &s)
        : cells(grid, s.viewX1, s.viewY1, s.viewX2, s.viewY2),
          view(&cells.cells()),
          scale(arrowScaleFor(s.width, s.height, s.viewX1, s.viewY1, s.viewX2, s.viewY2, s.zoom, s.fixedLength))
    {
        if (s.showPressure) {
            const int vw = view->getDimX();
            Progress progress(QStringLiteral("Calculating Colors ..."), 0, vw);
            computePressureBackground(background, s.width, s.height, *view, scale.cellWidth, scale.cellHeight,
                                      &progress);
            progress.setValue(vw + 10);
            progress.close();
        }
    }
};

} // namespace

QImage renderPicture(const Volume *grid, const PictureSettings &s, int *skipped)
{
    QImage image;
    if (skipped)
        *skipped = 0;
    if (!grid) {
        prepareArrowImage(image, s.width, s.height, nullptr);
        QPainter painter(&image);
        paintNoData(painter, QRect(0, 0, s.width, s.height));
        return image;
    }
    const PictureParts parts(*grid, s);
    prepareArrowImage(image, s.width, s.height, s.showPressure ? &parts.background : nullptr);
    QPainter painter(&image);
    if (s.showArrows) {
        const int n = paintArrowLayer(painter, *parts.view, parts.scale, s.arrowColor);
        if (skipped)
            *skipped = n;
    }
    return image;
}

void paintPicture(QPainter &painter, const Volume *grid, const PictureSettings &s, int *skipped)
{
    if (skipped)
        *skipped = 0;
    const QRect rect(0, 0, s.width, s.height);
    if (!grid) {
        paintNoData(painter, rect);
        return;
    }
    const PictureParts parts(*grid, s);
    if (s.showPressure && !parts.background.isNull())
        painter.drawImage(rect.topLeft(), parts.background);
    else
        painter.fillRect(rect, Qt::black);
    if (s.showArrows) {
        const int n = paintArrowLayer(painter, *parts.view, parts.scale, s.arrowColor);
        if (skipped)
            *skipped = n;
    }
}

QImage renderPicture(const Dataset &dataset, const PictureSettings &settings, int *skipped)
{
    return renderPicture(&dataset.grid(), settings, skipped);
}

} // namespace arrowrender
