// Loading the settings store: defaults, load checks on stored values only, overrides, legacy forms and the
// write-back after the first load.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "settings/OverlaySettings.h"
#include "settings/SettingsJson.h"
#include "support/FakeDefaultsStore.h"
#include "support/LogCapture.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeDefaultsStore;

struct Loaded {
    explicit Loaded(const PlistValue& stored = PlistValue::object()) : store(stored) {
        settings = std::make_unique<OverlaySettings>(store, loop);
    }
    FakeDefaultsStore store;
    test::VirtualLoop loop;
    std::unique_ptr<OverlaySettings> settings;
};

// Loads with one app's profile in force (the app is frontmost, no editing).
struct WithProfile : Loaded {
    WithProfile(const PlistValue& stored, const PlistValue& overrides) : Loaded(stored) {
        store.seed(ProfileManager::appIdsKey, {"com.app"});
        store.seed(ProfileManager::overrideKey("com.app"), overrides);
        profiles = std::make_unique<ProfileManager>(store);
        settings->attachProfileManager(*profiles);
        settings->setRuntimeAppId("com.app");
    }
    std::unique_ptr<ProfileManager> profiles;
};

TEST(OverlaySettingsLoad, FreshStoreLoadsTheTableDefaults) {
    Loaded l;
    const auto& s = *l.settings;
    EXPECT_EQ(s.style(), MenuBarStyle::live);
    EXPECT_FALSE(s.autoSample());
    EXPECT_EQ(s.manualColor(), Color::black());
    EXPECT_EQ(s.overlayColorZones().stops, std::vector<std::string>{"#000000"});
    EXPECT_EQ(s.hueDrift(), OverlayHueDrift{});
    EXPECT_EQ(s.corners(), CornerSettings{});
    EXPECT_TRUE(s.appShortcuts().assignments.empty());
    EXPECT_EQ(s.cornerBottomLeftZ(), BottomCornerZ::wallpaper);
    EXPECT_EQ(s.cornerScreenTopLeftZ(), BottomCornerZ::wallpaper);
    EXPECT_EQ(s.liveCaptureFPS(), 15);
    EXPECT_TRUE(s.masterEnabled());
    EXPECT_TRUE(s.pauseOnMenuBarHover());
    EXPECT_EQ(s.styleOpacityOverBlur(), 0.45);
    EXPECT_EQ(s.alwaysOnOverlayHeight(), 32.0);
    EXPECT_EQ(s.animationKind(), OverlayAnimationKind::rise);
    EXPECT_EQ(s.strokeCurveRadius(), 20.0);
    EXPECT_EQ(s.vizSolidColor(), Color::rgb(1.0, 0.451, 0.0));
    EXPECT_EQ(s.vizWaveColorMode(), "palette");
    EXPECT_EQ(s.vizPalette(), vizDefaultPalette());
    EXPECT_EQ(s.progressModifier(), "option");
    EXPECT_EQ(s.vizStyle(), "bars");
    EXPECT_FALSE(s.shortcutRecordingActive());
    EXPECT_EQ(s.vizStatus(), std::nullopt);
    EXPECT_TRUE(s.pillGeometryByScreen().empty());
}

// What a first launch leaves in an empty store: the migration marker, the seeded colour zones and the
// checked values of the write-back rows. Member assignments during the load write nothing.
TEST(OverlaySettingsLoad, FreshStoreWritesExactlyTheseKeys) {
    Loaded l;
    const std::set<std::string> expected{"strokeRadiusMigrated",
                                         "overlayColorZones",
                                         "overlayExtraDepth",
                                         "seamCoverDepth",
                                         "liveCaptureFPS",
                                         "vizBarThickness",
                                         "vizBarGap",
                                         "vizColorMode",
                                         "vizHueSpeed",
                                         "vizWaveColorMode",
                                         "vizWaveHueSpeed",
                                         "vizPalette",
                                         "vizWaveEdgeSoftness",
                                         "vizWaveOpacity",
                                         "vizOpacity",
                                         "vizWavePeaks",
                                         "vizWaveCount",
                                         "vizWaveSpectrum",
                                         "progressColorMode",
                                         "progressOpacity",
                                         "progressModifier",
                                         "progressHueSpeed",
                                         "progressAutoHideSeconds",
                                         "vizTrailLength",
                                         "vizBloomIntensity",
                                         "vizBloomRadius",
                                         "vizStyle"};
    std::set<std::string> stored, removed;
    for (const auto& write : l.store.writes()) (write.value.is_null() ? removed : stored).insert(write.key);
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(removed, (std::set<std::string>{"progress.debugEnabled", "viz.audio.debugEnabled",
                                              "viz.render.debugEnabled"}));
    EXPECT_EQ(l.store.object("vizWavePeaks"), PlistValue(20));
    EXPECT_TRUE(l.store.object("vizWavePeaks").is_number_integer());
    EXPECT_TRUE(l.store.object("vizBarGap").is_number_float());
    EXPECT_EQ(l.store.object("vizStyle"), PlistValue("bars"));
    EXPECT_EQ(l.store.stringArrayValue("vizPalette"), vizDefaultPalette());
}

