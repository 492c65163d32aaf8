// Reads and drives what the screen sampler keeps behind its public surface, for the tests of the sampler
// and of the code built on it: `inside(sampler)->streams.contexts`, `inside(sampler).reconcile()`.
#pragma once

#include <string>

#include "sampling/SamplerState.h"
#include "sampling/ScreenSampler.h"
#include "sampling/WindowListScans.h"

namespace velaro::test {

class ScreenSamplerProbe {
public:
    explicit ScreenSamplerProbe(ScreenSampler& sampler) : sampler_(sampler) {}

    ScreenSampler::State* operator->() const { return sampler_.state_.get(); }

    bool shouldCapture() const { return sampler_.shouldCapture(); }
    bool needsStreamRestart() const { return sampler_.needsStreamRestart(); }
    void reconcile() const { sampler_.reconcile(); }
    void stopAllStreams() const { sampler_.stopAllStreams(); }
    // The test drives the refresh itself.
    void stopPollTimer() const { sampler_.stopPollTimer(); }
    void publishDominant(const Color& color, StreamContext* from) const {
        sampler_.publishDominant(color, from);
    }
    void setFreeze(bool on, const std::string& reason) const { sampler_.state_->freezes.set(on, reason); }
    void openSlideGate() const { sampler_.state_->slideGate.open(); }
    // Closes the gate as a refresh that no longer sees the slide does, announcing it.
    void closeSlideGate() const {
        WindowScanResult nothingSlides;
        nothingSlides.consideredWindowCount = 0;
        sampler_.state_->slideGate.update(nothingSlides);
        if (sampler_.state_->slideGate.takePendingClose()) sampler_.announceSlideGate();
    }
    double beamBandMenuBarHeight() const { return sampler_.pointerBand_.beamBandMenuBarHeight; }

private:
    ScreenSampler& sampler_;
};

inline ScreenSamplerProbe inside(ScreenSampler& sampler) {
    return ScreenSamplerProbe(sampler);
}

}  // namespace velaro::test
