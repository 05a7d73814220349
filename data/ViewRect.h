#pragma once

// The visible part of a grid's index space (left, top, right, bottom), in grid units, and the
// zoom and drag rules of the two views that show one.

// Half-open: columns x1 ... x2 - 1 and rows y1 ... y2 - 1 are visible.
struct ViewRect
{
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;

    int width() const { return x2 - x1; }
    int height() const { return y2 - y1; }
    bool operator==(const ViewRect &o) const { return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2; }
    bool operator!=(const ViewRect &o) const { return !(*this == o); }
};

// Every zoom click moves each edge by about a thirtieth of the widget's size (in pixels,
// whatever the zoom) and a drag moves the view one grid unit per pixel. The views differ in
// how the step is rounded and how the corners are kept far from int overflow.
struct ViewRules
{
    enum class Step {
        WholeUnits,      // round(size / 30) whole units (arrow plot)
        SinglePrecision, // size / 30 in single precision, each sum truncated (streamline view)
    };
    enum class Limit {
        ShiftTogether, // a drag moves both edges of an axis by the same amount, stopping at +-limit
        EachCorner,    // every corner on its own is clamped into +-limit
    };
    Step step;
    Limit limit;
    int bound;     // the +-limit, in grid units; at most INT_MAX / 2, so that a width is an int
    // A zoom in that leaves a narrower or lower view is refused (0: never). Below 2 units the
    // streamline view's pixel mapping would divide by zero or turn the picture inside out.
    int minExtent;

    static ViewRules arrowPlot() { return {Step::WholeUnits, Limit::ShiftTogether, 1 << 28, 0}; }
    // The corners stay within +-(2^30 - 1), so that a width or height (up to 2^31 - 2) is still
    // an int after any zooming out and dragging.
    static ViewRules streamlines() { return {Step::SinglePrecision, Limit::EachCorner, (1 << 30) - 1, 2}; }
};

// Zooms in (in = true: every edge moves inwards) or out for a widget of w x h pixels.
// Returns false, leaving the view as it is, when the zoom in is refused.
bool zoomView(ViewRect &view, bool in, int w, int h, const ViewRules &rules);

// Moves the view by (dx, dy) grid units.
void dragView(ViewRect &view, int dx, int dy, const ViewRules &rules);