TEST(OverlaySettingsLoad, StoredValuesNeverEchoBackDuringLoad) {
    Loaded l(PlistValue{{"menuBarStyle", "gradient"},
                        {"fadeAutoSampleColor", false},
                        {"overlayOpacity", 0.3},
                        {"manualOverrideColor", "#112233"},
                        {"layerPosition", "behindWindows"},
                        {"emptyDesktopMode", "blur"},
                        {"cornerBottomRightZ", "above"},
                        {"overlayAnimationKind", "Spread"},
                        {"blurRadius", 50.0}});
    for (const auto& key : {"menuBarStyle", "fadeAutoSampleColor", "autoSampleColor", "overlayOpacity",
                            "manualOverrideColor", "layerPosition", "emptyDesktopMode", "cornerBottomRightZ",
                            "overlayAnimationKind", "blurRadius", "cornerSettings", "overlayHueDrift"})
        EXPECT_FALSE(l.store.wasWritten(key)) << key;
    EXPECT_EQ(l.settings->layerPosition(), LayerPosition::behindWindows);
    EXPECT_EQ(l.settings->emptyDesktopMode(), EmptyDesktopMode::blur);
    EXPECT_EQ(l.settings->animationKind(), OverlayAnimationKind::spread);
}

TEST(OverlaySettingsLoad, NumbersAreBoundedStoredAndOverriding) {
    Loaded stored(PlistValue{{"blurRadius", 50.0}, {"vizBarGap", 0.5}, {"notchStrokeHeight", -10.5}});
    EXPECT_EQ(stored.settings->blurRadius(), 12.0);  // these rows load a number beyond as their default
    EXPECT_EQ(stored.store.doubleValue("blurRadius"), 50.0);  // not a write-back key: left as stored
    EXPECT_EQ(stored.settings->vizBarGap(), 1.0);
    EXPECT_EQ(stored.store.doubleValue("vizBarGap"), 1.0);  // rewritten with the checked value
    EXPECT_EQ(stored.settings->notchStrokeHeight(), 0.0);

    test::LogCapture log;
    WithProfile overridden(PlistValue{{"blurRadius", 20.0}},
                           PlistValue{{"blurRadius", 50.0}, {"vizBarGap", 0.5}, {"beamBrightness", 0.25}});
    EXPECT_EQ(overridden.settings->blurRadius(), 40.0);
    EXPECT_EQ(overridden.settings->vizBarGap(), 1.0);
    EXPECT_EQ(overridden.settings->beamBrightness(), 0.25);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"DEFAULTS blurRadius (app profile): 50 is outside 2...40; using 40",
                                        "DEFAULTS vizBarGap (app profile): 0.5 is outside 1...12; using 1"}));
}

TEST(OverlaySettingsLoad, CaptureRateKeepsOnlyOfferedRates) {
    for (const auto& [stored, loaded] : {std::pair{25, 15}, {120, 120}, {15, 15}, {10, 10}}) {
        Loaded l(PlistValue{{"liveCaptureFPS", stored}});
        EXPECT_EQ(l.settings->liveCaptureFPS(), loaded) << stored;
        EXPECT_EQ(l.store.integerValue("liveCaptureFPS"), loaded);
    }
}

