// The settings window's pages: their raw names, titles, symbols and one-line descriptions, the three
// sidebar groups they sit in, and the colours of their sidebar tiles.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include <QString>

#include "base/Color.h"
#include "ui/settings/kit/AccentColors.h"

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

// Every page in declaration order, which is also the sidebar's order.
inline constexpr std::array<SettingsCategory, 12> allSettingsCategories{
    SettingsCategory::appearance, SettingsCategory::cornerRounding,   SettingsCategory::pillShape,
    SettingsCategory::animation,  SettingsCategory::lightReflections, SettingsCategory::musicVisualizer,
    SettingsCategory::behavior,   SettingsCategory::excludedApps,     SettingsCategory::shortcuts,
    SettingsCategory::advanced,   SettingsCategory::general,          SettingsCategory::about,
};

// The stable name of a page ("cornerRounding"); it identifies the page wherever one is named in text.
std::string_view rawValue(SettingsCategory category);
// The page with exactly that name; letter case counts, anything else is no page.
std::optional<SettingsCategory> settingsCategory(std::string_view raw);

QString title(SettingsCategory category);
// The symbol of the page's sidebar tile, a name of the app's symbol set (see SymbolIcon.h).
std::string_view systemImage(SettingsCategory category);
QString blurb(SettingsCategory category);

// The fill of the page's sidebar tile: evenly spaced along the sidebar order from accentStart to accentEnd.
Color accentColor(SettingsCategory category);

struct SettingsGroup {
    QString title;
    std::vector<SettingsCategory> items;

    // "Look & Feel", "Controls" and "More", in sidebar order.
    static const std::vector<SettingsGroup>& all();
};

// The groups' items one after another: the order of the sidebar's rows.
const std::vector<SettingsCategory>& sidebarOrder();

}  // namespace velaro
