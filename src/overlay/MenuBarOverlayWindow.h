// One screen's band window in the separate render mode, painted by the bar view.
#pragma once

#include "overlay/BarOverlayView.h"
#include "overlay/OverlayViewWindow.h"

namespace velaro {

class MenuBarOverlayWindow final : public OverlayViewWindow<MenuBarOverlayView> {
public:
    MenuBarOverlayWindow(OverlayWindowHost& host, MainLoop& loop, const OverlaySettings& settings,
                         const OverlayFeed& feed, HueDriftClock& driftClock, const Rect& frame,
                         int level = OverlayWindowLevel::belowPanel)
        : OverlayViewWindow(host, loop, settings, feed, driftClock, {"overlay-bar", frame, level}, settings,
                            feed, driftClock, loop) {}
};

}  // namespace velaro