TEST(OverlaySettingsLoad, FixedStringSetsCheckStoredButNotOverrides) {
    Loaded stored(PlistValue{{"vizColorMode", "sparkle"}, {"progressModifier", "hyper"}});
    EXPECT_EQ(stored.settings->vizColorMode(), "rainbow");
    EXPECT_EQ(stored.settings->progressModifier(), "option");

    WithProfile overridden(PlistValue::object(), PlistValue{{"vizColorMode", "sparkle"}});
    EXPECT_EQ(overridden.settings->vizColorMode(), "sparkle");
}

TEST(OverlaySettingsLoad, StyleNamesIncludingLegacyOnes) {
    const std::pair<const char*, MenuBarStyle> cases[] = {
        {"Live Sampling", MenuBarStyle::live}, {"liquidGlass", MenuBarStyle::live},
        {"gradient", MenuBarStyle::gradient},  {"solid", MenuBarStyle::solid},
        {"Gradient", MenuBarStyle::solid},     {"whatever", MenuBarStyle::solid}};
    for (const auto& [name, style] : cases) {
        Loaded l(PlistValue{{"menuBarStyle", name}});
        EXPECT_EQ(l.settings->style(), style) << name;
    }
    // An override string always wins, even one that names no style.
    WithProfile overridden(PlistValue{{"menuBarStyle", "gradient"}}, PlistValue{{"menuBarStyle", "bogus"}});
    EXPECT_EQ(overridden.settings->style(), MenuBarStyle::solid);
    // An override of another type is ignored.
    WithProfile wrongType(PlistValue{{"menuBarStyle", "gradient"}}, PlistValue{{"menuBarStyle", 3}});
    EXPECT_EQ(wrongType.settings->style(), MenuBarStyle::gradient);
}

TEST(OverlaySettingsLoad, AutoSampleFollowsTheLoadedStyle) {
    EXPECT_TRUE(Loaded(PlistValue{{"menuBarStyle", "gradient"}}).settings->autoSample());
    EXPECT_FALSE(Loaded(PlistValue{{"menuBarStyle", "solid"}}).settings->autoSample());
    Loaded gradient(
        PlistValue{{"menuBarStyle", "gradient"}, {"autoSampleColor", true}, {"fadeAutoSampleColor", false}});
    EXPECT_FALSE(gradient.settings->autoSample());
}

TEST(OverlaySettingsLoad, BottomCornerStackingFallsBackToLegacySwitch) {
    Loaded legacyOff(PlistValue{{"cornerBottomLeftBehind", false}, {"cornerBottomRightBehind", true}});
    EXPECT_EQ(legacyOff.settings->cornerBottomLeftZ(), BottomCornerZ::above);
    EXPECT_EQ(legacyOff.settings->cornerBottomRightZ(), BottomCornerZ::wallpaper);

    Loaded both(PlistValue{{"cornerBottomLeftZ", "belowActive"}, {"cornerBottomLeftBehind", false}});
    EXPECT_EQ(both.settings->cornerBottomLeftZ(), BottomCornerZ::belowActive);

    // The override's legacy switch comes before the stored stacking string.
    WithProfile overridden(PlistValue{{"cornerBottomLeftZ", "belowActive"}},
                           PlistValue{{"cornerBottomLeftBehind", false}});
    EXPECT_EQ(overridden.settings->cornerBottomLeftZ(), BottomCornerZ::above);
    EXPECT_FALSE(overridden.store.wasWritten("cornerBottomLeftBehind"));

    Loaded unknown(PlistValue{{"cornerScreenTopLeftZ", "Above"}});
    EXPECT_EQ(unknown.settings->cornerScreenTopLeftZ(), BottomCornerZ::wallpaper);
}

