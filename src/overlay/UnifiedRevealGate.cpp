// The reveal gate's states: idle, or pending until a colour, the timeout, a release or a clear.
#include "overlay/UnifiedRevealGate.h"

#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"

namespace velaro {

RevealGateInputs revealGateInputs(ScreenSampler& sampler, const OverlaySettings& settings) {
    return RevealGateInputs{[&settings] { return settings.needsScreenCapture(); },
                            [&sampler] { return sampler.colorPublishedSinceFillStart(); },
                            sampler.colorPulse.stream()};
}

UnifiedRevealGate::UnifiedRevealGate(MainLoop& loop, RevealGateInputs inputs,
                                     std::function<void(bool instant)> reveal)
    : loop_(loop), inputs_(std::move(inputs)), reveal_(std::move(reveal)) {}

void UnifiedRevealGate::setPending(bool pending) {
    if (pending_ == pending) return;
    pending_ = pending;
    if (onPendingChanged) onPendingChanged();
}

void UnifiedRevealGate::begin() {
    if (!inputs_.needsScreenCapture()) {
        reveal_(false);
        return;
    }
    setPending(true);
    const int g = ++generation_;
    if (inputs_.colorPublishedSinceFill()) {
        release(false);
        return;
    }
    // The pulse's current value arrives first and is not news; the one after it is.
    colorWatch_ = inputs_.colorPulse.dropFirst().sink([this](const std::int64_t&) { colorArrived(); });
    timeout_ = loop_.postAfter(kTimeout, lifetime_.guard([this, g] { timedOut(g); }));
}

void UnifiedRevealGate::colorArrived() {
    if (!pending_) return;
    setPending(false);
    colorWatch_.cancel();
    reveal_(false);
}

void UnifiedRevealGate::timedOut(int generation) {
    if (pending_ && generation == generation_) release(true);
}

void UnifiedRevealGate::release(bool instant) {
    if (!pending_) return;
    setPending(false);
    colorWatch_.cancel();
    reveal_(instant);
}

void UnifiedRevealGate::clear() {
    setPending(false);
    colorWatch_.cancel();
}

}  // namespace velaro
