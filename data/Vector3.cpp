#include "data/Vector3.h"

#include <algorithm>
#include <cmath>

double Vector3::length() const
{
    return std::sqrt(x * x + y * y + z * z);
}

Vector3 Vector3::normalized() const
{
    const double len = length();
    if (len == 0.0)
        return Vector3();
    return *this * (1.0 / len);
}

void Vector3::rotateZ(double degrees)
{
    const double r = degrees * (1.0 / 180.0) * 3.1415926535897;
    const double c = std::cos(r);
    const double s = std::sin(r);
    const double nx = c * x - s * y;
    const double ny = c * y + s * x;
    x = std::clamp(nx, -1.0, 1.0);
    y = std::clamp(ny, -1.0, 1.0);
}
