// One rounded-corner window, painted by the corner mask view. A corner window exists only for a corner:
// there is no way to make one without saying which.
#pragma once

#include "overlay/CornerMaskView.h"
#include "overlay/OverlayViewWindow.h"

namespace velaro {

class CornerOverlayWindow final : public OverlayViewWindow<CornerMaskView> {
public:
    CornerOverlayWindow(ScreenCorner corner, OverlayWindowHost& host, MainLoop& loop,
                        const OverlaySettings& settings, const OverlayFeed& feed, HueDriftClock& driftClock,
                        const Rect& frame, int level)
        : OverlayViewWindow(host, loop, settings, feed, driftClock, {"overlay-corner", frame, level}, corner,
                            settings, feed, driftClock, loop) {}

    ScreenCorner corner() const { return view().corner(); }
};

}  // namespace velaro
