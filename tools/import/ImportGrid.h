#pragma once

#include "data/FieldArrays.h"
#include "data/Metadata.h"

#include <QString>

#include <cstddef>

// What both readers produce: a structured field (field::Arrays, the core's), in the input's
// own world units, with NaN wherever a value is missing. The rules that turn it into a
// dataset are the core's (FieldArrays.h); this adds the importer's limit and its writer.
namespace tessimport {

// Grids larger than this are refused before anything of their size is allocated: the
// written pair would exceed 4 GB (32 bytes per point).
constexpr std::size_t kMaxPoints = std::size_t(128) * 1024 * 1024;

using Axis = field::Axis;
using Grid = field::Arrays;
using ScalarMapping = field::ScalarMapping;
using field::kScalarHigh;
using field::kScalarLow;
using field::mapScalar;
using field::missingFlow;
using field::orient;
using field::scalarMapping;

// What the pair's numbers mean, for OUT.meta.json: the source `input`, the quantities with
// their units (a table column's unit in brackets split from its name), the slice and the
// scalar's mapping.
metadata::Metadata describe(const Grid &g, const ScalarMapping &m, double flowScale, const QString &input);

// Writes the pair OUT.gri / OUT.00000.dat (writePair), point by point as field::point gives
// them (the same points Dataset::fromArrays holds), and with them OUT.meta.json from
// describe(g, m, flowScale, input). Nothing is left on failure; `error` then names the file
// and the reason. The three files replace the old ones together.
bool writeDataset(const Grid &g, const ScalarMapping &m, double flowScale, const QString &gridFile, QString &error,
                  const QString &input = QString());

} // namespace tessimport
