#pragma once

#include "tools/import/ImportGrid.h"

// The importer refuses positions by the core's field rule, so that a dataset made from
// arrays and one imported from a file are refused alike (field::positionProblem).
namespace tessimport {

using field::positionProblem;

} // namespace tessimport
