#include "arrowplot/ui/ArrowPlot.h"

#include "arrowplot/ArrowRender.h"
#include "data/ui/Busy.h"
#include "data/ui/ProgressDialog.h"
#include "data/Progress.h"
#include "data/ui/Volumes.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kWidth = arrowrender::kPlotWidth;
constexpr int kHeight = arrowrender::kPlotHeight;
constexpr int kMaxZoom = 15; // zoom levels 1 ... 15
} // namespace

ArrowPlot::ArrowPlot(QWidget *parent)
    : QWidget(parent), mNav(ViewRules::arrowPlot(), kMaxZoom), mViewVolume(nullptr), mArrowColor()
{
    ProgressDialog::install(); // the computations this starts show their progress as dialogs
    setMinimumSize(kWidth, kHeight);
    setMaximumSize(kWidth, kHeight);
    setWindowTitle(QStringLiteral(".:Korvu:. Beispiel 2 :: Arrow Plot"));
    resetParameters();
}

ArrowPlot::~ArrowPlot()
{
    delete mViewVolume;
}

void ArrowPlot::resetParameters()
{
    mNav.reset(width(), height());
    mFixedLength = ArrowPlotDefaults::kFixedLength;
    mShowPressure = ArrowPlotDefaults::kShowPressure;
    mShowArrows = ArrowPlotDefaults::kShowArrows;
    mCellWidth = 1.0f;
    mCellHeight = 1.0f;
    setArrowColor(ArrowPlotDefaults::kBlackArrows);
    viewChanged();
}

void ArrowPlot::viewChanged()
{
    mColorsValid = false;
    ++mViewRevision;
}

void ArrowPlot::updateScale()
{
    const arrowrender::ArrowScale scale =
        arrowrender::arrowScaleFor(width(), height(), viewX1(), viewY1(), viewX2(), viewY2(), mNav.zoom, mFixedLength);
    mCellWidth = scale.cellWidth;
    mCellHeight = scale.cellHeight;
    mPixelsPerUnitX = scale.pixelsPerUnitX;
    mPixelsPerUnitY = scale.pixelsPerUnitY;
}

void ArrowPlot::createViewVolume()
{
    if (Busy::isBusy()) {
        qDebug() << "Arrow plot: busy, the view copy is left as it is.";
        return;
    }
    rebuildViewVolume();
}

void ArrowPlot::rebuildViewVolume()
{
    const int vw = std::max(viewX2() - viewX1(), 1);
    const int vh = std::max(viewY2() - viewY1(), 1);
    const Volume *grid = gridVolume;
    // A view of the same size is overwritten in place: every pan step would otherwise hand
    // megabytes of fresh pages to the copy.
    const bool reuse = mViewVolume && mViewVolume->getDimX() == vw && mViewVolume->getDimY() == vh
                       && mViewVolume->pointCount() > 0
                       && (!grid || grid->store().stride() == mViewVolume->store().stride());
    if (!reuse) {
        delete mViewVolume;
        mViewVolume = new Volume(vw, vh, 1);
    }
    arrowrender::copyViewCells(grid, viewX1(), viewY1(), *mViewVolume);
}

void ArrowPlot::drawArrowPlot()
{
    if (Busy::isBusy()) {
        // A load or a rendering is under way and processing events: draw once it has ended.
        Busy::whenIdle(this, [this] { drawArrowPlot(); });
        return;
    }
    Busy::Scope busy;
    render();
}

