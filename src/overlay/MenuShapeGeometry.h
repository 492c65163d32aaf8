// Where the pills of the pill shape go on every screen: a left pill behind the front app's menu items and,
// with the sides set apart, a right pill behind the status items. Each computation measures afresh and
// publishes the whole map, keyed by screen identifier; only a right pill whose status items went away for a
// moment is kept from before.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"
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

    // How long, in seconds, a screen's right pill stays where it was once its status items are gone while
    // its panel shows. A panel that reloads or restarts (whenever its user edits it) lets go of its tray,
    // then of itself, and its new tray takes the icons again well within this of the new panel showing;
    // without a pill to cut to, the overlay would show the whole band meanwhile. A tray away for longer was
    // taken off the panel: the screen then shows what it shows for a panel without one.
    static constexpr double kStatusItemsReturnTime = 5;

    // `screens` yields the screen list, primary first; `items` and `loop` outlive this object. Besides the
    // computations it is asked for, it computes again whenever the status area changes (an item docking
    // late, say), and when a kept pill's time is up. Give it the screens' changes too: a panel's return
    // starts the time its tray has to come back.
    MenuShapeGeometry(ScreenList screens, MenuBarItems& items, MainLoop& loop,
                      std::function<CornerSettings()> corners,
                      std::function<void(PillGeometryByScreen)> publish);

    // Measures every screen and publishes the map once (empty without screens).
    void computePillGeometries();
    // The front app's menu extent, or nothing.
    std::optional<MenuExtent> menuBarItemFrames(const std::vector<ScreenInfo>& screens,
                                                double primaryHeight) const;

private:
    // Since when each screen whose right pill is kept has shown its panel without status items (uptime);
    // absent while it shows no panel, as during a panel's restart.
    using GoneSince = std::map<std::string, std::optional<double>>;
    // The right pill published last on a screen whose status items are gone, while they have had less than
    // kStatusItemsReturnTime to come back, noted in `goneSince`; else nothing.
    std::optional<PillSpan> keptStatusPill(const ScreenInfo& screen, double now, GoneSince& goneSince) const;

    ScreenList screens_;
    MenuBarItems& items_;
    MainLoop& loop_;
    std::function<CornerSettings()> corners_;
    std::function<void(PillGeometryByScreen)> publish_;
    Subscription statusArea_;
    PillGeometryByScreen published_;
    GoneSince statusItemsGoneSince_;
    Cancellable keptPillsEnd_;
};

}  // namespace velaro
