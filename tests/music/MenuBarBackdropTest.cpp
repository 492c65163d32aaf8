// The light-or-dark rule of the top-edge features: which source decides, and the hysteresis of colours.
#include <gtest/gtest.h>

#include <optional>

#include "music/MenuBarBackdrop.h"
#include "support/FakeDesktopAppearance.h"

namespace velaro::test {
namespace {

TEST(MenuBarLightness, AFilledWindowThenTheDesktopThenTheSampledColourDecide) {
    using P = ColorSchemePreference;
    std::optional<double> filled, sampled;
    FakeDesktopAppearance appearance;
    const auto gray = [](std::optional<double> v) {
        return v ? std::optional(Color::rgb(*v, *v, *v)) : std::nullopt;
    };
    const MenuBarInkSources sources{.filledWindowColor = [&] { return gray(filled); },
                                    .sampledColor = [&] { return gray(sampled); },
                                    .appearance = &appearance};
    struct Step {
        const char* what;
        std::optional<double> filled;
        P scheme;
        std::optional<double> sampled;
        bool light;
    };
    const Step steps[] = {
        {"nothing to go by: dark", {}, P::none, {}, false},
        {"a first colour between the thresholds splits at a half", {}, P::none, 0.55, true},
        {"between the thresholds the last answer stands", {}, P::none, 0.45, true},
        {"a dark wallpaper", {}, P::none, 0.3, false},
        {"the desktop's light outweighs the wallpaper", {}, P::light, 0.3, true},
        {"a dark filled window outweighs the desktop", 0.2, P::light, 0.9, false},
        {"between the thresholds it stands across sources", 0.5, P::light, 0.9, false},
        {"a light filled window", 0.7, P::dark, 0.1, true},
        {"the desktop's dark", {}, P::dark, 0.9, false},
        {"nothing to go by again: the last answer stands", {}, P::none, {}, false},
    };
    MenuBarLightness lightness(sources);
    for (const Step& s : steps) {
        filled = s.filled;
        sampled = s.sampled;
        appearance.scheme = s.scheme;
        EXPECT_EQ(lightness.update(), s.light) << s.what;
    }
    appearance.scheme = P::none;
    sampled = 0.403;  // the test desktop's blue, #3a6ea5
    EXPECT_FALSE(MenuBarLightness(sources).update()) << "a mid blue first reads dark";
}

}  // namespace
}  // namespace velaro::test
