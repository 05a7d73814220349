#include "tools/Flows.h"

#include "data/DatasetFiles.h"

#include <cmath>

namespace flows {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The channel's domain: the arrow plot's fixed domain.
constexpr double kChannelMinX = 0.3299, kChannelMaxX = 11.6701;
constexpr double kChannelMinY = 0.3299, kChannelMaxY = 18.77217;

// Maps u in [0, 1] onto [0, 1] with points crowded towards both ends (the channel walls).
double wallStretch(double u)
{
    return u - 0.6 * std::sin(2.0 * kPi * u) / (2.0 * kPi);
}

double lerp(double a, double b, double u) { return a + (b - a) * u; }

double unit(int i, int n) { return n > 1 ? double(i) / double(n - 1) : 0.0; }

// Potential flow along +y past a cylinder of radius r at (cx, cy), unit speed far away.
void cylinderFlow(double x, double y, double &u, double &v)
{
    const double cx = 6.0, cy = 6.0, r = 1.0;
    const double X = x - cx, Y = y - cy;
    const double r2 = X * X + Y * Y;
    if (r2 < r * r) {
        u = v = 0.0;
        return;
    }
    const double r4 = r2 * r2;
    u = -2.0 * r * r * X * Y / r4;
    v = 1.0 - r * r * (Y * Y - X * X) / r4;
}

// A vortex with a smooth core: circulation g, core radius c.
void vortex(double x, double y, double cx, double cy, double g, double c, double &u, double &v)
{
    const double X = x - cx, Y = y - cy;
    const double r2 = X * X + Y * Y;
    const double k = r2 > 0.0 ? g / (2.0 * kPi * r2) * (1.0 - std::exp(-r2 / (c * c))) : 0.0;
    u += -k * Y;
    v += k * X;
}

// Two counter-rotating vortices on [0, 10] x [0, 10], at grid point (i, j) of nx x ny.
void vorticesAt(int i, int j, int nx, int ny, double &u, double &v)
{
    const double x = lerp(0.0, 10.0, unit(i, nx));
    const double y = lerp(0.0, 10.0, unit(j, ny));
    vortex(x, y, 3.5, 5.0, 6.0, 0.8, u, v);
    vortex(x, y, 6.5, 5.0, -6.0, 0.8, u, v);
}

} // namespace

void vorticesFlow(int i, int j, Size size, float dir[2])
{
    double u = 0.0, v = 0.0;
    vorticesAt(i, j, size.x, size.y, u, v);
    dir[0] = float(u);
    dir[1] = float(v);
}

QStringList kinds()
{
    return {QStringLiteral("channel"), QStringLiteral("vortices"), QStringLiteral("saddle"), QStringLiteral("uniform")};
}

Size defaultSize(const QString &kind)
{
    if (kind == QLatin1String("channel"))
        return {314, 538};
    if (kind == QLatin1String("vortices"))
        return {300, 300};
    if (kind == QLatin1String("saddle"))
        return {128, 128};
    if (kind == QLatin1String("uniform"))
        return {100, 100};
    return {};
}

int channelCount(const QString &kind)
{
    return kind == QLatin1String("channel") ? 2 : 1;
}

bool write(const QString &kind, const QString &gridFileName, Size size)
{
    const Size def = defaultSize(kind);
    if (def.x == 0)
        return false;
    if (size.x <= 0 || size.y <= 0)
        size = def;
    const int nx = size.x, ny = size.y;
    const int channels = channelCount(kind);

    dataset::PointFiller fill;
    if (kind == QLatin1String("channel")) {
        fill = [=](int i, int j, int, float pos[3], float dir[3], float *values) {
            const double x = lerp(kChannelMinX, kChannelMaxX, wallStretch(unit(i, nx)));
            const double y = lerp(kChannelMinY, kChannelMaxY, unit(j, ny));
            double u, v;
            cylinderFlow(x, y, u, v);
            const double speed2 = u * u + v * v;
            // Bernoulli: 0.5 (1 - |u|^2) runs from -1.5 to 0.5; scaled onto -4 ... 2.5.
            const double p = 0.5 * (1.0 - speed2);
            pos[0] = float(x);
            pos[1] = float(y);
            dir[0] = float(u);
            dir[1] = float(v);
            values[0] = float(-4.0 + (p + 1.5) * 0.5 * 6.5);
            values[1] = float(std::sqrt(speed2));
        };
    } else if (kind == QLatin1String("vortices")) {
        fill = [=](int i, int j, int, float pos[3], float dir[3], float *values) {
            pos[0] = float(lerp(0.0, 10.0, unit(i, nx)));
            pos[1] = float(lerp(0.0, 10.0, unit(j, ny)));
            double u = 0.0, v = 0.0;
            vorticesAt(i, j, nx, ny, u, v);
            dir[0] = float(u);
            dir[1] = float(v);
            values[0] = float(-0.5 * (u * u + v * v));
        };
    } else if (kind == QLatin1String("saddle")) {
        fill = [=](int i, int j, int, float pos[3], float dir[3], float *values) {
            const double x = lerp(-1.0, 1.0, unit(i, nx));
            const double y = lerp(-1.0, 1.0, unit(j, ny));
            pos[0] = float(x);
            pos[1] = float(y);
            dir[0] = float(x);
            dir[1] = float(-y);
            values[0] = float(-0.5 * (x * x + y * y));
        };
    } else {
        fill = [=](int i, int j, int, float pos[3], float dir[3], float *values) {
            pos[0] = float(i);
            pos[1] = float(j);
            dir[0] = 1.0f;
            values[0] = 0.0f;
        };
    }
    return dataset::write(gridFileName, nx, ny, 1, channels, fill);
}

} // namespace flows
