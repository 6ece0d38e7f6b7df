#include "app/window_placement.hpp"

#include <algorithm>

namespace q70::app {

using window::Rect;
using window::Size;

namespace {

int shiftInto(int low, int high, int areaLow, int areaHigh) {
    if (high > areaHigh) return areaHigh - high;  // up or left
    if (low < areaLow) return areaLow - low;
    return 0;
}

}  // namespace

Rect keepInside(const Rect& window, const Rect& area) {
    if (area.width() <= 0 || area.height() <= 0) return window;
    Rect r = window;
    int dx = shiftInto(r.left, r.right, area.left, area.right);
    int dy = shiftInto(r.top, r.bottom, area.top, area.bottom);
    // Too big for the area: its caption and left edge stay reachable.
    if (r.left + dx < area.left) dx = area.left - r.left;
    if (r.top + dy < area.top) dy = area.top - r.top;
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
    return r;
}

Rect cascadeAfter(const Rect& previous, const Size& size, const Rect& area) {
    Rect r{previous.left + kCascadeStepPx, previous.top + kCascadeStepPx, 0, 0};
    r.right = r.left + size.width;
    r.bottom = r.top + size.height;
    const bool hasArea = area.width() > 0 && area.height() > 0;
    if (hasArea && (r.right > area.right || r.bottom > area.bottom)) {
        r = {area.left, area.top, area.left + size.width, area.top + size.height};
    }
    return hasArea ? keepInside(r, area) : r;
}

int largestFitting(int largest, int smallest, const Rect& area,
                   const std::function<Size(int)>& sizeAt) {
    if (area.width() <= 0 || area.height() <= 0) return largest;
    for (int scale = largest; scale > smallest; --scale) {
        const Size s = sizeAt(scale);
        if (s.width <= area.width() && s.height <= area.height()) return scale;
    }
    return std::min(largest, smallest);
}

}  // namespace q70::app
