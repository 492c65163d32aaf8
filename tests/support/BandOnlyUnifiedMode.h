// A unified render mode for the overlay controller's tests: band-only stand-in windows with the reveal hooks
// the test gives (none: each reveal happens at once).
#pragma once

#include <QPainter>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "overlay/MenuBarOverlayController.h"
#include "overlay/MenuBarOverlayWindow.h"

namespace velaro::test {

// A stand-in for the unified window: it paints the band as the separate mode does, over the band's height
// only (the ears' depth below it stays clear), once its presenter says it is shown, and with the remembered
// colours while the presenter holds some.
class BandOnlyUnifiedWindow final : public OverlayBandWindow {
public:
    BandOnlyUnifiedWindow(OverlayWindowHost& host, MainLoop& loop, const OverlaySettings& settings,
                          HueDriftClock& driftClock, const UnifiedBandInputs& inputs,
                          std::function<double()> earDepth)
        : earDepth_(std::move(earDepth)),
          bar_(host, loop, settings, inputs.feed, driftClock, inputs.frame, inputs.level) {
        bar_.window().setContent([this](QPainter& painter, Size size) {
            if (!presenter_.shown()) return;
            MenuBarOverlayView& view = held_ ? *held_ : bar_.view();
            view.paint(painter, Size{size.width, std::max(0.0, size.height - earDepth_())});
        });
        watches_.push_back(
            presenter_.shown.changes().sink([this](const bool&) { bar_.window().setNeedsDisplay(); }));
        // As the unified view does, the remembered colours get a bar view of their own.
        watches_.push_back(presenter_.memoryGeneration.changes().sink(
            [this, settings = &settings, loop = &loop, drift = &driftClock, feed = &inputs.feed](const int&) {
                held_.reset();
                if (presenter_.memoryHold) {
                    held_.emplace(*settings, *feed, *drift, *loop, presenter_.memoryHold);
                    held_->setDarkScheme(bar_.view().darkScheme());
                }
                bar_.window().setNeedsDisplay();
            }));
    }
    OverlayWindow& window() override { return bar_.window(); }
    UnifiedPresenter* presenter() override { return &presenter_; }

private:
    UnifiedPresenter presenter_;
    std::function<double()> earDepth_;
    MenuBarOverlayWindow bar_;  // after what its painting reads
    std::optional<MenuBarOverlayView> held_;
    std::vector<Subscription> watches_;
};

inline UnifiedModeFactory bandOnlyUnifiedMode(OverlayWindowHost& host, MainLoop& loop,
                                              const OverlaySettings& settings,
                                              UnifiedRevealHooks reveal = {}) {
    return [&host, &loop, &settings, reveal](MenuBarOverlayController& controller) {
        return UnifiedMode{
            [&host, &loop, &settings, &controller](const UnifiedBandInputs& inputs) {
                return std::unique_ptr<OverlayBandWindow>(std::make_unique<BandOnlyUnifiedWindow>(
                    host, loop, settings, controller.driftClock(), inputs,
                    [&controller, screen = inputs.screen] {
                        return controller.unifiedBottomCornerDepth(screen);
                    }));
            },
            reveal};
    };
}

}  // namespace velaro::test
