// The settings store at run time: persist routing, notifications, the app in force and its re-resolve, the
// shortcut toggles and the change handlers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeDefaultsStore;

// A store with a profile manager attached; `editing` is what the shell's editing query answers.
struct Store {
    explicit Store(const PlistValue& stored = PlistValue::object()) : store(stored) {
        settings = std::make_unique<OverlaySettings>(store, loop);
        profiles = std::make_unique<ProfileManager>(store);
        settings->attachProfileManager(*profiles);
        settings->isEditingActive = [this] { return editing; };
        store.clearWrites();
    }
    // Selects the app in the settings window and lets the scope subscription deliver.
    void editApp(const std::string& appId) {
        editing = true;
        profiles->selectedScope = ProfileScope::app(appId);
        loop.runUntilIdle();
        store.clearWrites();
    }
    // Stores `value` under `key` unannounced, then has the settings resolve every member again with the
    // overrides they applied last, as a shortcut's toggle of a stored switch does.
    void resolveAgainOver(const std::string& key, PlistValue value) {
        store.seed(key, std::move(value));
        settings->toggleStoredBool("unrelatedSwitch", false);
    }
    // A profile holding these overrides.
    void addProfile(const std::string& appId, const SettingOverrides& overrides) {
        profiles->addProfile(appId, appId);
        for (const auto& [key, value] : overrides) profiles->setOverride(value, key, appId);
    }
    bool editing = false;
    FakeDefaultsStore store;
    test::VirtualLoop loop;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<ProfileManager> profiles;
};

// ---- persist routing: editing × scope × has profile × global-only key ------------------------------------

class PersistRouting : public ::testing::TestWithParam<std::tuple<bool, bool, bool, bool>> {};

TEST_P(PersistRouting, OverrideOnlyWhenEditingAnAppWithAProfileAndTheKeyMayBeOverridden) {
    const auto [editing, appScope, hasProfile, globalOnly] = GetParam();
    Store s;
    if (hasProfile) s.profiles->addProfile("com.app", "App");
    s.editing = editing;
    if (appScope) s.profiles->selectedScope = ProfileScope::app("com.app");
    s.loop.runUntilIdle();
    s.store.clearWrites();

    const std::string key = globalOnly ? "showDockIcon" : "overlayOpacity";
    if (globalOnly)
        s.settings->showTaskbarIcon = true;
    else
        s.settings->overlayOpacity = 0.25;

    const bool toProfile = editing && appScope && hasProfile && !globalOnly;
    EXPECT_EQ(s.store.wasWritten(key), !toProfile);
    EXPECT_EQ(s.profiles->overrideValue(key, "com.app").has_value(), toProfile);
    // Written to the profile, the value is among the overrides in force: another global value does not show
    // through it.
    s.resolveAgainOver(key, globalOnly ? PlistValue(false) : PlistValue(0.9));
    if (globalOnly)
        EXPECT_FALSE(s.settings->showTaskbarIcon()) << "a global-only key never has a profile's value";
    else
        EXPECT_EQ(s.settings->overlayOpacity() == 0.25, toProfile);
}

INSTANTIATE_TEST_SUITE_P(Matrix, PersistRouting,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(), ::testing::Bool(),
                                            ::testing::Bool()));

TEST(OverlaySettingsPersist, NoManagerOrNoEditingQuerySendsEverythingGlobal) {
    FakeDefaultsStore store;
    test::VirtualLoop loop;
    OverlaySettings settings(store, loop);
    store.clearWrites();
    settings.overlayOpacity = 0.5;
    EXPECT_EQ(store.doubleValue("overlayOpacity"), 0.5);

    ProfileManager profiles(store);
    profiles.addProfile("com.app", "App");
    profiles.selectedScope = ProfileScope::app("com.app");
    settings.attachProfileManager(profiles);
    settings.overlayOpacity = 0.75;  // no editing query installed
    EXPECT_EQ(store.doubleValue("overlayOpacity"), 0.75);
    EXPECT_FALSE(profiles.overrideValue("overlayOpacity", "com.app"));
}

