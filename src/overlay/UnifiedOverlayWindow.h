// One screen's window in the unified render mode: the band and its ears in one view, driven by the
// controller only through the window's presenter.
#pragma once

#include "overlay/MenuBarOverlayController.h"
#include "overlay/OverlayViewWindow.h"
#include "overlay/UnifiedOverlayView.h"
#include "overlay/UnifiedPresenter.h"

namespace velaro {

namespace detail {
// Holds the presenter so it exists before the view that watches it.
struct PresenterHolder {
    UnifiedPresenter presenter;
};
}  // namespace detail

class UnifiedOverlayWindow final : public OverlayBandWindow,
                                   private detail::PresenterHolder,
                                   public OverlayViewWindow<UnifiedOverlayView> {
public:
    UnifiedOverlayWindow(OverlayWindowHost& host, MainLoop& loop, const OverlaySettings& settings,
                         const OverlayFeed& feed, HueDriftClock& driftClock, const Rect& frame, int level,
                         UnifiedScreenMetrics metrics);

    OverlayWindow& window() override { return OverlayViewWindow::window(); }
    UnifiedPresenter* presenter() override { return &(this->PresenterHolder::presenter); }
};

// The factory the controller builds its unified windows with: each window's band height is the
// controller's own, its pills sit in the screen's bare menu-bar height. The controller and the other
// arguments outlive every window it makes.
UnifiedBandFactory unifiedOverlayWindowFactory(MenuBarOverlayController& controller, OverlayWindowHost& host,
                                               MainLoop& loop, const OverlaySettings& settings,
                                               const Screens& screens);

// The app's unified mode: the windows of the factory above, revealed through a reveal gate that waits for a
// freshly sampled colour. The gate lives as long as the controller keeps the mode.
UnifiedModeFactory unifiedOverlayMode(ScreenSampler& sampler, const OverlaySettings& settings,
                                      const OverlayControllerServices& services);

}  // namespace velaro
