#pragma once

#include "data/Vector3.h"
#include "data/Volume.h"

#include <cmath>
#include <cstdint>

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

namespace integration {

// Vector3::normalized() written out, the same operations in the same order (so the same
// bits): a step is a chain of dependent samples, and out-of-line calls per sample cost a
// good part of its time.
inline Vector3 unitDirection(const Vector3 &v)
{
    const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0)
        return Vector3();
    const double f = 1.0 / len;
    return Vector3(v.x * f, v.y * f, v.z * f);
}

// integrate() for the two known methods on an existing volume, inline for tight loops.
// `inside`: pos is known to lie inside the volume.
inline Vector3 step(const Vector3 &pos, double dt, bool rungeKutta, const Volume &volume, bool inside = false)
{
    const Vector3 d1 = unitDirection(inside ? volume.sampleDirInside(pos.x, pos.y, pos.z)
                                            : volume.sampleDir(pos.x, pos.y, pos.z));
    if (!rungeKutta)
        return pos + d1 * dt;
    // The midpoint is sampled even when it lies outside (the flow is zero there).
    const Vector3 mid = pos + (d1 * dt) * 0.5;
    const Vector3 d2 = unitDirection(volume.sampleDir(mid.x, mid.y, mid.z));
    return pos + d2 * dt;
}

// Asks the memory system for the field samples around (x, y, z) ahead of their use: a trace
// can guess where it will be a few steps on, and on a field larger than the caches each
// sample otherwise waits for main memory. No effect on any result; positions outside the
// field are ignored. Forced inline: a call to a function without side effects would be
// dropped whole.
__attribute__((always_inline)) inline void prefetchSample(const Volume &volume, double x, double y, double z)
{
    if (!volume.isInside(x, y, z))
        return;
    const std::size_t i0 = volume.indexOf(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z));
    const std::size_t row = static_cast<std::size_t>(volume.getDimX());
    // The corner pairs (i0, i0 + 1) and (i0 + row, i0 + row + 1), 48 bytes each, may span two
    // cache lines. Addresses as integers: the pairs may run past the last point.
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(volume.store().dir() + i0);
    const std::uintptr_t b = a + row * sizeof(Vector3);
    __builtin_prefetch(reinterpret_cast<const void *>(a));
    __builtin_prefetch(reinterpret_cast<const void *>(a + 2 * sizeof(Vector3) - 1));
    __builtin_prefetch(reinterpret_cast<const void *>(b));
    __builtin_prefetch(reinterpret_cast<const void *>(b + 2 * sizeof(Vector3) - 1));
}

} // namespace integration
