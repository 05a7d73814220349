#include "ColorBar.h"

#include "ColorRamp.h"

#include <QPainter>

namespace {
// Widget pixels: the bar's rows and the three column bands.
constexpr int kBarTop = 30;
constexpr int kBarRows = 40;
constexpr int kLowCapEnd = 15;   // columns 0 ... 14: low colour
constexpr int kRampEnd = 155;    // columns 15 ... 154: the ramp
constexpr int kHighCapEnd = 170; // columns 155 ... 169: high colour
} // namespace

ColorBar::ColorBar(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(180, 70);
    setMaximumSize(180, 70);
}

ColorBar::~ColorBar() = default;

void ColorBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Initial pen and font: the widget's foreground colour and font.
    painter.drawText(0, 20, QStringLiteral("Low Pressure"));
    painter.drawText(102, 20, QStringLiteral("High Pressure"));

    // Whole columns at a time: without render hints an integer rectangle fill covers exactly
    // the pixels that point-by-point drawing would.
    painter.fillRect(0, kBarTop, kLowCapEnd, kBarRows, QColor(255, 255, 0));
    for (int x = kLowCapEnd; x < kRampEnd; ++x)
        painter.fillRect(x, kBarTop, 1, kBarRows, colorFromRamp(static_cast<double>(x - kLowCapEnd) / 139.0));
    painter.fillRect(kRampEnd, kBarTop, kHighCapEnd - kRampEnd, kBarRows, QColor(61, 61, 61));
}
