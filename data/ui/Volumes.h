#pragma once

#include "Volume.h"

// The dataset as read from its files, and the same field resampled onto a regular grid with
// the same x and y counts and one layer. Null until the first load; only the control dock
// replaces them. Readers must check Busy::isBusy() first: during a load they are half-filled.
// The computations never read these: the interface hands them the volumes.
extern Volume *loadedVolume;
extern Volume *gridVolume;
