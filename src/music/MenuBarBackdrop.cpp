// The sampled colour behind the menu bar, and the light-or-dark rule the top-edge features share.
#include "music/MenuBarBackdrop.h"

#include "platform/DesktopAppearance.h"
#include "sampling/ScreenSampler.h"

namespace velaro {

namespace {
constexpr double kLightAbove = 0.6, kDarkBelow = 0.4;
}  // namespace

std::optional<Color> menuBarSampledColor(ScreenSampler& sampler) {
    if (auto channel = sampler.liveContextScreenValue())
        if (const auto& color = channel->dominantColor()) return *color;
    // The sampler's own colour is a stand-in until its first publication.
    if (sampler.colorPublishSeq() == 0) return std::nullopt;
    return sampler.dominantColor();
}

std::optional<Color> menuBarBackdropColor(ScreenSampler& sampler) {
    if (!sampler.isFilledWindowActive()) return std::nullopt;
    return menuBarSampledColor(sampler);
}

MenuBarInkSources MenuBarInkSources::make(ScreenSampler& sampler, const DesktopAppearance* appearance) {
    return {
        .filledWindowColor = [&sampler] { return menuBarBackdropColor(sampler); },
        .sampledColor = [&sampler] { return menuBarSampledColor(sampler); },
        .appearance = appearance,
    };
}

bool MenuBarLightness::byLuminance(const Color& color) const {
    const double l = relativeLuminance(color);
    if (l > kLightAbove) return true;
    if (l < kDarkBelow) return false;
    return light_.value_or(l >= 0.5);
}

bool MenuBarLightness::update() {
    const auto filled = sources_.filledWindowColor ? sources_.filledWindowColor() : std::nullopt;
    const auto scheme =
        sources_.appearance ? sources_.appearance->colorScheme().value() : ColorSchemePreference::none;
    if (filled) {
        light_ = byLuminance(*filled);
    } else if (scheme != ColorSchemePreference::none) {
        light_ = scheme == ColorSchemePreference::light;
    } else if (const auto sampled = sources_.sampledColor ? sources_.sampledColor() : std::nullopt) {
        light_ = byLuminance(*sampled);
    }
    return isLight();
}

}  // namespace velaro