TEST(OverlaySettingsLoad, PaletteIsNormalisedCutAndReplaced) {
    PlistValue twelve = PlistValue::array();
    for (int i = 0; i < 12; ++i)
        twelve.push_back("#0000" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    Loaded longList(PlistValue{{"vizPalette", twelve}});
    ASSERT_EQ(longList.settings->vizPalette().size(), 10u);
    EXPECT_EQ(longList.settings->vizPalette().back(), "#000009");

    Loaded tooFew(PlistValue{{"vizPalette", {"#FF0000", "red", "#12", "##00FF00"}}});
    EXPECT_EQ(tooFew.settings->vizPalette(), vizDefaultPalette());

    Loaded loose(PlistValue{{"vizPalette", {"ff0000", " #00ff00 "}}});
    EXPECT_EQ(loose.settings->vizPalette(), (std::vector<std::string>{"#FF0000", "#00FF00"}));

    WithProfile overridden(PlistValue::object(), PlistValue{{"vizPalette", {"junk"}}});
    EXPECT_EQ(overridden.settings->vizPalette(), std::vector<std::string>{"junk"});
}

TEST(OverlaySettingsLoad, ColorZonesDefaultFollowsTheLoadedManualColour) {
    // Undecodable zones are not re-seeded by the migration, so the loader's own default decides.
    Loaded l(PlistValue{{"manualOverrideColor", "#112233"}, {"overlayColorZones", plistData({'x'})}});
    EXPECT_EQ(l.settings->overlayColorZones().stops, std::vector<std::string>{"#112233"});
    EXPECT_FALSE(l.settings->overlayColorZones().multicolorEnabled);

    // With a profile in force the default follows the profile's colour, not the global one.
    WithProfile profile(
        PlistValue{{"manualOverrideColor", "#112233"}, {"overlayColorZones", plistData({'x'})}},
        PlistValue{{"manualOverrideColor", "#445566"}});
    EXPECT_EQ(profile.settings->overlayColorZones().stops, std::vector<std::string>{"#445566"});
}

TEST(OverlaySettingsLoad, MalformedOverridesAreIgnored) {
    WithProfile w(PlistValue{{"overlayOpacity", 0.4}, {"gradientTopColor", "#FF0000"}},
                  PlistValue{{"overlayOpacity", "0.9"},
                             {"gradientTopColor", "#GG0000"},
                             {"overlayHueDrift", "not data"},
                             {"cornerSettings", plistData({'[', ']'})}});
    EXPECT_EQ(w.settings->overlayOpacity(), 0.4);
    EXPECT_EQ(w.settings->gradientTopColor(), Color::rgb(1, 0, 0));
    EXPECT_EQ(w.settings->hueDrift(), OverlayHueDrift{});
    EXPECT_EQ(w.settings->corners(), CornerSettings{});
}

TEST(OverlaySettingsLoad, WholeNumbersAreTruncatedAndBeyondIntRangeBounded) {
    WithProfile w(PlistValue{{"vizWaveCount", 8}}, PlistValue{{"vizWaveCount", 1e12}, {"vizWavePeaks", 7.9}});
    EXPECT_EQ(w.settings->vizWaveCount(), 50);
    EXPECT_EQ(w.settings->vizWavePeaks(), 7);
}

TEST(OverlaySettingsLoad, GlobalOnlyStoreKeysIgnoreOverrides) {
    WithProfile w(PlistValue::object(), PlistValue{{"greenButtonFillsWindow", true},
                                                   {"liveCaptureFPS", 60},
                                                   {"appShortcuts", plistData({'{', '}'})},
                                                   {"showDockIcon", true}});
    EXPECT_FALSE(w.settings->maximiseButtonFillsWindow());
    EXPECT_EQ(w.settings->liveCaptureFPS(), 15);
    // A global-only key that is not store-only still honours a well-formed override.
    EXPECT_TRUE(w.settings->showTaskbarIcon());
}

// A size beyond its control is bounded to the control's end, in an override too; a value of the wrong kind or
// refused by its check takes the default. Each says so once in the log, however often the store is read
// again, and the stored value stays as it was: nothing of the file is lost.
TEST(OverlaySettingsLoad, SizesBeyondTheirControlsAreBoundedAndWhatIsNotTakenAsStoredIsSaidOnce) {
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const auto corners = settings_json::toBytes(R"({"bottomRadius":1e6})");
    const auto drift = settings_json::toBytes(R"({"periodSeconds":1e308,"transitionWidth":-3})");
    const PlistValue file{{"alwaysOnOverlayHeight", 1e308},
                          {"overlayHueDrift", plistData(drift)},
                          {"alwaysOnCornerRadius", -1e6},
                          {"keepOverlayAlwaysOn", "yes"},
                          {"blurRadius", 50.0},
                          {"beamLength", 1e308},
                          {"cornerSettings", plistData(corners)}};
    test::LogCapture log;
    Loaded l(file);
    EXPECT_EQ(l.settings->alwaysOnOverlayHeight(), 160.0);
    EXPECT_EQ(l.settings->alwaysOnCornerRadius(), 0.0);
    EXPECT_EQ(l.settings->beamLength(), 1.0);
    EXPECT_FALSE(l.settings->keepOverlayAlwaysOn());
    EXPECT_EQ(l.settings->corners().bottomRadius, 48.0);
    EXPECT_EQ(l.settings->hueDrift().periodSeconds, 30.0);
    const std::vector<std::string> said{
        "DEFAULTS overlayHueDrift.periodSeconds: 1e+308 is outside 0.5...30; using 30",
        "DEFAULTS overlayHueDrift.transitionWidth: -3 is outside 0...1; using 0",
        "DEFAULTS cornerSettings.bottomRadius: 1000000 is outside 0...48; using 48",
        "DEFAULTS blurRadius: 50 is outside 2...40; using the default",
        "DEFAULTS beamLength: 1e+308 is outside 0...1; using 1",
        "DEFAULTS keepOverlayAlwaysOn: \"yes\" is not true or false; using the default",
        "DEFAULTS alwaysOnOverlayHeight: 1e+308 is outside 24...160; using 160",
        "DEFAULTS alwaysOnCornerRadius: -1000000 is outside 0...60; using 0"};
    EXPECT_EQ(log.lines, said);
    l.store.changeOutside("overlayOpacity", 0.5);
    l.loop.runUntilIdle();
    EXPECT_EQ(log.lines, said) << "said again on a later read";
    for (const auto& [key, value] : file.items()) EXPECT_EQ(l.store.object(key), value) << key;

    // A later edit beyond the sliders is bounded just the same.
    l.store.changeOutside("alwaysOnOverlayHeight", 900.5);
    l.store.changeOutside("alwaysOnCornerRadius", -3.0);
    l.loop.runUntilIdle();
    EXPECT_EQ(l.settings->alwaysOnOverlayHeight(), 160.0);
    EXPECT_EQ(l.settings->alwaysOnCornerRadius(), 0.0);
    // Numbers no file holds (its reader refuses them), as another store might hand them over.
    l.store.changeOutside("alwaysOnOverlayHeight", nan);
    l.store.changeOutside("alwaysOnCornerRadius", inf);
    l.loop.runUntilIdle();
    EXPECT_EQ(l.settings->alwaysOnOverlayHeight(), 32.0);
    EXPECT_EQ(l.settings->alwaysOnCornerRadius(), 60.0);
    EXPECT_EQ(log.count("alwaysOnOverlayHeight: NaN is not a number; using the default"), 1);
    EXPECT_EQ(log.count("alwaysOnCornerRadius: Infinity is outside 0...60; using 60"), 1);

    WithProfile overridden(PlistValue::object(),
                           PlistValue{{"alwaysOnOverlayHeight", -1e308}, {"beamTopStreakHeight", 11.0}});
    EXPECT_EQ(overridden.settings->alwaysOnOverlayHeight(), 24.0);
    EXPECT_EQ(overridden.settings->beamTopStreakHeight(), 10.0);
}

// A number row of the key table: its key, bounds, default, and what it loaded as; and whether it is whole.
struct TableNumber {
    const char* key;
    Bounds bounds;
    double defaultValue;
    std::function<double(const OverlaySettings&)> loaded;
    bool whole;
};
template <class T, class Check, class Read>
void addNumber(std::vector<TableNumber>& numbers, const settings_keys::Entry<T, Check>& row, Read read) {
    if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int>) {
        Bounds bounds{0, 0};
        if constexpr (std::is_same_v<Check, Bounds>) bounds = row.check;
        numbers.push_back({row.key, bounds, double(row.defaultValue),
                           [read](const OverlaySettings& s) { return double(read(s)); },
                           std::is_same_v<T, int>});
    }
}

