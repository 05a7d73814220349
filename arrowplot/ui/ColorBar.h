#pragma once

#include <QWidget>

// The legend of the pressure background: "Low Pressure" ... "High Pressure" over a 170 x 40
// bar that runs through the colour ramp (15 columns of the low colour, 140 of ramp, 15 of the
// high colour). Fixed at 180 x 70 pixels; it holds no state.
class ColorBar : public QWidget
{
public:
    explicit ColorBar(QWidget *parent = nullptr);
    ~ColorBar() override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
