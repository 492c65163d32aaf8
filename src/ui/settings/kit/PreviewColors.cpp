// The previews' view of the live screen and of the drift palette.
#include "ui/settings/kit/PreviewColors.h"

#include "settings/OverlaySettings.h"

namespace velaro {

LivePreviewFeed livePreviewFeed(ScreenSampler& sampler) {
    LivePreviewFeed out;
    out.channel = sampler.liveContextScreenValue();
    SamplerFeed& s = out.feed.sampler;
    s.dominantColor = &sampler.dominantColor;
    s.zoneColors = &sampler.zoneColors;
    s.liveLine = &sampler.liveLine;
    s.blurredBackdropImage = &sampler.blurredBackdropImage;
    s.blurredTopLeftCorner = &sampler.blurredTopLeftCorner;
    s.blurredTopRightCorner = &sampler.blurredTopRightCorner;
    s.liveLeftCornerColor = &sampler.liveLeftCornerColor;
    s.liveRightCornerColor = &sampler.liveRightCornerColor;
    s.strokeInkIsDark = &sampler.strokeInkIsDark;
    s.isFilledWindowActive = &sampler.isFilledWindowActive;
    if (const auto& c = out.channel) {
        ChannelFeed& ch = out.feed.channel;
        ch.dominantColor = &c->dominantColor;
        ch.zoneColors = &c->zoneColors;
        ch.liveLine = &c->liveLine;
        ch.blurredBackdropImage = &c->blurredBackdropImage;
        ch.liveLeftCornerColor = &c->liveLeftCornerColor;
        ch.liveRightCornerColor = &c->liveRightCornerColor;
        ch.blurredTopLeftCorner = &c->blurredTopLeftCorner;
        ch.blurredTopRightCorner = &c->blurredTopRightCorner;
    }
    return out;
}

Color sampledPreviewColor(ScreenSampler& sampler) {
    return livePreviewFeed(sampler).feed.dominantColor();
}

std::vector<Color> hueDriftPreviewColors(const OverlaySettings& settings) {
    std::vector<Color> colors;
    if (!settings.isHueDriftEffective()) return colors;
    for (const auto& hex : settings.hueDrift().effectivePaletteStops())
        if (auto c = colorFromHex(hex)) colors.push_back(*c);
    return colors;
}

}  // namespace velaro
