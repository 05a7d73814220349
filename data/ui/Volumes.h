#pragma once

#include "data/Dataset.h"
#include "data/Volume.h"

#include <memory>

// The dataset as read from its files, and the same field resampled onto a regular grid with
// the same x and y counts and one layer: views of the current Dataset (or, in tests, of
// volumes set directly). Null until the first load; only the control dock replaces them.
// Readers must check Busy::isBusy() first: during a load they are null or stale.
// The computations never read these: the interface hands them the volumes.
extern const Volume *loadedVolume;
extern const Volume *gridVolume;

// The current dataset (null before the first load); setting it points both volumes at it.
std::shared_ptr<const Dataset> currentDataset();
void setCurrentDataset(std::shared_ptr<const Dataset> dataset);