TEST(OverlaySettingsPersist, AbsentValueRemovesFromStoreOrProfile) {
    Store s(PlistValue{{"vizStyle", "waves"}});
    s.settings->persist(PlistValue(), "vizStyle");
    EXPECT_FALSE(s.store.hasStoredValue("vizStyle"));

    s.profiles->addProfile("com.app", "App");
    s.editApp("com.app");
    s.settings->vizStyle = "waves";
    // The profile's value is among the overrides in force: a global value does not show through it …
    s.resolveAgainOver("vizStyle", PlistValue("bars"));
    EXPECT_EQ(s.settings->vizStyle(), "waves");
    s.settings->persist(PlistValue(), "vizStyle");
    EXPECT_FALSE(s.profiles->overrideValue("vizStyle", "com.app"));
    // … and once removed from the profile, it is no longer.
    s.resolveAgainOver("vizStyle", PlistValue("bars"));
    EXPECT_EQ(s.settings->vizStyle(), "bars");
}

TEST(OverlaySettingsPersist, EqualAssignmentStillNotifiesAndPersists) {
    Store s;
    std::vector<double> seen;
    int objectChanges = 0;
    auto sub = s.settings->overlayOpacity.changes().sink([&](const double& v) { seen.push_back(v); });
    auto all = s.settings->objectWillChange().sink([&](const auto&) { ++objectChanges; });
    s.settings->overlayOpacity = 1.0;
    s.settings->overlayOpacity = 1.0;
    EXPECT_EQ(seen, (std::vector<double>{1.0, 1.0}));
    EXPECT_EQ(objectChanges, 2);
    EXPECT_EQ(s.store.writes().size(), 2u);

    s.store.clearWrites();
    s.settings->setColorAndPersist(Color::rgb(0, 0.5, 1), s.settings->beamCoreColor, "beamCoreColor");
    EXPECT_EQ(s.store.stringValue("beamCoreColor"), "#0080FF");
    s.settings->layerPosition = LayerPosition::aboveWindows;  // the value it already has
    EXPECT_EQ(s.store.stringValue("layerPosition"), "aboveWindows");
    s.settings->corners = s.settings->corners();
    EXPECT_TRUE(s.store.wasWritten("cornerSettings"));
}

TEST(OverlaySettingsPersist, ObserversSeeTheOldValueWhileNotified) {
    Store s;
    double readInside = -1;
    auto sub = s.settings->overlayOpacity.changes().sink(
        [&](const double&) { readInside = s.settings->overlayOpacity(); });
    s.settings->overlayOpacity = 0.2;
    EXPECT_EQ(readInside, 1.0);
}

TEST(OverlaySettingsPersist, StoreOnChangeRecordsSkipEqualValues) {
    Store s;
    s.settings->overlayColorZones = s.settings->overlayColorZones();
    s.settings->hueDrift = s.settings->hueDrift();
    s.settings->appShortcuts = s.settings->appShortcuts();
    EXPECT_TRUE(s.store.writes().empty());

    auto drift = s.settings->hueDrift();
    drift.enabled = true;
    s.settings->hueDrift = drift;
    const auto stored = OverlayHueDrift::decode(*s.store.dataValue("overlayHueDrift"));
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->enabled);
}

// ---- nothing written by re-resolves ----------------------------------------------------------------------

