#pragma once

// A position, flow vector or streamline point: three doubles, copied by value.
struct Vector3
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vector3() = default;
    Vector3(double px, double py, double pz) : x(px), y(py), z(pz) {}

    Vector3 operator+(const Vector3 &o) const { return Vector3(x + o.x, y + o.y, z + o.z); }
    Vector3 operator-(const Vector3 &o) const { return Vector3(x - o.x, y - o.y, z - o.z); }
    Vector3 operator*(double s) const { return Vector3(x * s, y * s, z * s); }
    // One reciprocal, three products: callers rely on this rounding.
    Vector3 operator/(double d) const
    {
        const double f = 1.0 / d;
        return Vector3(x * f, y * f, z * f);
    }
    bool operator==(const Vector3 &o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Vector3 &o) const { return !(*this == o); }

    double length() const;
    // Unit vector, or the zero vector when the length is exactly 0.
    Vector3 normalized() const;
    // Turns the vector about z by `degrees`; each new component is clamped to [-1, 1],
    // so this is meant for unit directions only.
    void rotateZ(double degrees);
};
