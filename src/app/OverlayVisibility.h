// The rule that shows or hides the bar overlay, and the short deferral of a show that follows an unfill,
// so a window leaving the top of the screen and another arriving do not make the overlay blink.
#pragma once

#include <functional>
#include <limits>
#include <optional>

#include "base/Cancellable.h"
#include "base/MainLoop.h"

namespace velaro {

class OverlayControllerPort;

class OverlayVisibility {
public:
    // A show within this long of an unfill waits...
    static constexpr double unfillWindow = 1.0;
    // ...unless the front app or the desktop changed within this long...
    static constexpr double switchWindow = 0.6;
    // ...and then comes this much later.
    static constexpr double showDelay = 0.3;

    // What the rule reads, in the order it tests it.
    struct Inputs {
        bool masterEnabled = true;
        bool overlayEnabled = true;
        bool excludedAppCovering = false;
        bool slideGateOpen = false;
        bool keepOverlayAlwaysOn = false;
        bool filledWindowActive = false;
        // The sampler's filled state waiting for confirmation, if any.
        std::optional<bool> pendingFilledState;
    };

    // `controller` gives the overlay controller, or null while there is none; it is asked again whenever
    // the rule acts, including when a deferred show comes due.
    OverlayVisibility(MainLoop& loop, std::function<OverlayControllerPort*()> controller);
    ~OverlayVisibility();
    OverlayVisibility(const OverlayVisibility&) = delete;
    OverlayVisibility& operator=(const OverlayVisibility&) = delete;

    static bool wanted(const Inputs& inputs);

    // Applies the rule to the current inputs.
    void update(const Inputs& inputs);

    void noteAppSwitch() { lastAppSwitchTime_ = loop_.uptime(); }
    void noteSpaceChange() { lastSpaceChangeTime_ = loop_.uptime(); }

    void clearHidUnderSlideGate() { hidUnderSlideGate_ = false; }

private:
    void cancelPendingShow() { pendingShow_.cancel(); }

    MainLoop& loop_;
    std::function<OverlayControllerPort*()> controller_;
    Cancellable pendingShow_;
    // Uptimes: intervals must not follow changes of the wall clock.
    double lastUnfillTime_ = -std::numeric_limits<double>::infinity();
    double lastAppSwitchTime_ = -std::numeric_limits<double>::infinity();
    double lastSpaceChangeTime_ = -std::numeric_limits<double>::infinity();
    bool hidUnderSlideGate_ = false;
};

}  // namespace velaro
