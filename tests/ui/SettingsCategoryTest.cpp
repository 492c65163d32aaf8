// The settings pages' names and sidebar: the exact, case-sensitive raw names, the three groups in sidebar
// order, every page's symbol drawn by the app, and the tile colours running from one accent to the other.
#include <gtest/gtest.h>

#include <set>

#include "ui/settings/SettingsCategory.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro {
namespace {

TEST(SettingsCategory, RawNamesMatchExactlyAndCaseSensitively) {
    for (SettingsCategory category : allSettingsCategories)
        EXPECT_EQ(settingsCategory(rawValue(category)), category) << rawValue(category);
    const struct {
        const char* raw;
        std::optional<SettingsCategory> expected;
    } cases[] = {
        {"cornerRounding", SettingsCategory::cornerRounding},
        {"musicVisualizer", SettingsCategory::musicVisualizer},
        {"CornerRounding", std::nullopt},
        {"cornerrounding", std::nullopt},
        {"About", std::nullopt},
        {"about ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(settingsCategory(c.raw), c.expected) << '"' << c.raw << '"';
}

TEST(SettingsCategory, ThreeGroupsHoldEveryPageOnceInDeclarationOrder) {
    const auto& groups = SettingsGroup::all();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].title, QStringLiteral("Look & Feel"));
    EXPECT_EQ(groups[1].title, QStringLiteral("Controls"));
    EXPECT_EQ(groups[2].title, QStringLiteral("More"));
    EXPECT_EQ(groups[0].items.size(), 6u);
    EXPECT_EQ(groups[1].items.front(), SettingsCategory::behavior);
    EXPECT_EQ(groups[2].items.back(), SettingsCategory::about);

    const auto& order = sidebarOrder();
    EXPECT_EQ(order,
              std::vector<SettingsCategory>(allSettingsCategories.begin(), allSettingsCategories.end()));
    EXPECT_EQ(std::set<SettingsCategory>(order.begin(), order.end()).size(), 12u);
}

TEST(SettingsCategory, TitlesBlurbsAndSymbols) {
    const struct {
        SettingsCategory category;
        const char* title;
        const char* symbol;
        const char* blurb;
    } rows[] = {
        {SettingsCategory::appearance, "Appearance", "paintbrush.fill",
         "Turn the top panel overlay on or off, and choose how it looks — style, opacity, blur, and color."},
        {SettingsCategory::pillShape, "Top Panel Shape", "inset.filled.topthird.rectangle",
         "Wrap the top panel's tray and clock in a floating pill, or keep the classic full bar."},
        {SettingsCategory::excludedApps, "Excluded Apps", "eye.slash",
         "Apps the overlay leaves alone: it hides while one covers the screen, and never samples their "
         "windows."},
        {SettingsCategory::general, "General", "gearshape.fill",
         "Startup, taskbar icon, and the welcome tour."},
        {SettingsCategory::about, "About", "info.circle.fill",
         "Version, updates, project links, and diagnostics export."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(title(row.category), QString::fromUtf8(row.title));
        EXPECT_EQ(systemImage(row.category), row.symbol);
        EXPECT_EQ(blurb(row.category), QString::fromUtf8(row.blurb));
    }
    // Every tile's symbol is one the app draws; a missing glyph would leave an empty tile.
    for (SettingsCategory category : allSettingsCategories)
        EXPECT_TRUE(hasSymbol(systemImage(category))) << systemImage(category);
}

TEST(SettingsCategory, TilesRunFromTheFirstAccentToTheSecond) {
    EXPECT_EQ(accentColor(SettingsCategory::appearance), accentStart);
    const Color last = accentColor(SettingsCategory::about);
    EXPECT_NEAR(last.green, accentEnd.green, 1e-12);
    EXPECT_NEAR(last.blue, accentEnd.blue, 1e-12);
    EXPECT_EQ(last.red, 1.0);
    EXPECT_NEAR(accentColor(SettingsCategory::musicVisualizer).green, 0.3708, 1e-4);
    // Evenly: each row's green is below the one before, by the same amount.
    const auto& order = sidebarOrder();
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_NEAR(accentColor(order[i - 1]).green - accentColor(order[i]).green, 0.1765 / 11, 1e-12);
}

}  // namespace
}  // namespace velaro
