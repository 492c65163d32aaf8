// Screen geometry helpers (menu-bar height, the area below the bar, identifiers) and `ScreenTopology`, the
// cache of the screen list that the app's services own and hand to whoever reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "platform/Screens.h"

namespace velaro {

class Workspace;

// Height of the screen's menu bar (its top panel) in points: the part of the frame above the visible frame,
// else `statusBarThickness` when the screen has no panel.
double menuBarHeight(const ScreenInfo& screen, double statusBarThickness);

// Whether the screen shows a menu bar: its visible frame stops below its frame's top.
bool showsMenuBar(const ScreenInfo& screen);

// The screen below its menu bar in top-left global points (y down), given the maximum y of the primary
// screen's frame; absent when the screen's geometry leaves nothing there.
std::optional<Rect> areaBelowMenuBar(const ScreenInfo& screen, double primaryMaxY);

// The screen's frame in top-left global points.
Rect topLeftFrame(const ScreenInfo& screen, double primaryMaxY);

// Radius of the display's rounded corners. Monitors here do not report one.
inline constexpr double defaultDisplayCornerRadius = 32.0;
inline double displayCornerRadius(const ScreenInfo&) {
    return defaultDisplayCornerRadius;
}

// The camera housing of the screen; monitors here never have one. Everything downstream that makes room for
// a housing (the pill ending at it, the band's fade and hairline around it, the Advanced page's notch rows)
// is kept as the product describes it, so that it works the day a screen reports one, though none does now.
inline std::optional<Rect> notchRect(const ScreenInfo&) {
    return std::nullopt;
}

// The stable identifier of the screen, absent when the monitor has none.
inline std::optional<std::string> displayID(const ScreenInfo& screen) {
    if (screen.id.empty()) return std::nullopt;
    return screen.id;
}

// The current screen with that display number, read from the live list rather than the cache.
std::optional<ScreenInfo> screenForDisplayNumber(const Screens& screens, std::uint32_t number);

// The cached screen list. It is read again only after the screens changed or the session woke, and only
// when somebody asks.
class ScreenTopology {
public:
    // `workspace` may be null; then only screen changes mark the cache stale.
    explicit ScreenTopology(Screens& screens, Workspace* workspace = nullptr);

    const std::vector<ScreenInfo>& screens();
    // The screen is in the cached list and shows a menu bar there.
    bool contains(const ScreenInfo& screen);
    // The cached screens that show a menu bar, in list order.
    std::vector<ScreenInfo> screenDescriptions();

private:
    Screens& source_;
    std::vector<ScreenInfo> screens_;
    bool stale_ = true;
    std::vector<Subscription> observers_;
};

}  // namespace velaro
