#pragma once

#include "data/SinglePrecision.h"

#include <QColor>
#include <QRgb>

#include <cmath>

// The pressure colour ramp shared by the arrow plot's background and its colour bar: a straight
// line in RGB from yellow (ramp position 0, low pressure) to dark grey (position 1, high pressure).
//
// The roundings are part of the picture: each channel is computed in double, rounded to single
// precision and only then floored, so neighbouring columns of the colour bar land on the same
// integers every time.

namespace ramp {

// One channel of the ramp: floor of a single-precision value, clamped into 0 ... 255.
// Beyond t = 255/194 red and green would go negative; NaN (a NaN pressure) gives 0.
inline int channel(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<int>(v); // positive here: truncation is the floor
}

// The ramp colour at position t as an opaque 0xAARRGGBB value (what image scanlines hold).
inline QRgb rgbAt(double t)
{
    const float rg = roundToSingle(255.0 - 194.0 * t);
    const float b = roundToSingle(61.0 * t);
    const int c = channel(rg);
    return qRgb(c, c, channel(b));
}

} // namespace ramp

// Ramp position of a pressure: |(p + 4) * 2/13|, each step rounded to single precision.
// The scale is fixed (-4 ... 2.5 maps to 0 ... 1) and mirrored about -4.
inline double pressureToRamp(float pressure)
{
    const float shifted = pressure + 4.0f;
    const float scaled = roundToSingle(static_cast<double>(shifted) * 0.15384615384615385);
    return std::fabs(static_cast<double>(scaled));
}

// The ramp colour at position t (alpha 255); channels outside 0 ... 255 are clamped.
inline QColor colorFromRamp(double t)
{
    return QColor(ramp::rgbAt(t));
}

namespace ramp {

// Pressure straight to the scanline value: pressureToRamp, then the ramp colour.
inline QRgb pressureRgb(float pressure)
{
    return rgbAt(pressureToRamp(pressure));
}

} // namespace ramp