TEST(OverlaySettingsResolve, ReResolveWritesNothingAnywhere) {
    Store s(PlistValue{{"overlayOpacity", 0.5}, {"menuBarStyle", "solid"}});
    s.addProfile("com.app", {{"overlayOpacity", PlistValue(0.9)},
                             {"menuBarStyle", PlistValue("gradient")},
                             {"layerPosition", PlistValue("behindWindows")}});
    s.store.clearWrites();

    s.settings->setRuntimeAppId("com.app");
    EXPECT_EQ(s.settings->overlayOpacity(), 0.9);
    EXPECT_EQ(s.settings->style(), MenuBarStyle::gradient);
    EXPECT_TRUE(s.settings->autoSample());  // the gradient style's own stored value (default on)
    EXPECT_EQ(s.settings->layerPosition(), LayerPosition::behindWindows);
    s.settings->setRuntimeAppId("com.other");
    EXPECT_EQ(s.settings->overlayOpacity(), 0.5);
    EXPECT_EQ(s.settings->style(), MenuBarStyle::solid);
    EXPECT_TRUE(s.store.writes().empty());
    EXPECT_EQ(s.profiles->overrides("com.app").size(), 3u);
}

TEST(OverlaySettingsResolve, UnchangedOverrideSetNotifiesNothing) {
    Store s;
    s.addProfile("com.app", {{"overlayOpacity", PlistValue(0.9)}});
    s.settings->setRuntimeAppId("com.app");
    int notified = 0;
    auto sub = s.settings->objectWillChange().sink([&](const auto&) { ++notified; });
    s.settings->reapplyProfileOverrides();
    s.settings->setRuntimeAppId("com.app");
    EXPECT_EQ(notified, 0);
    // A toggle re-resolves with the same set: only the toggled member changes.
    s.settings->toggleStoredBool("smoothColors", false);
    EXPECT_EQ(notified, 1);
}

TEST(OverlaySettingsResolve, ResolveDuringStyleChangeNeitherStoresNorSwaps) {
    Store s(PlistValue{{"menuBarStyle", "solid"}, {"autoSampleColor", false}});
    s.addProfile("com.app",
                 {{"menuBarStyle", PlistValue("gradient")}, {"fadeAutoSampleColor", PlistValue(false)}});
    s.store.clearWrites();
    s.settings->setRuntimeAppId("com.app");
    EXPECT_EQ(s.settings->style(), MenuBarStyle::gradient);
    EXPECT_FALSE(s.settings->autoSample());
    EXPECT_TRUE(s.store.writes().empty());
}

// ---- the app in force ------------------------------------------------------------------------------------

TEST(OverlaySettingsRuntime, OwnBundleKeepsThePreviousAppsProfile) {
    Store s;
    s.addProfile("com.app", {{"overlayOpacity", PlistValue(0.3)}});
    s.settings->setRuntimeAppId("com.app");
    s.settings->setRuntimeAppId(OverlaySettings::ownAppId);
    EXPECT_EQ(s.settings->overlayOpacity(), 0.3);
    // Still com.app's profile in force: a change to it shows.
    s.store.changeOutside(ProfileManager::overrideKey("com.app"), PlistValue{{"overlayOpacity", 0.45}});
    s.loop.runUntilIdle();
    EXPECT_EQ(s.settings->overlayOpacity(), 0.45);
}

TEST(OverlaySettingsRuntime, FilledOwnerWinsOverFrontmostApp) {
    Store s;
    s.addProfile("com.front", {{"overlayOpacity", PlistValue(0.3)}});
    s.addProfile("com.filler", {{"overlayOpacity", PlistValue(0.6)}});
    s.settings->setRuntimeAppId("com.front");
    EXPECT_EQ(s.settings->overlayOpacity(), 0.3);
    s.settings->setRuntimeFilledOwner("com.filler");
    EXPECT_EQ(s.settings->overlayOpacity(), 0.6);
    s.settings->setRuntimeFilledOwner(std::nullopt);
    EXPECT_EQ(s.settings->overlayOpacity(), 0.3);
}

