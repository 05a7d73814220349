#include "streamlines/StreamlineRuns.h"

#include "streamlines/StreamlineRender.h"

#include <QBuffer>

#include <cmath>

namespace {

StreamlineResult seeded(const Volume &grid, const StreamlineSettings &s, bool evenly)
{
    StreamlineResult r;
    r.size = QSize(grid.getDimX(), grid.getDimY());
    r.view = s.wholeGrid ? ViewRect{0, 0, r.size.width(), r.size.height()} : s.view;

    EvenlySpacedSeeding::Parameters parameters;
    parameters.dSep = s.dSep;
    parameters.dTest = s.dTest;
    parameters.dt = s.dt;
    parameters.method = s.method;
    parameters.viewWidth = r.size.width();
    parameters.viewHeight = r.size.height();
    parameters.writeLog = s.writeGridLog;
    parameters.maxSeeds = s.maxSeeds;
    parameters.maxSteps = s.maxSteps;
    parameters.stopAtRest = s.stopAtRest;
    EvenlySpacedSeeding seeding;
    runSeeding(seeding, r.seeds, r.lines, evenly, r.view, s.seedsX, s.seedsY, parameters, &grid);
    r.separation = seeding.takeGrid();
    return r;
}

void paint(StreamlineResult &r, const StreamlineSettings &s)
{
    r.image = blankStreamlineImage(r.size);
    paintPolylines(r.image, r.polylines, s.antialiased);
}

} // namespace

QByteArray StreamlineResult::gridLog() const
{
    QByteArray bytes;
    if (!separation)
        return bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    separation->writeLog(buffer);
    return bytes;
}

StreamlineResult regularStreamlines(const Volume &grid, const StreamlineSettings &s, bool picture)
{
    StreamlineResult r = seeded(grid, s, false);
    const TraceSettings trace{std::fabs(s.dt), s.method, s.maxLength};
    r.polylines = regularPolylines(r.seeds, r.view, trace, grid);
    if (picture)
        paint(r, s);
    return r;
}

StreamlineResult evenlySpacedStreamlines(const Volume &grid, const StreamlineSettings &s, bool picture)
{
    StreamlineResult r = seeded(grid, s, true);
    r.polylines = evenlySpacedPolylines(r.lines, r.view, grid);
    if (picture)
        paint(r, s);
    return r;
}

StreamlineResult regularStreamlines(const Dataset &dataset, const StreamlineSettings &settings, bool picture)
{
    return regularStreamlines(dataset.grid(), settings, picture);
}

StreamlineResult evenlySpacedStreamlines(const Dataset &dataset, const StreamlineSettings &settings, bool picture)
{
    return evenlySpacedStreamlines(dataset.grid(), settings, picture);
}
