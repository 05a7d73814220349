#include "Pipeline.h"

#include "ColorRamp.h"
#include "Volume.h"

#include <QDebug>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace pipeline {

// ---------------------------------------------------------------- datasets

bool load(const QString &gridFile, std::unique_ptr<Volume> &loaded, std::unique_ptr<Volume> &grid)
{
    loaded = std::make_unique<Volume>();
    loaded->load(gridFile);
    if (loaded->pointCount() == 0) {
        loaded.reset();
        grid.reset();
        return false;
    }
    grid = std::make_unique<Volume>(loaded->getDimX(), loaded->getDimY(), 1);
    if (grid->pointCount() == 0) {
        qDebug().noquote() << QStringLiteral("Cannot hold the regular grid of %1 x %2 points.")
                                  .arg(loaded->getDimX())
                                  .arg(loaded->getDimY());
        loaded.reset();
        grid.reset();
        return false;
    }
    grid->calculateGridFrom(*loaded);
    return true;
}

void indexToWorld(const Volume &loaded, double gx, double gy, double &wx, double &wy)
{
    // getGridPos: index = (world - min) * s with s = dim / extent rounded to single precision.
    const float sx = static_cast<float>(loaded.getDimX() / (loaded.mMaxPos.x - loaded.mMinPos.x));
    const float sy = static_cast<float>(loaded.getDimY() / (loaded.mMaxPos.y - loaded.mMinPos.y));
    wx = loaded.mMinPos.x + gx / static_cast<double>(sx);
    wy = loaded.mMinPos.y + gy / static_cast<double>(sy);
}

// ---------------------------------------------------------------- arrow plot

namespace {

// Zoom steps of the arrow plot in cells, from the picture's size (10 x 18 at 314 x 538).
QSize zoomSteps(QSize size)
{
    return QSize(static_cast<int>(std::floor(size.width() / 30.0 + 0.5)),
                 static_cast<int>(std::floor(size.height() / 30.0 + 0.5)));
}

} // namespace

QSize arrowPictureSize(const Volume &grid, const ArrowSettings &s)
{
    return s.fit ? QSize(grid.getDimX(), grid.getDimY()) : QSize(kArrowWidth, kArrowHeight);
}

int maxArrowZoom(QSize size)
{
    const QSize step = zoomSteps(size);
    int zoom = 1;
    while (zoom < kMaxZoom && size.width() - 2 * step.width() * zoom >= 1 && size.height() - 2 * step.height() * zoom >= 1)
        ++zoom;
    return zoom;
}

ArrowPicture composeArrows(const Volume &grid, const ArrowSettings &s)
{
    ArrowPicture a;
    a.size = arrowPictureSize(grid, s);
    const int w = a.size.width();
    const int h = a.size.height();
    // zoom - 1 right clicks, each taking the steps off every side; then the drag.
    const QSize step = zoomSteps(a.size);
    const int k = s.zoom - 1;
    a.x1 = k * step.width() + s.panX;
    a.y1 = k * step.height() + s.panY;
    a.x2 = w - k * step.width() + s.panX;
    a.y2 = h - k * step.height() + s.panY;
    const int vw = std::max(a.x2 - a.x1, 1);
    const int vh = std::max(a.y2 - a.y1, 1);

    // The plot's scale: cells per picture and pixels per unit of the fixed data domain.
    const float fw = static_cast<float>(w);
    const float fh = static_cast<float>(h);
    a.scale.cellWidth = fw / static_cast<float>(vw);
    a.scale.cellHeight = fh / static_cast<float>(vh);
    a.scale.pixelsPerUnitX = fw / (11.6701f - 0.3299f) * static_cast<float>(s.zoom);
    a.scale.pixelsPerUnitY = fh / (18.77217f - 0.3299f) * static_cast<float>(s.zoom);
    a.scale.fixedLength = !s.intensity;
    a.arrowColor = s.black ? QColor(0, 0, 0) : QColor(255, 255, 255);

    a.cells = std::make_unique<Volume>(vw, vh, 1);
    if (a.cells->pointCount() == 0) {
        a.cells.reset();
        return a;
    }
    arrowrender::copyViewCells(&grid, a.x1, a.y1, *a.cells);
    if (s.pressure)
        arrowrender::computePressureBackground(a.background, w, h, *a.cells, a.scale.cellWidth, a.scale.cellHeight,
                                               nullptr);
    return a;
}