TEST(OverlaySettingsRuntime, EditingShowsTheEditedProfileAndDefersAppChanges) {
    Store s;
    s.addProfile("com.edited", {{"overlayOpacity", PlistValue(0.2)}});
    s.addProfile("com.front", {{"overlayOpacity", PlistValue(0.7)}});
    s.editApp("com.edited");
    EXPECT_EQ(s.settings->overlayOpacity(), 0.2);

    s.settings->setRuntimeAppId("com.front");  // recorded, not applied while editing
    EXPECT_EQ(s.settings->overlayOpacity(), 0.2);
    s.editing = false;
    s.settings->reapplyProfileOverrides();
    EXPECT_EQ(s.settings->overlayOpacity(), 0.7);
}

TEST(OverlaySettingsRuntime, ScopeChangesApplyOnALaterTurn) {
    Store s;
    s.addProfile("com.app", {{"blurEnabled", PlistValue(true)}});
    s.editing = true;
    s.profiles->selectedScope = ProfileScope::app("com.app");
    EXPECT_FALSE(s.settings->blurEnabled());
    s.loop.runUntilIdle();
    EXPECT_TRUE(s.settings->blurEnabled());
    s.profiles->selectedScope = ProfileScope::global();
    s.loop.runUntilIdle();
    EXPECT_FALSE(s.settings->blurEnabled());
}

TEST(OverlaySettingsRuntime, ManagerDestroyedSendsWritesGlobal) {
    Store s;
    s.profiles->addProfile("com.app", "App");
    s.editApp("com.app");
    s.profiles.reset();
    s.settings->overlayOpacity = 0.4;
    EXPECT_EQ(s.store.doubleValue("overlayOpacity"), 0.4);
}

TEST(OverlaySettingsRuntime, AttachUpgradesProfilesWithOnlyAManualColour) {
    FakeDefaultsStore store;
    test::VirtualLoop loop;
    store.seed(ProfileManager::appIdsKey, {"com.old", "com.new", "com.odd"});
    store.seed(ProfileManager::overrideKey("com.old"), {{"manualOverrideColor", "#AA0000"}});
    store.seed(ProfileManager::overrideKey("com.new"),
               {{"manualOverrideColor", "#AA0000"}, {"overlayColorZones", plistData({'{', '}'})}});
    store.seed(ProfileManager::overrideKey("com.odd"), {{"manualOverrideColor", 12}});
    OverlaySettings settings(store, loop);
    ProfileManager profiles(store);
    settings.attachProfileManager(profiles);

    const auto upgraded = profiles.overrideValue("overlayColorZones", "com.old");
    ASSERT_TRUE(upgraded && upgraded->is_binary());
    const auto zones = OverlayColorZones::decode(upgraded->get_binary());
    EXPECT_EQ(zones->stops, std::vector<std::string>{"#AA0000"});
    EXPECT_FALSE(zones->multicolorEnabled);
    EXPECT_EQ(profiles.overrideValue("overlayColorZones", "com.new"), plistData({'{', '}'}));
    EXPECT_FALSE(profiles.overrideValue("overlayColorZones", "com.odd"));
}

// ---- shortcut toggles ------------------------------------------------------------------------------------

// ---- edits another program makes to the stored settings --------------------------------------------------

// The members follow an outside edit on the next turn, notify once per member that changed, write nothing
// back, and a later hot-key toggle starts from the edited value.
TEST(OverlaySettingsOutsideEdits, MembersFollowTheStoreAndTheNextToggleStartsFromThere) {
    Store s(PlistValue{{"masterEnabled", true}, {"blurRadius", 20.0}});
    std::vector<bool> master;
    auto watch = s.settings->masterEnabled.changes().sink([&](bool on) { master.push_back(on); });
    s.store.changeOutside("masterEnabled", false);
    s.store.changeOutside("blurRadius", 400.0);  // out of range: the stored value's own check applies
    EXPECT_TRUE(s.settings->masterEnabled.value()) << "applied only once the store is done";
    s.loop.runUntilIdle();
    EXPECT_EQ(master, (std::vector<bool>{false}));
    EXPECT_EQ(s.settings->blurRadius.value(), 12.0);
    EXPECT_TRUE(s.store.writes().empty()) << "taking the file's values in wrote something";

    EXPECT_TRUE(s.settings->toggleStoredBool("masterEnabled", true));
    EXPECT_EQ(master, (std::vector<bool>{false, true}));
}

