// Where the overlay windows belong in the X11 stack, worked out from a snapshot of the root's children,
// the monitors, the panels, the active window and the desktop window; no X calls here.
//
// Layers: the panel's and the banner's, above everything; below the panel, directly below the top panel of
// the window's monitor (the panel's clock and tray draw over the tint), above everything where a monitor has
// no panel; normal, directly below the window it was ordered below, else below the active window; wallpaper,
// directly above the desktop window, else at the bottom.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Geometry.h"

namespace velaro::x11 {

// A child of the root window, as the stack lists them bottom to top.
struct RootChild {
    std::uint32_t id = 0;
    bool mapped = false;
    bool overrideRedirect = false;
};

// A dock's top-level window (its frame when the window manager reparents it) and its rectangle.
struct Dock {
    std::uint32_t frame = 0;
    Rect rect;  // root pixels, y down
};

struct StackEnvironment {
    std::vector<RootChild> stack;  // bottom to top
    std::vector<Rect> monitors;    // root pixels, y down
    std::vector<Dock> docks;
    std::uint32_t activeFrame = 0;   // top-level window of the active client, 0 when none
    std::uint32_t desktopFrame = 0;  // top-level window of the desktop client, 0 when none
};

struct OwnWindow {
    std::uint32_t id = 0;
    int level = 0;
    Rect rect;                     // root pixels, y down
    std::uint32_t belowFrame = 0;  // top-level window it was ordered below, 0 when none
};

enum class Anchor { top, bottom, below, above };

// Windows that share one anchor, front to back; they go contiguously next to the anchor.
struct StackGroup {
    Anchor anchor = Anchor::top;
    std::uint32_t sibling = 0;  // for below and above
    int level = 0;              // the highest level in the group
    std::vector<std::uint32_t> windows;
};

// One ConfigureWindow request: `window` directly above or below `sibling` (0: the top or the bottom).
struct StackOperation {
    std::uint32_t window = 0;
    std::uint32_t sibling = 0;
    bool above = false;
    friend bool operator==(const StackOperation&, const StackOperation&) = default;
};

// The top panel of the monitor under `rect`: the lowest-stacked dock on the upper quarter of that monitor.
std::uint32_t panelFor(const Rect& rect, const StackEnvironment& env);

// `frontToBack`: the host's ordered-in windows, by level and then most recently ordered front first.
// Groups come in the order they are to be applied (a later group wins where anchors meet).
std::vector<StackGroup> planStack(const std::vector<OwnWindow>& frontToBack, const StackEnvironment& env);

// Whether the stack already shows every group in place. Other clients' override-redirect windows (menus,
// tooltips, notifications) and unmapped windows are left out of the comparison: we neither fight nor
// anchor on them.
bool stackIsIntact(const std::vector<StackGroup>& groups, const StackEnvironment& env);

std::vector<StackOperation> stackOperations(const std::vector<StackGroup>& groups);

}  // namespace velaro::x11
