// The unified window and the factory that hands it to the controller.
#include "overlay/UnifiedOverlayWindow.h"

#include "overlay/UnifiedRevealGate.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

UnifiedOverlayWindow::UnifiedOverlayWindow(OverlayWindowHost& host, MainLoop& loop,
                                           const OverlaySettings& settings, const OverlayFeed& feed,
                                           HueDriftClock& driftClock, const Rect& frame, int level,
                                           UnifiedScreenMetrics metrics)
    : OverlayViewWindow(host, loop, settings, feed, driftClock, {"overlay-unified", frame, level}, settings,
                        feed, driftClock, loop, this->PresenterHolder::presenter, std::move(metrics)) {}

UnifiedBandFactory unifiedOverlayWindowFactory(MenuBarOverlayController& controller, OverlayWindowHost& host,
                                               MainLoop& loop, const OverlaySettings& settings,
                                               const Screens& screens) {
    return [&controller, &host, &loop, &settings, &screens](const UnifiedBandInputs& inputs) {
        const ScreenInfo screen = inputs.screen;
        UnifiedScreenMetrics metrics{
            screen.id, [&controller, screen] { return controller.overlayHeight(screen); },
            [&screens, screen] { return menuBarHeight(screen, screens.statusBarThickness()); },
            [&controller, screen](ScreenCorner corner) { return controller.earRadius(corner, screen); }};
        return std::unique_ptr<OverlayBandWindow>(
            std::make_unique<UnifiedOverlayWindow>(host, loop, settings, inputs.feed, controller.driftClock(),
                                                   inputs.frame, inputs.level, std::move(metrics)));
    };
}

UnifiedModeFactory unifiedOverlayMode(ScreenSampler& sampler, const OverlaySettings& settings,
                                      const OverlayControllerServices& services) {
    return [&sampler, &settings, services](MenuBarOverlayController& controller) {
        auto gate = std::make_shared<UnifiedRevealGate>(
            services.loop, revealGateInputs(sampler, settings),
            [&controller](bool instant) { controller.revealUnifiedWindows(instant); });
        gate->onPendingChanged = [&controller] { controller.revealPendingChanged(); };
        return UnifiedMode{
            unifiedOverlayWindowFactory(controller, services.host, services.loop, settings, services.screens),
            UnifiedRevealHooks{[gate] { gate->begin(); }, [gate] { gate->clear(); },
                               [gate] { return gate->pending(); }}};
    };
}

}  // namespace velaro
