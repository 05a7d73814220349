#include "arrowplot/ui/ColorBar.h"

#include "arrowplot/ArrowRender.h"

#include <QPainter>

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
    arrowrender::paintColorBar(painter);
}
