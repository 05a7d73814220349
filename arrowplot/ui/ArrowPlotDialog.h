#pragma once

#include <QDialog>

class ArrowPlot;
class ColorBar;
class QCheckBox;
class QGridLayout;
class QPushButton;
class QRadioButton;

// The arrow plot window: the plot, a column of controls on its left (arrows on or off and
// their colour, arrow length by flow intensity, the pressure background with its colour bar,
// help on zooming and moving) and "Reset" below the plot. Every control applies its setting
// and redraws the plot at once. The dialog also reports the Ctrl key to the plot, whose right
// clicks zoom out while it is held.
class ArrowPlotDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ArrowPlotDialog(QWidget *parent = nullptr);
    ~ArrowPlotDialog() override;

    // The plot back to its defaults and redrawn; the controls keep their states.
    void refreshPlot();

    ArrowPlot *plot() const { return mView; }
    QPushButton *resetButton() const { return mResetButton; }
    QCheckBox *showArrowsCheck() const { return mShowArrowsCheck; }
    QCheckBox *intensityCheck() const { return mIntensityCheck; }
    QCheckBox *pressureCheck() const { return mPressureCheck; }
    ColorBar *colorBar() const { return mColorBar; }
    QRadioButton *blackRadio() const { return mBlackRadio; }
    QRadioButton *whiteRadio() const { return mWhiteRadio; }

public slots:
    int resetArrowPlot();
    int showArrows();
    int changeLength();
    int changeArrowColor();
    int drawColors();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    QGridLayout *mGridLayout;
    QPushButton *mResetButton;
    QCheckBox *mShowArrowsCheck;
    QCheckBox *mIntensityCheck;
    QCheckBox *mPressureCheck;
    ColorBar *mColorBar;
    QRadioButton *mBlackRadio;
    QRadioButton *mWhiteRadio;
    ArrowPlot *mView;
};