// What a row is tried with, as a file holds it, and what it must load as: its control's ends and just beyond
// (by a thousandth of the span, or one for a whole number), a million beyond, 0 and -1, the largest numbers a
// file holds either way, the 64-bit integers' ends; and last not a number, which no file holds. Beyond the
// ends a number loads as the nearer end, or stored in a row whose bounds say so, as the default.
std::vector<std::pair<PlistValue, double>> triedValues(const TableNumber& n, bool inProfile) {
    const auto [lo, hi, beyond] = n.bounds;
    const double step = n.whole ? 1 : (hi - lo) / 1000;
    const bool toDefault = !inProfile && beyond == Bounds::Beyond::theDefault;
    const auto inside = [&](double v) {
        return v >= lo && v <= hi ? v : toDefault ? n.defaultValue : std::clamp(v, lo, hi);
    };
    const auto tried = [&](double v) { return std::pair<PlistValue, double>{v, inside(v)}; };
    return {tried(lo),
            tried(hi),
            tried(lo - step),
            tried(hi + step),
            tried(-1e6),
            tried(1e6),
            tried(0),
            tried(-1),
            tried(1e308),
            tried(-1e308),
            {std::numeric_limits<std::int64_t>::max(), inside(9.3e18)},
            {std::numeric_limits<std::int64_t>::min(), inside(-9.3e18)},
            {std::numeric_limits<std::uint64_t>::max(), inside(1.9e19)},
            {std::numeric_limits<double>::quiet_NaN(), n.defaultValue}};
}

