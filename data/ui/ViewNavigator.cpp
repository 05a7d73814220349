#include "data/ui/ViewNavigator.h"

void ViewNavigator::reset(int w, int h)
{
    view = ViewRect{0, 0, w, h};
    zoom = 1;
    mCtrlPressed = false;
    mDragging = false;
}

ViewNavigator::Press ViewNavigator::press(Qt::MouseButton button, QPoint pos, int w, int h)
{
    if (button == Qt::LeftButton) {
        mDragging = true;
        mLastMousePos = pos;
        return Press::DragStarted;
    }
    if (button != Qt::RightButton)
        return Press::None;
    // The Ctrl state is read once: a rendering processes events, and a Ctrl press arriving
    // meanwhile must not turn the same click into a zoom out as well.
    const bool in = !mCtrlPressed;
    if (mMaxZoom > 0 && (in ? zoom >= mMaxZoom : zoom <= 1))
        return Press::None;
    if (!zoomView(view, in, w, h, mRules))
        return Press::ZoomRefused;
    if (mMaxZoom > 0)
        zoom += in ? 1 : -1;
    return in ? Press::ZoomedIn : Press::ZoomedOut;
}

bool ViewNavigator::move(QPoint pos)
{
    if (!mDragging)
        return false;
    dragView(view, mLastMousePos.x() - pos.x(), mLastMousePos.y() - pos.y(), mRules);
    mLastMousePos = pos;
    return true;
}
