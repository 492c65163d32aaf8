// Where the items of the menu bar (the top panel) are: the front app's menu items and the status items'
// windows. Rectangles are in top-left global points (origin at the primary screen's top-left, y down).
#pragma once

#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Published.h"

namespace velaro {

// One window of the menu bar's item area as the window list shows it; a value that could not be read is
// absent.
struct MenuBarItemWindow {
    std::optional<int> level;  // an overlay layer: the panel's items lie at OverlayWindowLevel::panel
    std::optional<Rect> bounds;
    // How far along the bar a pill around the item may reach, in the same points: where the bar's other
    // things begin (a task list's buttons). Absent: to the screen's edges.
    std::optional<double> reachMinX, reachMaxX;
};

class MenuBarItems {
public:
    virtual ~MenuBarItems() = default;

    // The frames of the front app's menu-bar items, in order; an item whose frame could not be read is
    // absent. Nothing at all when the menus cannot be read (no permission, no front app, no global menu).
    virtual std::optional<std::vector<std::optional<Rect>>> frontMenuItemFrames() = 0;
    // The windows that may hold status items; empty when the list cannot be read.
    virtual std::vector<MenuBarItemWindow> statusItemWindows() = 0;
    // Told on the main loop when the status area read last may have changed (an item came, went or moved),
    // once for a burst of changes.
    virtual Stream<int> statusAreaChanged() const = 0;
};

}  // namespace velaro
