#include "tools/import/ImportGrid.h"

#include "data/DatasetFiles.h"
#include "tools/import/PairOutput.h"

#include <QFileInfo>

namespace tessimport {

namespace {

// A quantity as its source names it; a table's "u [m/s]" is the name u with the unit m/s.
metadata::Quantity quantity(const QString &name, const QString &longName, const QString &units)
{
    metadata::Quantity q{name, longName, units};
    const qsizetype bracket = name.indexOf(QLatin1Char('['));
    if (bracket > 0 && name.endsWith(QLatin1Char(']'))) {
        q.name = name.left(bracket).trimmed();
        if (q.units.isEmpty())
            q.units = name.mid(bracket + 1, name.size() - bracket - 2).trimmed();
    }
    return q;
}

} // namespace

metadata::Metadata describe(const Grid &g, const ScalarMapping &m, double flowScale, const QString &input)
{
    metadata::Metadata d;
    d.source = input.isEmpty() ? QString() : QFileInfo(input).absoluteFilePath();
    d.format = g.format;
    d.nx = g.nx;
    d.ny = g.ny;
    d.x = quantity(g.xAxis.name, QString(), g.xAxis.units);
    d.y = quantity(g.yAxis.name, QString(), g.yAxis.units);
    d.u = quantity(g.uName, g.uLongName, g.uUnits);
    d.v = quantity(g.vName, g.vLongName, g.vUnits);
    d.flowScale = flowScale;
    d.scalarIsSpeed = g.scalar.empty();
    // The speed is taken from the flow as read, before the flow scale.
    d.scalar = d.scalarIsSpeed ? metadata::Quantity{m.name, QString(), d.u.units} : quantity(g.scalarName, g.scalarLongName, g.scalarUnits);
    d.slices = g.slices;
    d.mapping.low = m.low;
    d.mapping.high = m.high;
    d.mapping.storedLow = kScalarLow;
    d.mapping.storedHigh = kScalarHigh;
    d.mapping.fromData = m.fromData;
    return d;
}

bool writeDataset(const Grid &g, const ScalarMapping &m, double flowScale, const QString &gridFile, QString &error,
                  const QString &input)
{
    const RowFiller fill = [&](int y, float *pos, float *rec) { field::pointRow(g, m, flowScale, y, pos, rec); };
    const QByteArray meta = metadata::toJson(describe(g, m, flowScale, input));
    return writePair(gridFile, g.nx, g.ny, field::kChannels, fill, error, &meta);
}

} // namespace tessimport
