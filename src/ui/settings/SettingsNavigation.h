// The settings window's pages in sidebar order, and the page it shows.
#pragma once

#include <array>
#include <optional>

#include "base/Published.h"

namespace velaro {

enum class SettingsCategory {
    appearance,
    cornerRounding,
    pillShape,
    animation,
    lightReflections,
    musicVisualizer,
    behavior,
    excludedApps,
    shortcuts,
    advanced,
    general,
    about,
};

inline constexpr std::array<SettingsCategory, 12> allSettingsCategories{
    SettingsCategory::appearance, SettingsCategory::cornerRounding,   SettingsCategory::pillShape,
    SettingsCategory::animation,  SettingsCategory::lightReflections, SettingsCategory::musicVisualizer,
    SettingsCategory::behavior,   SettingsCategory::excludedApps,     SettingsCategory::shortcuts,
    SettingsCategory::advanced,   SettingsCategory::general,          SettingsCategory::about,
};

class SettingsNavigation {
public:
    SettingsNavigation() = default;
    SettingsNavigation(const SettingsNavigation&) = delete;
    SettingsNavigation& operator=(const SettingsNavigation&) = delete;

    Published<std::optional<SettingsCategory>> selection{SettingsCategory::appearance};
};

}  // namespace velaro
