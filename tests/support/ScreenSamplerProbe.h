// Reads what the screen sampler keeps behind its public surface, for the sampler's own tests:
// `inside(sampler)->streams.contexts`.
#pragma once

#include "sampling/SamplerState.h"
#include "sampling/ScreenSampler.h"

namespace velaro::test {

class ScreenSamplerProbe {
public:
    explicit ScreenSamplerProbe(ScreenSampler& sampler) : sampler_(sampler) {}

    ScreenSampler::State* operator->() const { return sampler_.state_.get(); }

private:
    ScreenSampler& sampler_;
};

inline ScreenSamplerProbe inside(ScreenSampler& sampler) {
    return ScreenSamplerProbe(sampler);
}

}  // namespace velaro::test
