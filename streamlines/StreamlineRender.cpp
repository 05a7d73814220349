#include "streamlines/StreamlineRender.h"

#include "data/Progress.h"
#include "streamlines/RgbaColor.h"

#include <QDebug>
#include <QPainter>
#include <QPen>

#include <algorithm>

const Volume *usableGrid(const Volume *grid)
{
    if (!grid || grid->pointCount() == 0 || grid->getDimX() <= 0 || grid->getDimY() <= 0 || grid->getDimZ() <= 0)
        return nullptr;
    return grid;
}

void appendRegularSeeds(QVector<Vector3> &seeds, const ViewRect &view, int seedsX, int seedsY)
{
    // A non-positive extent or count would make the steps zero or negative: no seeds then,
    // rather than a loop that never ends.
    if (view.width() <= 0 || view.height() <= 0 || seedsX <= 0 || seedsY <= 0)
        return;
    const double stepX = static_cast<double>(view.x2 - view.x1) / seedsX;
    const double stepY = static_cast<double>(view.y2 - view.y1) / seedsY;
    for (double sx = view.x1 + 1.0; sx < view.x2; sx += stepX)
        for (double sy = view.y1 + 1.0; sy < view.y2; sy += stepY)
            seeds.append(Vector3(sx, sy, 0.0));
}

PixelMapping::PixelMapping(const ViewRect &view, int dimX, int dimY)
    : mScaleX(static_cast<float>(view.x2 - view.x1) / static_cast<float>(dimX)),
      mScaleY(static_cast<float>(view.y2 - view.y1) / static_cast<float>(dimY)),
      mInvX(1.0f / mScaleX),
      mInvY(1.0f / mScaleY),
      mX1(view.x1),
      mY1(view.y1)
{
}

Streamline traceFixedLength(Vector3 seed, double dt, int method, int maxLength, const Volume &grid)
{
    Streamline line;
    traceFixedLength(seed, dt, method, maxLength, grid, [&line](const Vector3 &p) { line.append(p); });
    return line;
}

void traceRegularPolylines(const QVector<Vector3> &seeds, const TraceSettings &settings, const Volume &grid,
                           const PixelMapping &mapping, QVector<QPolygon> &polylines,
                           const std::function<void(int)> &perSeed)
{
    // Room for a typical line up front; a very long limit grows the polygon as it goes
    // instead of reserving memory the line may never use.
    const int reserve = std::clamp(settings.maxLength, 0, 4096);
    polylines.reserve(polylines.size() + seeds.size());
    for (int i = 0; i < seeds.size(); ++i) {
        QPolygon polyline;
        if (grid.isInside(seeds[i].x, seeds[i].y, seeds[i].z))
            polyline.reserve(reserve);
        traceFixedLength(seeds[i], settings.dt, settings.method, settings.maxLength, grid,
                         [&polyline, &mapping](const Vector3 &p) { polyline.append(mapping.map(p.x, p.y)); });
        polylines.append(std::move(polyline));
        if (perSeed)
            perSeed(i);
    }
}

namespace {

void mapStreamlines(const QVector<Streamline> &lines, const PixelMapping &mapping, QVector<QPolygon> &polylines)
{
    polylines.reserve(polylines.size() + lines.size());
    for (const Streamline &line : lines) {
        QPolygon polyline(static_cast<int>(line.size()));
        for (int i = 0; i < line.size(); ++i)
            polyline[i] = mapping.map(line[i].x, line[i].y);
        polylines.append(std::move(polyline));
    }
}

void paintNoData(QPainter &painter, const QRect &rect)
{
    painter.fillRect(rect, QBrush(QColor(128, 0, 0, 255), Qt::SolidPattern));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QColor(255, 255, 255, 255));
    painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Data must be loaded first"));
}

} // namespace

void runSeeding(EvenlySpacedSeeding &seeding, QVector<Vector3> &seeds, QVector<Streamline> &lines, bool evenlySpaced,
                const ViewRect &view, int seedsX, int seedsY, const EvenlySpacedSeeding::Parameters &parameters,
                const Volume *grid)
{
    seeds.clear();
    lines.clear();
    seeding.reset(parameters);
    qDebug() << "------------------------------------------------------";
    if (!evenlySpaced)
        appendRegularSeeds(seeds, view, seedsX, seedsY);
    else if (const Volume *usable = usableGrid(grid)) {
        seeding.run(usable);
        seeds = seeding.seeds();
        lines = seeding.lines();
    } else
        qDebug() << "No dataset loaded: there is nothing to place evenly spaced streamlines in.";
    qDebug() << "generated " << seeding.points().size() << "Points";
}

QVector<QPolygon> regularPolylines(const QVector<Vector3> &seeds, const ViewRect &view, const TraceSettings &settings,
                                   const Volume &grid, Progress *progress)
{
    QVector<QPolygon> polylines;
    std::function<void(int)> perSeed;
    if (progress)
        perSeed = [progress](int i) { progress->setValue(i); };
    traceRegularPolylines(seeds, settings, grid, PixelMapping(view, grid.getDimX(), grid.getDimY()), polylines,
                          perSeed);
    return polylines;
}

QVector<QPolygon> evenlySpacedPolylines(const QVector<Streamline> &lines, const ViewRect &view, const Volume &grid)
{
    QVector<QPolygon> polylines;
    mapStreamlines(lines, PixelMapping(view, grid.getDimX(), grid.getDimY()), polylines);
    return polylines;
}

QImage blankStreamlineImage(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull())
        image.fill(QColor(0, 0, 0, 255));
    return image;
}

void paintStreamlines(QPainter &painter, const QVector<QPolygon> &polylines, bool antialiased)
{
    if (antialiased)
        painter.setRenderHint(QPainter::Antialiasing, true);
    const QColor white = RgbaColor(255, 255, 255, 255).toQColor();
    for (const QPolygon &polyline : polylines) {
        // One pen per line: the colour could follow the line, today every line is white.
        painter.setPen(QPen(white, 1));
        painter.drawPolyline(polyline);
    }
}

void paintPolylines(QImage &image, const QVector<QPolygon> &polylines, bool antialiased)
{
    if (image.isNull())
        return;
    QPainter painter(&image);
    paintStreamlines(painter, polylines, antialiased);
}

void paintNoData(QImage &image)
{
    if (image.isNull())
        return;
    QPainter painter(&image);
    paintNoData(painter, QRect(0, 0, image.width(), image.height()));
}

RegularPicture renderRegularPicture(QSize size, const ViewRect &view, int seedsX, int seedsY,
                                    const TraceSettings &settings, bool antialiased, const Volume &grid,
                                    Progress *progress)
{
    RegularPicture picture;
    picture.image = blankStreamlineImage(size);
    appendRegularSeeds(picture.seeds, view, seedsX, seedsY);
    picture.polylines = regularPolylines(picture.seeds, view, settings, grid, progress);
    paintPolylines(picture.image, picture.polylines, antialiased);
    return picture;
}
