#include "streamlines/Integrate.h"

Vector3 flowDirection(const Volume &volume, double x, double y, double z)
{
    return integration::unitDirection(volume.sampleDir(x, y, z));
}

Vector3 integrate(Vector3 pos, double dt, int method, const Volume *volume)
{
    if (method != Euler && method != RungeKutta)
        return Vector3();
    if (!volume)
        return pos;
    return integration::step(pos, dt, method == RungeKutta, *volume);
}
