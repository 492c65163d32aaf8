// The below-active corner pass.
#include "overlay/BelowActiveCornerPass.h"

#include "base/Log.h"
#include "platform/WindowList.h"
#include "platform/Workspace.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

// Smaller windows (palettes, small dialogs, tool strips) do not count as the app's working window.
constexpr double kMinimumTargetWidth = 200;
constexpr double kMinimumTargetHeight = 150;

}  // namespace

bool isBelowActiveCorner(ScreenCorner corner, const OverlaySettings& settings) {
    if (corner == ScreenCorner::topLeft || corner == ScreenCorner::topRight) return false;
    return settings.zOrder(corner) == BottomCornerZ::belowActive &&
           settings.corners().effectiveRadius(corner) > 0;
}

std::optional<WindowNumber> frontmostAppWindowNumber(const Workspace& workspace, WindowList* list) {
    const auto front = workspace.frontmostApplication();
    if (!front || !list) return std::nullopt;
    for (const auto& entry : list->snapshot()) {
        if (entry.layer != WindowLevel::normal) continue;
        if (entry.ownerPID != front->pid) continue;
        if (!entry.number) continue;
        if (!entry.bounds) continue;
        if (entry.bounds->width() > kMinimumTargetWidth && entry.bounds->height() > kMinimumTargetHeight)
            return *entry.number;
    }
    return std::nullopt;
}

void BelowActiveCornerPass::run(const std::vector<PlacedCorner>& corners, bool slideGateOpen,
                                bool overviewActive) {
    // The top of the screen is sliding: the list is in flux, and the last target stays until it settles.
    if (slideGateOpen) return;
    const auto target = frontmostAppWindowNumber(workspace_, list_);
    if (!target) {
        target_.reset();
        if (!deriveFailLogged_) {
            deriveFailLogged_ = true;
            qCDebug(lcOverlay) << tagged("MenuBarOverlayController",
                                         "below-active: the front app shows no window to order under");
        }
        // Corners already in the stack stay where they were. One never ordered in would stay hidden until
        // some app shows a large window, so an empty desktop would lack a corner the user switched on: it
        // goes to the front of its level, which the host keeps below the active window.
        if (!overviewActive)
            for (const auto& placed : corners)
                if (placed.window && !placed.window->isVisible() &&
                    isBelowActiveCorner(placed.corner, settings_))
                    placed.window->orderFrontRegardless();
        return;
    }
    deriveFailLogged_ = false;
    target_ = target;
    if (overviewActive) return;
    for (const auto& placed : corners) {
        if (!placed.window || !isBelowActiveCorner(placed.corner, settings_)) continue;
        placed.window->orderBelow(*target);
    }
}

}  // namespace velaro