QImage rasterArrows(const ArrowPicture &a)
{
    QImage image(a.size, QImage::Format_RGB32);
    if (image.isNull() || !a.cells)
        return QImage();
    if (!a.background.isNull())
        image = a.background.copy();
    else
        image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(a.arrowColor, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    arrowrender::drawArrowLattice(painter, *a.cells, a.scale);
    return image;
}

void paintArrowsVector(QPainter &painter, const ArrowPicture &a)
{
    const QRect frame(QPoint(0, 0), a.size);
    if (!a.background.isNull())
        painter.drawImage(frame, a.background);
    else
        painter.fillRect(frame, Qt::black);
    if (!a.cells)
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(a.arrowColor, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // The lattice of drawArrowLattice, each glyph (shaft and head) as one open path.
    const Volume &v = *a.cells;
    const Vector3 *dir = v.store().dir();
    for (int i = 12; i < v.getDimX(); i += 12) {
        for (int j = 12; j <= v.getDimY() - 12; j += 12) {
            const Vector3 &q = dir[v.indexOf(i, j, 0)];
            const int x = static_cast<int>(static_cast<float>(i) * a.scale.cellWidth);
            const int y = static_cast<int>(static_cast<float>(j) * a.scale.cellHeight);
            QLine lines[3];
            const int n = arrowrender::arrowGlyph(x, y, static_cast<float>(q.x), static_cast<float>(q.y), a.scale, lines);
            QPainterPath path;
            for (int k = 0; k < n; ++k) {
                path.moveTo(lines[k].p1());
                path.lineTo(lines[k].p2());
            }
            if (n > 0)
                painter.drawPath(path);
        }
    }
}

void paintColorBar(QPainter &painter, QPoint at)
{
    // The legend widget's picture: captions at baseline 20, then 15 columns of the low
    // colour, 140 of ramp (t = 0 ... 1 over columns 15 ... 154) and 15 of the high colour.
    painter.save();
    painter.translate(at);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::black);
    painter.drawText(0, 20, QStringLiteral("Low Pressure"));
    painter.drawText(102, 20, QStringLiteral("High Pressure"));
    painter.fillRect(0, 30, 15, 40, QColor(255, 255, 0));
    for (int x = 15; x < 155; ++x)
        painter.fillRect(x, 30, 1, 40, colorFromRamp(static_cast<double>(x - 15) / 139.0));
    painter.fillRect(155, 30, 15, 40, QColor(61, 61, 61));
    painter.restore();
}

int colorBarExtent()
{
    const QFontMetrics metrics{QGuiApplication::font()};
    return std::max(kColorBarWidth, 102 + metrics.horizontalAdvance(QStringLiteral("High Pressure")) + 2);
}

// ---------------------------------------------------------------- streamlines

StreamPicture composeStreamlines(const Volume &grid, const StreamSettings &s)
{
    StreamPicture p;
    // The view is sized to the grid, one pixel per cell.
    p.size = QSize(grid.getDimX(), grid.getDimY());
    p.rect = s.haveRect ? s.rect : ViewRect{0, 0, p.size.width(), p.size.height()};
    if (!s.evenly) {
        QVector<Vector3> seeds;
        appendRegularSeeds(seeds, p.rect, 10, 10);
        p.drawn.reserve(seeds.size());
        for (const Vector3 &seed : seeds)
            p.drawn.append(traceFixedLength(seed, std::fabs(s.dt), s.method, s.maxLength, grid));
    } else {
        QVector<Vector3> seeds;
        EvenlySpacedSeeding seeding(seeds, p.drawn);
        EvenlySpacedSeeding::Parameters parameters;
        parameters.dSep = s.dSep;
        parameters.dTest = s.dTest;
        parameters.dt = s.dt;
        parameters.method = s.method;
        parameters.viewWidth = p.size.width();
        parameters.viewHeight = p.size.height();
        parameters.writeLog = false;
        seeding.reset(parameters);
        seeding.run(&grid);
        if (const SeparationGrid *g = seeding.mGrid.get()) {
            // The separation grid's "grid.log": a tab before each cell's count, a row a line.
            QByteArray &log = p.gridLog;
            for (int cy = 0; cy < g->mHeight; ++cy) {
                for (int cx = 0; cx < g->mWidth; ++cx) {
                    const qsizetype k = qsizetype(cy) * g->mWidth + cx;
                    log += '\t';
                    log += QByteArray::number(k < g->mCells.size() ? g->mCells.at(k).size() : 0);
                }
                log += '\n';
            }
        }
    }
    const PixelMapping mapping(p.rect, grid.getDimX(), grid.getDimY());
    mapStreamlines(p.drawn, mapping, p.polylines);
    return p;
}

QImage rasterStreamlines(const StreamPicture &p, bool antialias)
{
    QImage image = blankStreamlineImage(p.size);
    paintPolylines(image, p.polylines, antialias);
    return image;
}

void paintStreamlinesVector(QPainter &painter, const StreamPicture &p, bool antialias)
{
    painter.fillRect(QRect(QPoint(0, 0), p.size), Qt::black);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, antialias);
    // Aliased lines fill the pixels whose corner the points name; as vectors they run through
    // those pixels' centres.
    if (!antialias)
        painter.translate(0.5, 0.5);
    painter.setPen(QPen(QColor(255, 255, 255), 1));
    painter.setBrush(Qt::NoBrush);
    for (qsizetype i = 0; i < p.polylines.size(); ++i) {
        const QPolygon &line = p.polylines[i];
        // An evenly spaced line stands in the list once per seed search made on it; a vector
        // picture holds it once (the raster draws it again over itself).
        if (line.size() < 2 || (i > 0 && p.drawn[i].constData() == p.drawn[i - 1].constData()))
            continue;
        QPainterPath path(line.first());
        for (int i = 1; i < line.size(); ++i)
            path.lineTo(line[i]);
        painter.drawPath(path);
    }
    painter.restore();
}

