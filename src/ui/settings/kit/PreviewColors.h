// What the previews read of the sampler and the settings: the live screen's values (a live channel's value
// wins over the sampler's own), the sampled colour and the hue-drift colours.
#pragma once

#include <memory>
#include <vector>

#include "base/Color.h"
#include "overlay/OverlayFeed.h"
#include "sampling/ScreenSampler.h"

namespace velaro {

class OverlaySettings;

// The sampler's values with the channel of the screen the live capture runs on, when there is one. The
// channel is held so the feed's references stay good.
struct LivePreviewFeed {
    std::shared_ptr<ScreenSampler::ScreenChannel> channel;
    OverlayFeed feed;
};
LivePreviewFeed livePreviewFeed(ScreenSampler& sampler);

// The live channel's dominant colour when it has one, else the sampler's.
Color sampledPreviewColor(ScreenSampler& sampler);
// The drift palette as colours (stops that do not parse left out); empty unless the drift takes effect.
std::vector<Color> hueDriftPreviewColors(const OverlaySettings& settings);

}  // namespace velaro
