#include "tools/render/Pipeline.h"

#include "streamlines/StreamlineRuns.h"
#include "data/Volume.h"

#include <QDebug>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pipeline {

// ---------------------------------------------------------------- arrow plot

QSize arrowPictureSize(const Volume &grid, const ArrowSettings &s)
{
    return s.fit ? QSize(grid.getDimX(), grid.getDimY()) : QSize(arrowrender::kPlotWidth, arrowrender::kPlotHeight);
}

int maxArrowZoom(QSize size)
{
    ViewRect view{0, 0, size.width(), size.height()};
    int zoom = 1;
    while (zoom < kMaxZoom) {
        zoomView(view, true, size.width(), size.height(), ViewRules::arrowPlot());
        if (view.width() < 1 || view.height() < 1)
            break;
        ++zoom;
    }
    return zoom;
}

arrowrender::PictureSettings arrowPicture(const Volume &grid, const ArrowSettings &s)
{
    const QSize size = arrowPictureSize(grid, s);
    ViewRect view{0, 0, size.width(), size.height()};
    for (int i = 1; i < s.zoom; ++i)
        zoomView(view, true, size.width(), size.height(), ViewRules::arrowPlot());
    dragView(view, s.panX, s.panY, ViewRules::arrowPlot());

    arrowrender::PictureSettings p;
    p.width = size.width();
    p.height = size.height();
    p.viewX1 = view.x1;
    p.viewY1 = view.y1;
    p.viewX2 = view.x2;
    p.viewY2 = view.y2;
    p.zoom = s.zoom;
    p.fixedLength = !s.intensity;
    p.showPressure = s.pressure;
    p.arrowColor = s.black ? QColor(0, 0, 0) : QColor(255, 255, 255);
    return p;
}

void paintColorBar(QPainter &painter, QPoint at)
{
    painter.save();
    painter.translate(at);
    // The widget's painter: no render hints, its foreground colour (black) as the pen.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::black);
    arrowrender::paintColorBar(painter);
    painter.restore();
}

int colorBarExtent()
{
    const QFontMetrics metrics{QGuiApplication::font()};
    return std::max(kColorBarWidth, 102 + metrics.horizontalAdvance(QStringLiteral("High Pressure")) + 2);
}

QSize colorBarCanvas(QSize picture)
{
    return QSize(picture.width() + kColorBarGap + colorBarExtent(), std::max(picture.height(), kColorBarHeight));
}

QImage composePicture(QImage image, bool northUp, int flipFirst, int flipLast, bool colorBar)
{
    if (northUp && flipFirst < flipLast) {
        const QImage rows = image.copy(0, flipFirst, image.width(), flipLast - flipFirst).mirrored(false, true);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, flipFirst, rows);
    }
    if (!colorBar)
        return image;
    QImage composed(colorBarCanvas(image.size()), image.format());
    if (composed.isNull())
        return composed;
    composed.fill(Qt::white);
    QPainter painter(&composed);
    painter.drawImage(0, 0, image);
    paintColorBar(painter, QPoint(image.width() + kColorBarGap, 0));
    painter.end();
    return composed;
}

// ---------------------------------------------------------------- streamlines

namespace {

// The evenly spaced view lists a line once for every seed search made on it, always in a
// row: the lines without those repeats (shared copies or equal lines) and without empty ones.
QVector<Streamline> withoutRepeats(const QVector<Streamline> &all)
{
    QVector<Streamline> lines;
    for (const Streamline &line : all) {
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

} // namespace

StreamRun seedStreamlines(const Volume &grid, const StreamSettings &s)
{
    StreamlineSettings settings;
    settings.dt = s.dt;
    settings.method = s.method;
    settings.maxLength = s.maxLength;
    settings.antialiased = s.antialias;
    settings.wholeGrid = !s.haveRect;
    settings.view = s.rect;
    settings.dSep = s.dSep;
    settings.dTest = s.dTest;
    settings.maxSeeds = s.maxSeeds;
    settings.maxSteps = s.maxSteps;
    // With the view's limits the run is the view's, stored repeats and grid counts included.
    // Larger limits would store up to maxSteps repeats for every line that stalls (most
    // lines on a large field): time and memory the data lines drop anyway.
    settings.stopAtRest = s.maxSeeds != streamlineDefaults::kMaxSeeds || s.maxSteps != streamlineDefaults::kMaxSteps;
    settings.writeGridLog = false; // the tool writes the grid's counts where it was asked to
    StreamlineResult result = s.evenly ? evenlySpacedStreamlines(grid, settings) : regularStreamlines(grid, settings);
    return StreamRun{result.size,
                     result.view,
                     s,
                     std::move(result.seeds),
                     std::move(result.lines),
                     std::move(result.polylines),
                     std::move(result.separation)};
}

QVector<QPolygon> vectorPolylines(const StreamRun &run, const Volume &grid, DroppedRepeats *dropped)
{
    // (evenlySpacedPolylines maps any lines, regular ones too.)
    QVector<QPolygon> lines = evenlySpacedPolylines(dataLines(run, grid, dropped), run.rect, grid);
    for (QPolygon &line : lines)
        line.erase(std::unique(line.begin(), line.end()), line.end());
    return lines;
}

QVector<Streamline> dataLines(const StreamRun &run, const Volume &grid, DroppedRepeats *dropped)
{
    if (run.settings.evenly)
        return withoutRepeatedPoints(withoutRepeats(run.lines), dropped);
    return regularLines(run.seeds, run.settings, grid, dropped);
}

QVector<Streamline> regularLines(const QVector<Vector3> &seeds, const StreamSettings &s, const Volume &grid,
                                 DroppedRepeats *dropped)
{
    QVector<Streamline> lines;
    for (const Vector3 &seed : seeds) {
        // Forward along the flow whatever the sign of dt, as the picture traces them.
        Streamline line = traceFixedLength(seed, std::fabs(s.dt), s.method, s.maxLength, grid);
        if (!line.isEmpty())
            lines.append(std::move(line));
    }
    return withoutRepeatedPoints(lines, dropped);
}

} // namespace pipeline