void ArrowPlot::render()
{
    const int w = width();
    const int h = height();

    if (!loadedVolume) {
        arrowrender::prepareArrowImage(mImage, w, h, nullptr);
        QPainter painter(&mImage);
        arrowrender::paintNoData(painter, QRect(0, 0, w, h));
        painter.end();
        repaint();
        return;
    }

    const Volume *grid = gridVolume;
    if (!grid || grid->pointCount() == 0) {
        if (!mReportedNoGrid)
            qDebug() << "Arrow plot: the regular grid holds no points; the plot stays empty.";
        mReportedNoGrid = true;
    } else {
        mReportedNoGrid = false;
    }

    rebuildViewVolume();
    updateScale();

    // Events may be processed while the background is computed; settings changed meanwhile
    // take effect with the deferred rendering that follows, not half way through this one.
    const quint64 revision = mViewRevision;
    const bool showPressure = mShowPressure;
    const bool showArrows = mShowArrows;
    const QColor arrowColor = mArrowColor;
    const arrowrender::ArrowScale scale = arrowScale();
    const int vw = mViewVolume->getDimX();

    if (showPressure) {
        // The cache also has to match the data: after a new dataset has been loaded into the
        // same view, the old background would lie under the new arrows.
        const quint64 source = arrowrender::pressureFingerprint(*mViewVolume);
        if (mColorsValid && source != mColorSource)
            mColorsValid = false;
        if (!mColorsValid) {
            Progress progress(QStringLiteral("Calculating Colors ..."), 0, vw);
            arrowrender::computePressureBackground(mColorImage, w, h, *mViewVolume, scale.cellWidth,
                                                   scale.cellHeight, &progress);
            progress.setValue(vw + 10);
            progress.close();
            mColorSource = source;
            mColorsValid = revision == mViewRevision;
        }
    }

    // Only now is the shown image touched: a paint during the computation shows the last one.
    arrowrender::prepareArrowImage(mImage, w, h, showPressure ? &mColorImage : nullptr);
    QPainter painter(&mImage);
    if (showArrows) {
        const int skipped = arrowrender::paintArrowLayer(painter, *mViewVolume, scale, arrowColor);
        if (skipped > 0)
            qDebug() << "Arrow plot:" << skipped << "arrows with a non-finite flow vector not drawn.";
    }
    painter.end();
    repaint();
}

arrowrender::ArrowScale ArrowPlot::arrowScale() const
{
    // The scale of the last updateScale() (the arrow length rule may have changed since).
    arrowrender::ArrowScale scale;
    scale.cellWidth = mCellWidth;
    scale.cellHeight = mCellHeight;
    scale.pixelsPerUnitX = mPixelsPerUnitX;
    scale.pixelsPerUnitY = mPixelsPerUnitY;
    scale.fixedLength = mFixedLength;
    return scale;
}

void ArrowPlot::drawArrow(QPainter &painter, int x, int y, float dx, float dy)
{
    const arrowrender::ArrowScale scale = arrowScale();
    arrowrender::drawArrow(painter, x, y, dx, dy, scale);
}

void ArrowPlot::setCtrlPressed(bool pressed)
{
    mNav.setCtrlPressed(pressed);
}

void ArrowPlot::setShowArrows(bool show)
{
    mShowArrows = show;
}

void ArrowPlot::setFixedLength(bool fixed)
{
    mFixedLength = fixed;
}

void ArrowPlot::setShowPressure(bool show)
{
    mShowPressure = show;
}

void ArrowPlot::setArrowColor(bool black)
{
    mArrowColor = black ? QColor(0, 0, 0) : QColor(255, 255, 255);
}

void ArrowPlot::mousePressEvent(QMouseEvent *event)
{
    const ViewNavigator::Press done =
        mNav.press(event->button(), event->position().toPoint(), width(), height());
    if (done == ViewNavigator::Press::ZoomedIn || done == ViewNavigator::Press::ZoomedOut) {
        viewChanged();
        drawArrowPlot();
    }
}

void ArrowPlot::mouseMoveEvent(QMouseEvent *event)
{
    // One pixel of mouse movement moves the view by one cell, whatever the zoom level.
    if (!mNav.move(event->position().toPoint()))
        return;
    viewChanged();
    drawArrowPlot();
}

void ArrowPlot::mouseReleaseEvent(QMouseEvent *)
{
    mNav.release();
}

void ArrowPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(rect(), mImage);
    painter.end();
}
