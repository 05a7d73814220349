#include "arrowplot/ui/ArrowPlotDialog.h"

#include "arrowplot/ui/ArrowPlot.h"
#include "arrowplot/ui/ColorBar.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QFrame *makeFrame(int style, int w, int h)
{
    auto *frame = new QFrame;
    frame->setFrameStyle(style);
    frame->setFixedSize(w, h);
    return frame;
}
} // namespace

ArrowPlotDialog::ArrowPlotDialog(QWidget *parent) : QDialog(parent)
{
    mView = new ArrowPlot(this);
    mGridLayout = new QGridLayout;
    auto *buttonRow = new QHBoxLayout;
    auto *controls = new QVBoxLayout;

    mShowArrowsCheck = new QCheckBox(QStringLiteral("Show Arrows"));
    mShowArrowsCheck->setChecked(ArrowPlotDefaults::kShowArrows);
    mIntensityCheck = new QCheckBox(QStringLiteral("Show Intensity of Flow"));
    mIntensityCheck->setChecked(!ArrowPlotDefaults::kFixedLength);
    mPressureCheck = new QCheckBox(QStringLiteral("Show Pressure"));
    mPressureCheck->setChecked(ArrowPlotDefaults::kShowPressure);
    mColorBar = new ColorBar;
    mBlackRadio = new QRadioButton(QStringLiteral("Black"));
    mWhiteRadio = new QRadioButton(QStringLiteral("White"));
    (ArrowPlotDefaults::kBlackArrows ? mBlackRadio : mWhiteRadio)->setChecked(true);

    // Frame styles: 4 is a horizontal line, 2 a panel (the spacers at the top and bottom).
    QFrame *line1 = makeFrame(QFrame::HLine, 175, 50);
    QFrame *line2 = makeFrame(QFrame::HLine, 175, 50);
    QFrame *line3 = makeFrame(QFrame::HLine, 175, 50);
    QFrame *topPanel = makeFrame(QFrame::Panel, 20, 20);
    QFrame *bottomPanel = makeFrame(QFrame::Panel, 20, 110);

    auto *colorRow = new QHBoxLayout;
    colorRow->addWidget(mWhiteRadio);
    colorRow->addWidget(mBlackRadio);

    controls->addWidget(topPanel);
    controls->addWidget(mShowArrowsCheck);
    controls->addWidget(new QLabel(QStringLiteral("Color:")));
    controls->addLayout(colorRow);
    controls->addWidget(line1);
    controls->addWidget(mIntensityCheck);
    controls->addWidget(new QLabel(QStringLiteral("(Adjusts the Length of the Arrows)")));
    controls->addWidget(line2);
    controls->addWidget(mPressureCheck);
    controls->addWidget(mColorBar);
    controls->addWidget(line3);
    controls->addWidget(new QLabel(QStringLiteral("Zoom In: Right Click")));
    controls->addWidget(new QLabel(QStringLiteral("Zoom Out: Ctrl + Right Click")));
    controls->addWidget(new QLabel(QStringLiteral("Move: Left Click + Drag")));
    controls->addWidget(bottomPanel);

    mResetButton = new QPushButton(QStringLiteral("Reset"));
    mResetButton->setFixedSize(80, 25);
    buttonRow->addWidget(mResetButton);

    mGridLayout->addLayout(controls, 1, 0);
    mGridLayout->addWidget(mView, 1, 1);
    mGridLayout->addLayout(buttonRow, 2, 1, Qt::AlignRight);

    connect(mResetButton, &QPushButton::clicked, this, &ArrowPlotDialog::resetArrowPlot);
    connect(mShowArrowsCheck, &QCheckBox::clicked, this, &ArrowPlotDialog::showArrows);
    connect(mIntensityCheck, &QCheckBox::clicked, this, &ArrowPlotDialog::changeLength);
    connect(mPressureCheck, &QCheckBox::clicked, this, &ArrowPlotDialog::drawColors);
    connect(mWhiteRadio, &QRadioButton::clicked, this, &ArrowPlotDialog::changeArrowColor);
    connect(mBlackRadio, &QRadioButton::clicked, this, &ArrowPlotDialog::changeArrowColor);
    setLayout(mGridLayout);
}

ArrowPlotDialog::~ArrowPlotDialog() = default;

void ArrowPlotDialog::refreshPlot()
{
    mView->resetParameters();
    mView->drawArrowPlot();
}

int ArrowPlotDialog::resetArrowPlot()
{
    mShowArrowsCheck->setChecked(ArrowPlotDefaults::kShowArrows);
    mIntensityCheck->setChecked(!ArrowPlotDefaults::kFixedLength);
    mPressureCheck->setChecked(ArrowPlotDefaults::kShowPressure);
    (ArrowPlotDefaults::kBlackArrows ? mBlackRadio : mWhiteRadio)->setChecked(true);
    mView->resetParameters();
    mView->drawArrowPlot();
    return 0;
}

int ArrowPlotDialog::showArrows()
{
    mView->setShowArrows(mShowArrowsCheck->isChecked());
    mView->drawArrowPlot();
    return 0;
}

int ArrowPlotDialog::changeLength()
{
    mView->setFixedLength(!mIntensityCheck->isChecked());
    mView->drawArrowPlot();
    return 0;
}

int ArrowPlotDialog::changeArrowColor()
{
    mView->setArrowColor(!mWhiteRadio->isChecked());
    mView->drawArrowPlot();
    return 0;
}

int ArrowPlotDialog::drawColors()
{
    mView->setShowPressure(mPressureCheck->isChecked());
    mView->drawArrowPlot();
    return 0;
}

void ArrowPlotDialog::keyPressEvent(QKeyEvent *event)
{
    // Only Ctrl matters; every other key stops here, so Escape does not close the dialog.
    if (event->key() == Qt::Key_Control)
        mView->setCtrlPressed(true);
}

void ArrowPlotDialog::keyReleaseEvent(QKeyEvent *)
{
    // Any release ends the zoom-out mode, until Ctrl is pressed again.
    mView->setCtrlPressed(false);
}
