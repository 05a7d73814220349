#include "Integrate.h"

#include "Volume.h"

Vector3 integrate(Vector3 pos, double dt, int method, const Volume *volume)
{
    switch (method) {
    case Euler: {
        if (!volume)
            return pos;
        const Vector3 d = volume->sampleDir(pos.x, pos.y, pos.z).normalized();
        return pos + d * dt;
    }
    case RungeKutta: {
        if (!volume)
            return pos;
        const Vector3 d1 = volume->sampleDir(pos.x, pos.y, pos.z).normalized();
        // The midpoint is sampled even when it lies outside (the flow is zero there).
        const Vector3 mid = pos + (d1 * dt) * 0.5;
        const Vector3 d2 = volume->sampleDir(mid.x, mid.y, mid.z).normalized();
        return pos + d2 * dt;
    }
    default:
        return Vector3();
    }
}
