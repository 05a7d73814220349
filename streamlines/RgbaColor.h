#pragma once

#include <QColor>

#include <cstdint>

// A colour as four signed 32-bit channels (red, green, blue, alpha). Values may run outside
// 0..255 while colours are computed; toQColor() clamps each channel into that range.
struct RgbaColor
{
    int32_t red = 0;
    int32_t green = 0;
    int32_t blue = 0;
    int32_t alpha = 0;

    RgbaColor() = default;
    RgbaColor(int32_t r, int32_t g, int32_t b, int32_t a) : red(r), green(g), blue(b), alpha(a) {}

    QColor toQColor() const
    {
        return QColor(clamp(red), clamp(green), clamp(blue), clamp(alpha));
    }

private:
    static int clamp(int32_t v) { return v > 255 ? 255 : (v < 0 ? 0 : static_cast<int>(v)); }
};
