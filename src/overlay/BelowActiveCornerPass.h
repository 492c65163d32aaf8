// The pass that orders the corners placed below the active window directly below the front app's foremost
// large window, and the lookup of that window.
#pragma once

#include <optional>
#include <vector>

#include "platform/OverlayWindowHost.h"
#include "settings/CornerSettings.h"

namespace velaro {

class OverlaySettings;
class WindowList;
class Workspace;

// One corner window as the ordering sees it: which corner it draws, and the window.
struct PlacedCorner {
    ScreenCorner corner;
    OverlayWindow* window = nullptr;
};

// A bottom or screen-top corner whose stacking is `belowActive` and whose effective radius is above 0. The
// top corners hang from the band and are never ordered against other apps' windows.
bool isBelowActiveCorner(ScreenCorner corner, const OverlaySettings& settings);

// The frontmost app's foremost window on the normal layer larger than 200 × 150 pt, from one read of the
// list; none without a frontmost app, a list, or such a window. Entries missing a field are passed over.
std::optional<WindowNumber> frontmostAppWindowNumber(const Workspace& workspace, WindowList* list);

class BelowActiveCornerPass {
public:
    BelowActiveCornerPass(const OverlaySettings& settings, const Workspace& workspace, WindowList* list)
        : settings_(settings), workspace_(workspace), list_(list) {}

    // Derives the target and orders every below-active corner of `corners` directly below it; the caller
    // has checked that ordering is wanted at all. Without a target, corners in the stack stay put and those
    // not yet in it are ordered in front of their level. While the slide gate is open nothing is read or
    // touched; while the overview shows the target is recorded but no window moves.
    void run(const std::vector<PlacedCorner>& corners, bool slideGateOpen, bool overviewActive);

    // The window the corners were last ordered below; none when the last pass found no target.
    std::optional<WindowNumber> target() const { return target_; }
    // Forgets the target and the latch that logs a run of passes without a target once (the monitor
    // stopped).
    void forget() {
        target_.reset();
        deriveFailLogged_ = false;
    }

private:
    const OverlaySettings& settings_;
    const Workspace& workspace_;
    WindowList* list_;
    std::optional<WindowNumber> target_;
    bool deriveFailLogged_ = false;  // set by a pass that found no target, cleared by one that found one
};

}  // namespace velaro