// Profiles edited outside: the app in force takes its new overrides, and a removed profile that the
// settings window had selected leaves the window at the global scope.
TEST(OverlaySettingsOutsideEdits, ProfilesEditedOutsideApplyToTheAppInForce) {
    Store s;
    s.addProfile("com.app", {{"overlayOpacity", 0.25}});
    s.settings->setRuntimeAppId("com.app");
    ASSERT_EQ(s.settings->overlayOpacity.value(), 0.25);

    s.store.changeOutside(ProfileManager::overrideKey("com.app"), PlistValue{{"overlayOpacity", 0.75}});
    s.loop.runUntilIdle();
    EXPECT_EQ(s.settings->overlayOpacity.value(), 0.75);
    EXPECT_EQ(s.profiles->overrideValue("overlayOpacity", "com.app"), PlistValue(0.75));

    s.editApp("com.app");
    s.store.changeOutside(ProfileManager::appIdsKey, PlistValue::array());
    s.loop.runUntilIdle();
    EXPECT_FALSE(s.profiles->hasProfile("com.app"));
    EXPECT_TRUE(s.profiles->selectedScope.value().isGlobal());
    // No override is left in force: the global value shows again.
    s.resolveAgainOver("overlayOpacity", PlistValue(0.4));
    EXPECT_EQ(s.settings->overlayOpacity.value(), 0.4);
}

TEST(OverlaySettingsToggles, StoredBoolOnEmptyStore) {
    Store s;
    EXPECT_TRUE(s.settings->toggleStoredBool("vizEnabled", false));
    EXPECT_EQ(s.store.boolValue("vizEnabled"), true);
    EXPECT_TRUE(s.settings->vizEnabled());
    EXPECT_FALSE(s.settings->toggleStoredBool("masterEnabled", true));
    EXPECT_FALSE(s.settings->masterEnabled());

    s.store.seed("overlayEnabled", "yes");  // a wrong type counts as absent
    EXPECT_FALSE(s.settings->toggleStoredBool("overlayEnabled", true));
}

TEST(OverlaySettingsToggles, StoredBoolFlipsGlobalButOverrideStaysInForce) {
    Store s;
    s.addProfile("com.app", {{"overlayEnabled", PlistValue(true)}});
    s.settings->setRuntimeAppId("com.app");
    EXPECT_FALSE(s.settings->toggleStoredBool("overlayEnabled", true));
    EXPECT_EQ(s.store.boolValue("overlayEnabled"), false);
    EXPECT_TRUE(s.settings->overlayEnabled());
    EXPECT_EQ(s.profiles->overrideValue("overlayEnabled", "com.app"), PlistValue(true));
}

std::vector<bool> cornerFlags(const CornerSettings& c) {
    return {c.topLeftEnabled,     c.topRightEnabled,      c.bottomLeftEnabled,
            c.bottomRightEnabled, c.screenTopLeftEnabled, c.screenTopRightEnabled};
}

TEST(OverlaySettingsToggles, CornersOffAndBackRestoresExactlyThoseThatWereOn) {
    Store s;
    auto corners = s.settings->corners();
    corners.topRightEnabled = false;
    corners.bottomLeftEnabled = false;
    corners.screenTopLeftEnabled = true;
    s.settings->corners = corners;
    const auto before = cornerFlags(s.settings->corners());

    s.settings->toggleCornersFromShortcut();
    EXPECT_EQ(cornerFlags(s.settings->corners()), std::vector<bool>(6, false));
    s.settings->toggleCornersFromShortcut();
    EXPECT_EQ(cornerFlags(s.settings->corners()), before);
    // Everything else in the record survives the round trip.
    EXPECT_EQ(s.settings->corners(), corners);
}

