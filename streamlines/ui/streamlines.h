#pragma once

#include "streamlines/EvenlySpacedSeeding.h"
#include "streamlines/StreamlineRender.h"
#include "data/Vector3.h"
#include "data/ui/ViewNavigator.h"

#include <QImage>
#include <QPoint>
#include <QPolygon>
#include <QVector>
#include <QWidget>

// The streamline view: one pixel per grid cell at the initial zoom. It holds every
// streamline parameter (the dialog writes them directly; a change shows at the next
// rendering), renders its picture into mImage with drawStreamLines() and only copies that
// image in its paint handler. Right click zooms in, right click with Ctrl (reported by the
// dialog through setCtrlPressed) zooms out, a left drag moves the view; every button release
// renders anew.
class streamlines : public QWidget
{
    Q_OBJECT
public:
    explicit streamlines(QWidget *parent = nullptr);
    ~streamlines() override;

    // Defaults for every parameter and the full view rectangle, regular seeds, then renders.
    void resetParameters();
    // Rebuilds mImage and mPolylines from the current parameters and repaints. While another
    // computation runs (a dataset load processes events) the rendering waits for its end.
    void drawStreamLines();
    // Starts a seeding run: the regular seed grid over the view rectangle, or the evenly
    // spaced streamlines (which read the grid volume, so that run waits while busy).
    void computeSeedPoints(bool evenlySpaced);

    void setCtrlPressed(bool pressed) { mNav.setCtrlPressed(pressed); }
    QImage getImage() const { return mImage; }

    // The seeding's tests on the grid volume with the view's current parameters.
    bool isValidPoint(double x, double y, double z, float minDistance);
    Streamline traceStreamline(Vector3 seed);
    Vector3 findSeedPoint(Streamline line);

    // Rendering parameters, in grid index units where they are lengths.
    double mDt = streamlineDefaults::kDt;
    bool mAntialiased = false;
    int mMaxLength = streamlineDefaults::kMaxLength;
    int mSeedsX = streamlineDefaults::kSeeds;
    int mSeedsY = streamlineDefaults::kSeeds;
    bool mEvenlySpaced = false;
    float mDSep = streamlineDefaults::kDSep;
    float mDTest = streamlineDefaults::kDTest;
    int mIntegrationMethod = Euler;
    // The view rectangle, Ctrl state and drag, and the same under the view's own names.
    ViewNavigator mNav{ViewRules::streamlines()};
    int &mViewX1 = mNav.view.x1;
    int &mViewY1 = mNav.view.y1;
    int &mViewX2 = mNav.view.x2;
    int &mViewY2 = mNav.view.y2;
    bool &mCtrlPressed = mNav.mCtrlPressed;
    bool &mDragging = mNav.mDragging;
    QPoint &mLastMousePos = mNav.mLastMousePos;
    QImage mImage;
    QVector<QPolygon> mPolylines;
    // The seeds and lines of the last seeding run (regular or evenly spaced), as the
    // renderer draws them.
    QVector<Vector3> mSeedPoints;
    QVector<Streamline> mEvenLines;

    // The evenly spaced seeding's state under the view's own names, read-only.
    const QList<Streamline> &mQueue() const { return mSeeding.queue(); }
    const QVector<Vector3> &mPoints() const { return mSeeding.points(); }
    const SeparationGrid *mGrid() const { return mSeeding.grid(); }
    float mGridWidth() const { return mSeeding.gridWidth(); }
    float mGridHeight() const { return mSeeding.gridHeight(); }

    ViewRect viewRect() const { return mNav.view; }
    void setViewRect(const ViewRect &v) { mNav.view = v; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The evenly spaced seeding: queue, traced points, separation grid and its size.
    EvenlySpacedSeeding mSeeding;

    void computeSeedPointsNow(bool evenlySpaced);
    void drawStreamLinesNow();
    EvenlySpacedSeeding::Parameters seedingParameters() const;
};
