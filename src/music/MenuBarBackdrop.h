// The menu bar behind the top-edge music features, as they read it to choose their ink: the colour sampled
// there, and whether it reads light or dark.
#pragma once

#include <functional>
#include <optional>

#include "base/Color.h"

namespace velaro {

class DesktopAppearance;
class ScreenSampler;

// The colour last sampled under the menu bar: the dominant colour of the screen the live capture follows,
// else the sampler's own; none before the first sample.
std::optional<Color> menuBarSampledColor(ScreenSampler& sampler);
// The same, only while a window fills the top of the screen (the wallpaper shows there otherwise).
std::optional<Color> menuBarBackdropColor(ScreenSampler& sampler);

// What the ink is chosen from.
struct MenuBarInkSources {
    // While a window fills the top of the screen: the colour sampled under the menu bar.
    std::function<std::optional<Color>()> filledWindowColor;
    // The colour last sampled under the menu bar, whatever shows there.
    std::function<std::optional<Color>()> sampledColor;
    // The desktop's light or dark preference, where there is a service for it.
    const DesktopAppearance* appearance = nullptr;

    // The app's: the sampler's colours and the desktop's appearance.
    static MenuBarInkSources make(ScreenSampler& sampler, const DesktopAppearance* appearance);
};

// Whether the menu bar reads light, so that what draws over it takes dark ink. The colour of a window that
// fills the top of the screen decides; else the desktop's preference; else the colour sampled under the bar.
// A colour decides by its luminance: above 0.6 light, below 0.4 dark, and in between the last answer stands
// (the first one splits at 0.5). With nothing to go by the last answer stands, dark at first.
class MenuBarLightness {
public:
    explicit MenuBarLightness(MenuBarInkSources sources) : sources_(std::move(sources)) {}

    // Looks at the sources again.
    bool update();
    bool isLight() const { return light_.value_or(false); }
    const DesktopAppearance* appearance() const { return sources_.appearance; }

private:
    bool byLuminance(const Color& color) const;

    MenuBarInkSources sources_;
    std::optional<bool> light_;
};

}  // namespace velaro
