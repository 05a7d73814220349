#include "Integrate.h"

#include "Volume.h"

#include <cmath>

namespace {

// Vector3::normalized() written out here, the same operations in the same order (so the same
// bits): the step is a chain of dependent samples, and two out-of-line calls per sample were
// a third of its time.
inline Vector3 unitDirection(const Vector3 &v)
{
    const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0)
        return Vector3();
    const double f = 1.0 / len;
    return Vector3(v.x * f, v.y * f, v.z * f);
}

} // namespace

Vector3 flowDirection(const Volume &volume, double x, double y, double z)
{
    return unitDirection(volume.sampleDir(x, y, z));
}

Vector3 integrate(Vector3 pos, double dt, int method, const Volume *volume)
{
    switch (method) {
    case Euler: {
        if (!volume)
            return pos;
        const Vector3 d = unitDirection(volume->sampleDir(pos.x, pos.y, pos.z));
        return pos + d * dt;
    }
    case RungeKutta: {
        if (!volume)
            return pos;
        const Vector3 d1 = unitDirection(volume->sampleDir(pos.x, pos.y, pos.z));
        // The midpoint is sampled even when it lies outside (the flow is zero there).
        const Vector3 mid = pos + (d1 * dt) * 0.5;
        const Vector3 d2 = unitDirection(volume->sampleDir(mid.x, mid.y, mid.z));
        return pos + d2 * dt;
    }
    default:
        return Vector3();
    }
}
