// The wait before the unified overlay is revealed: when the overlay takes its colour from the screen, the
// reveal waits for the first freshly sampled colour, or 0.4 s at most (then it reveals without animation),
// so the band does not open in the colour of the window that was in front before.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "base/Published.h"

namespace velaro {

class OverlaySettings;
class ScreenSampler;

struct RevealGateInputs {
    // Whether the overlay's colour comes from the screen at all.
    std::function<bool()> needsScreenCapture;
    // Whether a colour was published since the current filled-window state began.
    std::function<bool()> colorPublishedSinceFill;
    // The sampler's colour pulse: its current value on subscription, then every new one.
    Stream<std::int64_t> colorPulse;
};

// The gate's inputs read from the sampler and the settings (both outlive the gate).
RevealGateInputs revealGateInputs(ScreenSampler& sampler, const OverlaySettings& settings);

class UnifiedRevealGate {
public:
    static constexpr double kTimeout = 0.4;

    // `reveal` sets every presenter shown, at once when its argument is true.
    UnifiedRevealGate(MainLoop& loop, RevealGateInputs inputs, std::function<void(bool instant)> reveal);
    UnifiedRevealGate(const UnifiedRevealGate&) = delete;
    UnifiedRevealGate& operator=(const UnifiedRevealGate&) = delete;
    // A timeout or a colour still on its way finds the gate gone and does nothing.
    ~UnifiedRevealGate() = default;

    // Called after every change of `pending()`, and only then.
    std::function<void()> onPendingChanged;

    // Opens a gate, or reveals at once (animated) when no screen colour is awaited or one already came.
    void begin();
    // Closes a pending gate and reveals; nothing when none is pending.
    void release(bool instant);
    // Closes a pending gate without revealing (the overlay is being hidden).
    void clear();

    bool pending() const { return pending_; }
    int generation() const { return generation_; }

private:
    void setPending(bool pending);
    void colorArrived();
    void timedOut(int generation);

    MainLoop& loop_;
    RevealGateInputs inputs_;
    std::function<void(bool)> reveal_;
    bool pending_ = false;
    int generation_ = 0;
    Subscription colorWatch_;
    Cancellable timeout_;
    Lifetime lifetime_;
};

}  // namespace velaro
