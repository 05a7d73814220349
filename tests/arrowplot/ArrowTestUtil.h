#pragma once

// Helpers shared by the arrow plot tests: a paint device that records the lines drawn on it,
// the plain point-by-point drawing of the pressure background the fast one must match, and
// pixel statistics of computed images.

#include "ColorRamp.h"
#include "Flows.h"
#include "TestSupport.h"
#include "Volume.h"

#include <QImage>
#include <QLine>
#include <QList>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QTemporaryDir>

#include <vector>

namespace arrowtest {

// Records every line drawn through a QPainter, with the pen colour it was drawn in.
class LineRecorder : public QPaintDevice
{
public:
    struct Line
    {
        QLine line;
        QColor color;
    };

    LineRecorder(int w = 314, int h = 538) : mW(w), mH(h) {}
    ~LineRecorder() override = default;
    QPaintEngine *paintEngine() const override { return &mEngine; }
    QList<Line> lines() const { return mEngine.lines; }
    QList<QLine> plainLines() const
    {
        QList<QLine> out;
        for (const Line &l : mEngine.lines)
            out << l.line;
        return out;
    }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return mW;
        case PdmHeight: return mH;
        case PdmWidthMM: return mW / 4;
        case PdmHeightMM: return mH / 4;
        case PdmDepth: return 32;
        case PdmNumColors: return 0x7fffffff;
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return 1 * QPaintDevice::devicePixelRatioFScale();
        default: return 0;
        }
    }

private:
    class Engine : public QPaintEngine
    {
    public:
        Engine() : QPaintEngine(AllFeatures) {}
        QList<Line> lines;
        QColor pen;
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &state) override
        {
            if (state.state() & DirtyPen)
                pen = state.pen().color();
        }
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawLines(const QLine *l, int n) override
        {
            for (int i = 0; i < n; ++i)
                lines.append({l[i], pen});
        }
        void drawLines(const QLineF *l, int n) override
        {
            for (int i = 0; i < n; ++i)
                lines.append({l[i].toLine(), pen});
        }
        Type type() const override { return User; }
    };
    int mW;
    int mH;
    mutable Engine mEngine;
};

// The pressure background drawn the plain way: cell by cell (column outer, row inner), the
// cell's colour as the pen, every point of its block with inclusive bounds, later cells over
// earlier ones. Cells without a value take black, pixels no cell reaches stay black.
inline QImage referenceBackground(const Volume &view, int w, int h, float cellWidth, float cellHeight)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    for (int i = 0; i < view.getDimX(); ++i) {
        for (int j = 0; j < view.getDimY(); ++j) {
            const DataPoint p = view.getAt(i, j, 0);
            painter.setPen(p.mValues.isEmpty() ? QColor(0, 0, 0) : colorFromRamp(pressureToRamp(p.mValues[0])));
            for (int px = static_cast<int>(i * cellWidth); px <= (i + 1) * cellWidth; ++px)
                for (int py = static_cast<int>(j * cellHeight); py <= (j + 1) * cellHeight; ++py)
                    painter.drawPoint(px, py);
        }
    }
    painter.end();
    return image;
}

// First differing pixel of two images as text, or an empty string when they are equal.
inline QString firstDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("(%1, %2): %3 vs %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y), 8, 16)
                    .arg(b.pixel(x, y), 8, 16);
    return QString();
}

inline bool isBlack(QRgb c) { return (c & 0xffffff) == 0; }

// Number of 8-connected groups of pixels that are not black.
inline int litComponents(const QImage &image)
{
    const int w = image.width(), h = image.height();
    std::vector<char> seen(static_cast<std::size_t>(w) * h, 0);
    std::vector<QPoint> stack;
    int groups = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (seen[y * w + x] || isBlack(image.pixel(x, y)))
                continue;
            ++groups;
            stack.push_back(QPoint(x, y));
            seen[y * w + x] = 1;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = p.x() + dx, ny = p.y() + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || seen[ny * w + nx]
                            || isBlack(image.pixel(nx, ny)))
                            continue;
                        seen[ny * w + nx] = 1;
                        stack.push_back(QPoint(nx, ny));
                    }
            }
        }
    }
    return groups;
}

// Bounding box of the pixels that are not black.
inline QRect litBounds(const QImage &image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!isBlack(image.pixel(x, y)))
                r |= QRect(x, y, 1, 1);
    return r;
}

// The channel sample (314 x 538, pressure about -4 ... 2.5) loaded as the dock loads it.
inline bool loadChannelSample(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("channel.gri"));
    if (!flows::write(QStringLiteral("channel"), path))
        return false;
    testsupport::loadLikeTheDock(path);
    return gridVolume && gridVolume->pointCount() == 314u * 538u;
}

} // namespace arrowtest