QVector<Streamline> dataLines(const StreamPicture &p)
{
    // The evenly spaced view lists a line once for every seed search made on it, always in a
    // row: drop the repeats (shared copies, or equal lines).
    QVector<Streamline> lines;
    for (const Streamline &line : p.drawn) {
        if (line.isEmpty())
            continue;
        if (!lines.isEmpty()) {
            const Streamline &last = lines.last();
            if (last.constData() == line.constData() || last == line)
                continue;
        }
        lines.append(line);
    }
    return lines;
}

// ---------------------------------------------------------------- volume information

float probeCoordinate(int whole, int hundredths)
{
    return static_cast<float>(whole + hundredths * 0.01);
}

Probe probe(Volume &loaded, float x, float y)
{
    Probe r;
    r.x = x;
    r.y = y;
    const DataPoint p = loaded.getValue(x, y, 0.0);
    r.pos = p.mPos;
    r.dir = p.mDir;
    r.values = QVector<float>(p.mValues.begin(), p.mValues.end());
    r.gridPos = loaded.getGridPos(static_cast<int>(x), static_cast<int>(y), 0);

    QString text = QString::asprintf("(%fx%f): \n", x, y);
    text += QString::asprintf("  mPos: (%f,%f,%f) \n", r.pos.x, r.pos.y, r.pos.z);
    text += QString::asprintf("  mDir: (%f,%f,%f) \n", r.dir.x, r.dir.y, r.dir.z);
    for (int i = 0; i < r.values.size(); ++i)
        text += QString::asprintf("  Value %i: %f \n", i, static_cast<double>(r.values[i]));
    text += QString::asprintf("  outPutPos: (%f,%f,%f)", r.gridPos.x, r.gridPos.y, r.gridPos.z);
    r.text = text;
    return r;
}

} // namespace pipeline
