#pragma once

#include "arrowplot/ArrowRender.h"
#include "data/ui/ViewNavigator.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

class QPainter;
class Volume;

// The arrow plot's settings after a reset; the dialog's controls start from them too.
struct ArrowPlotDefaults
{
    static constexpr bool kShowArrows = true;
    static constexpr bool kFixedLength = true; // the dialog's "Show Intensity of Flow" unticked
    static constexpr bool kShowPressure = false;
    static constexpr bool kBlackArrows = false;
};

// The hedgehog plot of the regular grid (gridVolume): arrows on a coarse lattice of grid
// cells, optionally over a background that paints every cell in its pressure colour.
//
// The view is a half-open rectangle of grid cells (columns viewX1() ... viewX2() - 1, rows
// viewY1() ... viewY2() - 1) that may lie partly or wholly outside the grid. One view cell is
// mCellWidth x mCellHeight pixels of the fixed 314 x 538 widget. Right clicks zoom in (Ctrl,
// as reported by the dialog, zooms out) by whole cells about the centre; a left drag moves the
// view one cell per pixel. The pressure background is kept between renderings until the view
// changes.
//
// Every rendering holds the program's Busy guard; a rendering requested while anything is
// busy (a dataset load, or this plot's own rendering processing events) is deferred until the
// program is idle, and then draws the state as it is by then.
class ArrowPlot : public QWidget
{
    Q_OBJECT
public:
    explicit ArrowPlot(QWidget *parent = nullptr);
    ~ArrowPlot() override;

    // Restores the default settings and the full view (0, 0, width(), height()); does not draw.
    void resetParameters();
    // Cell size and arrow scale from the widget size, the view and the zoom level.
    void updateScale();
    // Replaces the copy of the viewed cells of gridVolume (the all-zero point outside it).
    // Refused while the program is busy: the grid may be missing or half filled then.
    void createViewVolume();
    // Computes the picture from scratch and repaints at once (deferred while busy).
    void drawArrowPlot();
    // Draws one arrow with its tail at pixel (x, y) for the flow vector (dx, dy), at the
    // current scale, with the painter's pen.
    void drawArrow(QPainter &painter, int x, int y, float dx, float dy);

    // Settings: the caller redraws afterwards. None of them drops the cached background.
    void setCtrlPressed(bool pressed);
    void setShowArrows(bool show);
    void setFixedLength(bool fixed);
    void setShowPressure(bool show);
    void setArrowColor(bool black);

    int viewX1() const { return mNav.view.x1; }
    int viewY1() const { return mNav.view.y1; }
    int viewX2() const { return mNav.view.x2; }
    int viewY2() const { return mNav.view.y2; }
    int zoom() const { return mNav.zoom; }
    bool ctrlPressed() const { return mNav.mCtrlPressed; }
    bool dragging() const { return mNav.mDragging; }
    bool fixedLength() const { return mFixedLength; }
    bool showPressure() const { return mShowPressure; }
    bool showArrows() const { return mShowArrows; }
    bool colorsValid() const { return mColorsValid; }
    float pixelsPerUnitX() const { return mPixelsPerUnitX; }
    float pixelsPerUnitY() const { return mPixelsPerUnitY; }
    float cellWidth() const { return mCellWidth; }
    float cellHeight() const { return mCellHeight; }
    QColor arrowColor() const { return mArrowColor; }
    const Volume *viewVolume() const { return mViewVolume; }
    const QImage &image() const { return mImage; }
    const QImage &colorImage() const { return mColorImage; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    arrowrender::ArrowScale arrowScale() const;
    void render();
    void rebuildViewVolume();
    // The view changed: the cached background no longer matches it.
    void viewChanged();

    // The view rectangle, zoom level (1 ... 15), Ctrl state and drag.
    ViewNavigator mNav;
    bool mFixedLength = true;
    bool mShowPressure = false;
    bool mShowArrows = true;
    bool mColorsValid = false;
    float mPixelsPerUnitX = 0.0f;
    float mPixelsPerUnitY = 0.0f;
    float mCellWidth = 1.0f;
    float mCellHeight = 1.0f;
    Volume *mViewVolume;
    QImage mImage;
    QImage mColorImage;
    QColor mArrowColor;

    // Counts view changes, so that a background computed while the view changed under it
    // (events are processed while it runs) is not taken for the new view's.
    quint64 mViewRevision = 0;
    // Fingerprint of the pressures the cached background was computed from.
    quint64 mColorSource = 0;
    bool mReportedNoGrid = false;
};
