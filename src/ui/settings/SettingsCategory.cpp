// The pages' table, the sidebar groups and the tile colours.
#include "ui/settings/SettingsCategory.h"

#include <algorithm>

namespace velaro {
namespace {

struct CategoryInfo {
    SettingsCategory category;
    std::string_view raw;
    const char* title;
    std::string_view symbol;
    const char* blurb;
};

// One row per page, in declaration order.
constexpr CategoryInfo kCategories[] = {
    {SettingsCategory::appearance, "appearance", "Appearance", "paintbrush.fill",
     "Turn the top panel overlay on or off, and choose how it looks — style, opacity, blur, and color."},
    {SettingsCategory::cornerRounding, "cornerRounding", "Corner Rounding", "viewfinder",
     "Round your screen's own corners — top and bottom — and tune their radius, color, and placement."},
    {SettingsCategory::pillShape, "pillShape", "Top Panel Shape", "inset.filled.topthird.rectangle",
     "Wrap the top panel's tray and clock in a floating pill, or keep the classic full bar."},
    {SettingsCategory::animation, "animation", "Animation", "sparkles",
     "Choose how the overlay reveals itself."},
    {SettingsCategory::lightReflections, "lightReflections", "Light Reflections", "rays",
     "A light beam at the screen's top edge that follows your pointer."},
    {SettingsCategory::musicVisualizer, "musicVisualizer", "Music Visualizer", "waveform",
     "Audio-reactive bars at the screen's top edge — color, trail, and glow."},
    {SettingsCategory::behavior, "behavior", "Behavior", "slider.horizontal.3",
     "Tune when and how the overlay activates."},
    {SettingsCategory::excludedApps, "excludedApps", "Excluded Apps", "eye.slash",
     "Apps the overlay leaves alone: it hides while one covers the screen, and never samples their windows."},
    {SettingsCategory::shortcuts, "shortcuts", "Shortcuts", "keyboard",
     "Global keyboard shortcuts that switch key features on or off from anywhere."},
    {SettingsCategory::advanced, "advanced", "Advanced", "flask",
     "Power-user options and experimental toggles."},
    {SettingsCategory::general, "general", "General", "gearshape.fill",
     "Startup, taskbar icon, and the welcome tour."},
    {SettingsCategory::about, "about", "About", "info.circle.fill",
     "Version, updates, project links, and diagnostics export."},
};

const CategoryInfo& info(SettingsCategory category) {
    return kCategories[static_cast<std::size_t>(category)];
}

}  // namespace

std::string_view rawValue(SettingsCategory category) {
    return info(category).raw;
}

std::optional<SettingsCategory> settingsCategory(std::string_view raw) {
    for (const auto& row : kCategories)
        if (row.raw == raw) return row.category;
    return std::nullopt;
}

QString title(SettingsCategory category) {
    return QString::fromUtf8(info(category).title);
}

std::string_view systemImage(SettingsCategory category) {
    return info(category).symbol;
}

QString blurb(SettingsCategory category) {
    return QString::fromUtf8(info(category).blurb);
}

const std::vector<SettingsGroup>& SettingsGroup::all() {
    using C = SettingsCategory;
    // Immutable once built; every window of the process shows the same groups.
    static const std::vector<SettingsGroup> groups{
        {QStringLiteral("Look & Feel"),
         {C::appearance, C::cornerRounding, C::pillShape, C::animation, C::lightReflections,
          C::musicVisualizer}},
        {QStringLiteral("Controls"), {C::behavior, C::excludedApps, C::shortcuts}},
        {QStringLiteral("More"), {C::advanced, C::general, C::about}},
    };
    return groups;
}

const std::vector<SettingsCategory>& sidebarOrder() {
    static const std::vector<SettingsCategory> order = [] {
        std::vector<SettingsCategory> out;
        for (const auto& group : SettingsGroup::all())
            out.insert(out.end(), group.items.begin(), group.items.end());
        return out;
    }();
    return order;
}

Color accentColor(SettingsCategory category) {
    const auto& order = sidebarOrder();
    const auto it = std::find(order.begin(), order.end(), category);
    const auto n = order.size();
    if (it == order.end() || n < 2) return accentStart;
    const double t = double(it - order.begin()) / double(n - 1);
    return Color::rgb(1.0, 0.451 - 0.1765 * t, 0.0039 * t);
}

}  // namespace velaro
