#pragma once
// Where windows go on the screen: kept inside the usable area, and new test-image windows
// stepped away from the last one so that none hides another exactly.

#include <functional>

#include "window/window_view.hpp"

namespace q70::app {

// How far each new test-image window is stepped from the previous one.
inline constexpr int kCascadeStepPx = 28;

// The window moved (not resized) as little as needed to lie inside the area; a window
// taller or wider than the area keeps its top-left corner in it. An empty area changes
// nothing.
window::Rect keepInside(const window::Rect& window, const window::Rect& area);

// The top-left corner for a new window of `size` after one at `previous`: one step down
// and right, back to the area's top-left corner when that would leave the area.
window::Rect cascadeAfter(const window::Rect& previous, const window::Size& size,
                          const window::Rect& area);

// Of the scales from `largest` down to `smallest` (font heights, say), the largest at
// which a window of `sizeAt(scale)` fits inside the area: a layout made for a bigger screen
// shrinks until it fits, but never below `smallest`. An empty area takes `largest`.
int largestFitting(int largest, int smallest, const window::Rect& area,
                   const std::function<window::Size(int)>& sizeAt);

}  // namespace q70::app