// Every number of the key table but the capture rate (a picker of a few rates) is bounded to its control. At
// its ends a number loads exactly and says nothing; beyond them, however far, it loads as the nearer end (or,
// stored in a row that says so, as its default) and says so once, stored or in an app's profile. Nothing on the way overflows (the sanitizer build would stop).
TEST(OverlaySettingsLoad, EveryNumberOfTheTableLoadsUpToItsControlsEndsAndNoFurther) {
    std::vector<TableNumber> numbers;
#define VELARO_NUMBER_ROW(member, Type, form, key, def, check, scope, writeBack) \
    addNumber(numbers, settings_keys::member, [](const OverlaySettings& s) { return s.member(); });
    VELARO_PERSISTED_SETTINGS(VELARO_NUMBER_ROW)
#undef VELARO_NUMBER_ROW
    std::erase_if(numbers, [](const TableNumber& n) {
        EXPECT_EQ(n.bounds.lo == n.bounds.hi, n.key == std::string("liveCaptureFPS"))
            << n.key << " unbounded";
        return n.bounds.lo == n.bounds.hi;
    });

    for (std::size_t i = 0; i < triedValues(numbers.front(), false).size(); ++i) {
        // An override that is not a number is passed over, as one of the wrong kind is.
        for (const bool inProfile : {false, true}) {
            PlistValue file = PlistValue::object();
            std::size_t beyond = 0;
            for (const auto& n : numbers) {
                const auto [stored, loaded] = triedValues(n, inProfile)[i];
                file[n.key] = stored;
                beyond += !(stored == PlistValue(loaded));  // not a number equals nothing
            }
            if (inProfile && std::isnan(file[numbers.front().key].get<double>())) continue;
            SCOPED_TRACE(testing::Message() << "case " << i << (inProfile ? " in a profile" : " stored"));
            test::LogCapture log;
            const WithProfile l(inProfile ? PlistValue::object() : file,
                                inProfile ? file : PlistValue::object());
            for (const auto& n : numbers)
                EXPECT_EQ(n.loaded(*l.settings), triedValues(n, inProfile)[i].second)
                    << n.key << " holding " << file[n.key];
            EXPECT_EQ(log.lines.size(), beyond);
            for (const auto& line : log.lines)
                EXPECT_EQ(line.find(" (app profile): ") != std::string::npos, inProfile) << line;
        }
    }
}

// Every row's default passes its own check: a file that holds the defaults loads without a word.
TEST(OverlaySettingsLoad, EveryDefaultPassesItsOwnCheck) {
    PlistValue file = PlistValue::object();
    for (const auto key : settings_keys::allKeys())
        if (auto value = settings_keys::storedDefault(key); !value.is_null()) file[std::string(key)] = value;
    test::LogCapture log;
    Loaded l(file);
    EXPECT_TRUE(log.lines.empty()) << log.lines.front();
}

TEST(OverlaySettingsLoad, UndecodableStoredJsonFallsBackAndStays) {
    const auto junk = plistData({'n', 'o', 'p', 'e'});
    Loaded l(PlistValue{{"cornerSettings", junk}, {"overlayHueDrift", junk}, {"appShortcuts", junk}});
    EXPECT_EQ(l.settings->corners(), CornerSettings{});
    EXPECT_EQ(l.settings->hueDrift(), OverlayHueDrift{});
    EXPECT_TRUE(l.settings->appShortcuts().assignments.empty());
    EXPECT_EQ(l.store.object("cornerSettings"), junk);
}

}  // namespace
}  // namespace velaro
