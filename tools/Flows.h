#pragma once

#include <QString>
#include <QStringList>

// Analytic two-dimensional flows written as datasets: the sample data and benchmark inputs.
// Every grid runs from its lower-left corner (first point) to its upper-right corner (last
// point), so the resampling finds the extent as those two points.
namespace flows {

struct Size
{
    int x = 0;
    int y = 0;
};

// "channel", "vortices", "saddle", "uniform".
QStringList kinds();
Size defaultSize(const QString &kind);
int channelCount(const QString &kind);

// Writes the dataset pair for `kind` at `gridFileName`; a size of 0 means the default.
bool write(const QString &kind, const QString &gridFileName, Size size = {});

// The flow "vortices" writes at grid point (i, j) of a grid of `size` (single precision, as
// stored): for fields too large to write and load, built in memory instead.
void vorticesFlow(int i, int j, Size size, float dir[2]);

} // namespace flows