// The default record with the four corners it turns on switched off: no corner on at all.
CornerSettings noCornersOn() {
    CornerSettings c;
    c.topLeftEnabled = c.topRightEnabled = c.bottomLeftEnabled = c.bottomRightEnabled = false;
    return c;
}

TEST(OverlaySettingsToggles, CornersWithNoMemoryOrUnknownNamesTurnAllOn) {
    Store s;
    const auto corners = noCornersOn();
    s.settings->corners = corners;
    s.settings->toggleCornersFromShortcut();
    EXPECT_EQ(cornerFlags(s.settings->corners()), std::vector<bool>(6, true));

    s.settings->corners = corners;
    s.store.seed("cornersShortcutMemory", plistData({'[', '"', 'n', 'o', 'n', 'e', '"', ']'}));
    s.settings->toggleCornersFromShortcut();
    EXPECT_EQ(cornerFlags(s.settings->corners()), std::vector<bool>(6, true));
}

TEST(OverlaySettingsToggles, CornersStartFromTheGlobalRecordNotTheProfile) {
    Store s;
    s.profiles->addProfile("com.app", "App");
    const auto none = noCornersOn();
    s.profiles->setOverride(plistData(*encodeCornerSettings(none)), "cornerSettings", "com.app");
    s.settings->setRuntimeAppId("com.app");
    s.store.clearWrites();

    s.settings->toggleCornersFromShortcut();  // the global record has four corners on: switch them off
    EXPECT_TRUE(s.store.wasWritten("cornersShortcutMemory"));
    EXPECT_EQ(cornerFlags(s.settings->loadStoredCornerSettings()), std::vector<bool>(6, false));
    EXPECT_EQ(s.settings->corners(), none);  // the profile's record stays in force
}

// ---- change handlers -------------------------------------------------------------------------------------

TEST(OverlaySettingsHandlers, StyleSwapsAutoSamplePerStyle) {
    Store s(PlistValue{{"menuBarStyle", "solid"}});
    s.settings->style = MenuBarStyle::gradient;
    EXPECT_TRUE(s.settings->autoSample());
    EXPECT_FALSE(s.store.wasWritten("fadeAutoSampleColor"));
    EXPECT_EQ(s.store.stringValue("menuBarStyle"), "gradient");
    s.settings->style = MenuBarStyle::solid;
    EXPECT_FALSE(s.settings->autoSample());

    s.settings->style = MenuBarStyle::gradient;
    s.settings->autoSample = false;
    EXPECT_EQ(s.store.boolValue("fadeAutoSampleColor"), false);
    EXPECT_FALSE(s.store.wasWritten("autoSampleColor"));

    // The same style again stores the style but leaves autoSample alone.
    s.store.clearWrites();
    s.settings->style = MenuBarStyle::gradient;
    EXPECT_EQ(s.store.writtenKeys(), std::set<std::string>{"menuBarStyle"});
    EXPECT_FALSE(s.settings->autoSample());
}

TEST(OverlaySettingsHandlers, StyleTakesTheProfilesAutoSample) {
    Store s(PlistValue{{"menuBarStyle", "solid"}});
    s.addProfile("com.app", {{"fadeAutoSampleColor", PlistValue(false)}});
    s.settings->setRuntimeAppId("com.app");
    s.settings->style = MenuBarStyle::gradient;
    EXPECT_FALSE(s.settings->autoSample());
}

