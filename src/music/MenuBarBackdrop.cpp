// The sampled colour behind the menu bar.
#include "music/MenuBarBackdrop.h"

#include "sampling/ScreenSampler.h"

namespace velaro {

std::optional<Color> menuBarBackdropColor(ScreenSampler& sampler) {
    if (!sampler.isFilledWindowActive()) return std::nullopt;
    if (auto channel = sampler.liveContextScreenValue())
        if (const auto& color = channel->dominantColor()) return *color;
    return sampler.dominantColor();
}

}  // namespace velaro
