#pragma once

#include "Vector3.h"

class Volume;

// Integration method codes as the streamline view stores them.
enum IntegrationMethod { Euler = 0, RungeKutta = 1 };

// One step of length |dt| (in grid index units) along the normalised flow direction of
// `volume` at `pos`: Euler (method 0) or midpoint Runge-Kutta (method 1). Where the flow is
// zero (stagnation, outside the field) the step returns `pos`. Any other method code gives
// (0, 0, 0). Without a volume there is no flow anywhere, so a valid method returns `pos`.
// Allocation-free: samples the flow through Volume::sampleDir.
Vector3 integrate(Vector3 pos, double dt, int method, const Volume *volume);

// The normalised flow direction that a step at (x, y, z) follows: zero where the flow is
// zero or outside the field; not finite where the flow is missing (NaN) or infinite.
Vector3 flowDirection(const Volume &volume, double x, double y, double z);