TEST(OverlaySettingsHandlers, MulticolourSeedsOnceThenOnlyFlips) {
    Store s;
    s.settings->setMulticolorEnabled(true);
    const auto& seeded = s.settings->overlayColorZones();
    EXPECT_EQ(seeded.stops.size(), 5u);
    EXPECT_EQ(seeded.stops.front(), "#FF0027");
    EXPECT_TRUE(seeded.blend);
    EXPECT_TRUE(seeded.multicolorEnabled);
    EXPECT_EQ(s.store.boolValue("multicolorSeeded"), true);
    EXPECT_TRUE(s.store.wasWritten("overlayColorZones"));

    s.settings->overlayColorZones = OverlayColorZones({"#123456"}, false, false, 0.5);
    s.settings->setMulticolorEnabled(true);
    EXPECT_EQ(s.settings->overlayColorZones().stops, std::vector<std::string>{"#123456"});
    EXPECT_TRUE(s.settings->overlayColorZones().multicolorEnabled);
    EXPECT_EQ(s.settings->overlayColorZones().transitionWidth, 0.5);
}

// ---- derived queries -------------------------------------------------------------------------------------

TEST(OverlaySettingsQueries, CaptureDemand) {
    Store s(PlistValue{{"menuBarStyle", "solid"}});
    auto corners = s.settings->corners();
    corners.topLeftColorMode = TopColorMode::black;
    corners.topRightColorMode = TopColorMode::custom;
    s.settings->corners = corners;
    EXPECT_FALSE(s.settings->needsScreenCapture());
    s.settings->keepOverlayAlwaysOn = true;
    s.settings->emptyDesktopMode = EmptyDesktopMode::blur;
    EXPECT_TRUE(s.settings->needsScreenCapture());
    s.settings->overlayEnabled = false;
    EXPECT_FALSE(s.settings->needsScreenCapture());
    s.settings->progressEnabled = true;
    EXPECT_TRUE(s.settings->needsScreenCapture());
}

TEST(OverlaySettingsQueries, RendererAndCornerStacking) {
    Store s;
    EXPECT_TRUE(s.settings->usesUnifiedRenderer());
    s.settings->blurEnabled = true;
    EXPECT_FALSE(s.settings->usesUnifiedRenderer());
    auto corners = s.settings->corners();
    corners.shapeMode = ShapeMode::pill;
    s.settings->corners = corners;
    s.settings->manualSeparateCorners = true;
    EXPECT_TRUE(s.settings->usesUnifiedRenderer());

    s.settings->cornerBottomLeftZ = BottomCornerZ::belowActive;
    EXPECT_EQ(s.settings->zOrder(ScreenCorner::topLeft), BottomCornerZ::above);
    EXPECT_EQ(s.settings->zOrder(ScreenCorner::bottomLeft), BottomCornerZ::belowActive);
    EXPECT_FALSE(s.settings->isCornerAtWallpaperLevel(ScreenCorner::topRight));
    EXPECT_TRUE(s.settings->isCornerAtWallpaperLevel(ScreenCorner::screenTopRight));
}

TEST(OverlaySettingsQueries, HueDriftAndColours) {
    Store s(PlistValue{{"menuBarStyle", "solid"}});
    auto drift = s.settings->hueDrift();
    drift.enabled = true;
    drift.variant = OverlayHueDrift::Variant::uniform;
    s.settings->hueDrift = drift;
    EXPECT_TRUE(s.settings->isUniformHueDriftEffective());
    s.settings->setMulticolorEnabled(true);
    EXPECT_FALSE(s.settings->isHueDriftEffective());

    const Color sampled = Color::rgb(0.2, 0.4, 0.6);
    s.settings->manualColor = Color::rgb(1, 0, 0);
    EXPECT_EQ(s.settings->effectiveColor(sampled), Color::rgb(1, 0, 0));
    s.settings->style = MenuBarStyle::live;
    EXPECT_EQ(s.settings->effectiveColor(sampled), sampled);

    OverlayColorZones zones;
    zones.stops = {"#FF0000", "bad", "#0000FF"};  // assigned raw, not normalised
    s.settings->overlayColorZones = zones;
    EXPECT_EQ(s.settings->colorZoneColors(), (std::vector<Color>{Color::rgb(1, 0, 0), Color::rgb(0, 0, 1)}));
}

}  // namespace
}  // namespace velaro
