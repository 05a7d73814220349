#pragma once

#include "data/ViewRect.h"

#include <QPoint>
#include <Qt>

// The mouse navigation both views share: the view rectangle, the Ctrl state the dialog
// reports, the zoom level and the drag in progress. A right click zooms in about the centre,
// or out while Ctrl is held; a left drag moves the view one grid unit per pixel, against the
// mouse. The widget passes its events on and decides what to redraw.
class ViewNavigator
{
public:
    // What a button press did.
    enum class Press {
        None,        // another button, or a zoom beyond the level limits
        ZoomedIn,
        ZoomedOut,
        ZoomRefused, // the rules' smallest extent would be undercut; the view is unchanged
        DragStarted,
    };

    // maxZoom 0: no zoom level limit (the level then stays 1).
    explicit ViewNavigator(const ViewRules &rules, int maxZoom = 0) : mRules(rules), mMaxZoom(maxZoom) {}

    // The full view (0, 0, w, h), zoom level 1, Ctrl released, no drag.
    void reset(int w, int h);

    // w x h: the widget's size in pixels, which sets the zoom step.
    Press press(Qt::MouseButton button, QPoint pos, int w, int h);
    // True when a drag is in progress (the view then moved by the distance since the last
    // position, possibly by nothing).
    bool move(QPoint pos);
    void release() { mDragging = false; }

    void setCtrlPressed(bool pressed) { mCtrlPressed = pressed; }

    const ViewRules &rules() const { return mRules; }
    int maxZoom() const { return mMaxZoom; }

    // Public, so that the views can alias them under their own names.
    ViewRect view;
    int zoom = 1;
    bool mCtrlPressed = false;
    bool mDragging = false;
    QPoint mLastMousePos;

private:
    ViewRules mRules;
    int mMaxZoom;
};
