// Where the pills of the pill shape go on every screen: a left pill behind the front app's menu items and,
// with the sides set apart, a right pill behind the status items. Each computation starts from scratch
// and publishes the whole map, keyed by screen identifier.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/MenuBarItems.h"
#include "platform/Screens.h"
#include "settings/CornerSettings.h"
#include "settings/OverlaySettings.h"
#include "settings/ValueTypes.h"

namespace velaro {

// The front app's menu items measured on one screen: their extent from that screen's left edge.
struct MenuExtent {
    double minX = 0;
    double maxX = 0;
    ScreenInfo screen;
};

// The camera housing's ends, in points from the screen's left edge.
struct NotchSpan {
    double left = 0;
    double right = 0;
};

// The union of the items larger than 2 × 2 points, located on the screen that holds its centre (else the
// first screen). `primaryHeight` converts top-left y to the screens' y-up frames.
std::optional<MenuExtent> menuExtentFromItems(const std::vector<std::optional<Rect>>& items,
                                              const std::vector<ScreenInfo>& screens, double primaryHeight);

// One screen's pills from the menu extent (already measured, shared by every screen) and the status
// windows. Which windows are status items is judged in the screen's device pixels (its backing scale), the
// unit the panel is sized in; an item belongs to the screen its frame's middle is on, and the pills end at
// the screen's edges and where the items' reach ends.
PillGeometry pillGeometryForScreen(const ScreenInfo& screen, const std::optional<MenuExtent>& menu,
                                   const std::vector<MenuBarItemWindow>& windows, double primaryHeight,
                                   const CornerSettings& corners, const std::optional<NotchSpan>& notch);

class MenuShapeGeometry {
public:
    using ScreenList = std::function<std::vector<ScreenInfo>()>;

    // `screens` yields the screen list, primary first; `items` outlives this object. Besides the computations
    // it is asked for, it computes again whenever the status area changes (an item docking late, say).
    MenuShapeGeometry(ScreenList screens, MenuBarItems& items, std::function<CornerSettings()> corners,
                      std::function<void(PillGeometryByScreen)> publish);

    // Measures every screen and publishes the map once (empty without screens).
    void computePillGeometries();
    // The front app's menu extent, or nothing.
    std::optional<MenuExtent> menuBarItemFrames(const std::vector<ScreenInfo>& screens,
                                                double primaryHeight) const;

private:
    ScreenList screens_;
    MenuBarItems& items_;
    std::function<CornerSettings()> corners_;
    std::function<void(PillGeometryByScreen)> publish_;
    Subscription statusArea_;
};

}  // namespace velaro
