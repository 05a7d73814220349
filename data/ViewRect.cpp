#include "data/ViewRect.h"

#include "data/SinglePrecision.h"

#include <algorithm>
#include <cmath>

namespace {

int clampCorner(double v, int bound)
{
    if (!(v > -bound)) // also NaN
        return -bound;
    if (v > bound)
        return bound;
    return static_cast<int>(v); // truncation toward zero
}

// Moves the edges a and b of one axis by d, as far as the bound allows.
void shiftEdges(int &a, int &b, int d, int bound)
{
    const long long lo = -static_cast<long long>(bound) - static_cast<long long>(std::min(a, b));
    const long long hi = static_cast<long long>(bound) - static_cast<long long>(std::max(a, b));
    const int step = static_cast<int>(std::clamp<long long>(d, std::min(lo, 0LL), std::max(hi, 0LL)));
    a += step;
    b += step;
}

} // namespace

bool zoomView(ViewRect &view, bool in, int w, int h, const ViewRules &rules)
{
    ViewRect next = view;
    const int sign = in ? 1 : -1;
    if (rules.step == ViewRules::Step::WholeUnits) {
        const int sx = static_cast<int>(std::floor(w / 30.0 + 0.5));
        const int sy = static_cast<int>(std::floor(h / 30.0 + 0.5));
        next.x1 += sign * sx;
        next.y1 += sign * sy;
        next.x2 -= sign * sx;
        next.y2 -= sign * sy;
    } else {
        // The sum is formed in single precision, as the step is, and truncated toward zero.
        const float sx = roundToSingle(w * (1.0 / 30.0)) * static_cast<float>(sign);
        const float sy = roundToSingle(h * (1.0 / 30.0)) * static_cast<float>(sign);
        next.x1 = clampCorner(static_cast<float>(view.x1) + sx, rules.bound);
        next.y1 = clampCorner(static_cast<float>(view.y1) + sy, rules.bound);
        next.x2 = clampCorner(static_cast<float>(view.x2) - sx, rules.bound);
        next.y2 = clampCorner(static_cast<float>(view.y2) - sy, rules.bound);
    }
    if (in && (next.width() < rules.minExtent || next.height() < rules.minExtent))
        return false;
    view = next;
    return true;
}

void dragView(ViewRect &view, int dx, int dy, const ViewRules &rules)
{
    if (rules.limit == ViewRules::Limit::ShiftTogether) {
        shiftEdges(view.x1, view.x2, dx, rules.bound);
        shiftEdges(view.y1, view.y2, dy, rules.bound);
    } else {
        view.x1 = clampCorner(static_cast<double>(view.x1) + dx, rules.bound);
        view.x2 = clampCorner(static_cast<double>(view.x2) + dx, rules.bound);
        view.y1 = clampCorner(static_cast<double>(view.y1) + dy, rules.bound);
        view.y2 = clampCorner(static_cast<double>(view.y2) + dy, rules.bound);
    }
}
