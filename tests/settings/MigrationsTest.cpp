// Launch-time migrations: each move, its guard, the fallbacks, and that a second run moves nothing again.
#include "settings/SettingsMigrations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "settings/ValueTypes.h"
#include "support/FakeDefaultsStore.h"

namespace velaro {
namespace {

using test::FakeDefaultsStore;

OverlayColorZones storedZones(const DefaultsStore& store) {
    const auto data = store.dataValue("overlayColorZones");
    EXPECT_TRUE(data.has_value());
    return data ? OverlayColorZones::decode(*data).value_or(OverlayColorZones{}) : OverlayColorZones{};
}

TEST(MigrationsStroke, OldDefaultRadiusMovesOnceOnly) {
    FakeDefaultsStore store;
    store.seed("strokeCurveRadius", 10.0);
    migrateStoredKeys(store);
    EXPECT_EQ(store.doubleValue("strokeCurveRadius"), 20.0);
    EXPECT_EQ(store.boolValue("strokeRadiusMigrated"), true);

    FakeDefaultsStore marked;
    marked.seed("strokeCurveRadius", 10.0);
    marked.seed("strokeRadiusMigrated", true);
    migrateStoredKeys(marked);
    EXPECT_EQ(marked.doubleValue("strokeCurveRadius"), 10.0);

    FakeDefaultsStore custom;
    custom.seed("strokeCurveRadius", 12.0);
    migrateStoredKeys(custom);
    EXPECT_EQ(custom.doubleValue("strokeCurveRadius"), 12.0);
    EXPECT_EQ(custom.boolValue("strokeRadiusMigrated"), true);
}

TEST(MigrationsWaveColors, FreshStoreMovesNothingAndReadsFallbacks) {
    FakeDefaultsStore store;
    migrateStoredKeys(store);
    EXPECT_FALSE(store.hasStoredValue("vizWaveColorMode"));
    EXPECT_EQ(store.stringValue("vizWaveColorMode"), "palette");
    EXPECT_EQ(store.stringValue("vizColorMode"), "rainbow");
}

TEST(MigrationsWaveColors, BarColoursCarryOverToTheWaves) {
    FakeDefaultsStore store;
    store.seed("vizColorMode", "solid");
    store.seed("vizSolidColor", "#12ab34");
    migrateStoredKeys(store);
    EXPECT_EQ(store.stringValue("vizWaveColorMode"), "solid");
    EXPECT_EQ(store.stringValue("vizWaveSolidColor"), "#12ab34");  // copied as written
    EXPECT_EQ(store.doubleValue("vizWaveHueSpeed"), 12.0);

    FakeDefaultsStore unknown;
    unknown.seed("vizColorMode", "sparkle");
    unknown.seed("vizSolidColor", "not a colour");
    migrateStoredKeys(unknown);
    EXPECT_EQ(unknown.stringValue("vizWaveColorMode"), "mono");
    EXPECT_FALSE(unknown.hasStoredValue("vizWaveSolidColor"));
}

TEST(MigrationsWaveColors, HueSpeedIsCopiedOnlyInsideItsRange) {
    for (const auto& [stored, expected] :
         {std::pair{75.0, 12.0}, {60.0, 60.0}, {0.0, 0.0}, {-1.0, 12.0}, {NAN, 12.0}}) {
        FakeDefaultsStore store;
        store.seed("vizColorMode", "rainbow");
        store.seed("vizHueSpeed", stored);
        migrateStoredKeys(store);
        EXPECT_EQ(store.doubleValue("vizWaveHueSpeed"), expected) << "stored " << stored;
    }
    FakeDefaultsStore text;
    text.seed("vizColorMode", "rainbow");
    text.seed("vizHueSpeed", "30");
    migrateStoredKeys(text);
    EXPECT_EQ(text.doubleValue("vizWaveHueSpeed"), 12.0);
}

TEST(MigrationsWaveColors, ExistingWaveModeLeavesEveryWaveKeyAlone) {
    FakeDefaultsStore store;
    store.seed("vizWaveColorMode", "rainbow");
    store.seed("vizColorMode", "solid");
    store.seed("vizSolidColor", "#FF0000");
    store.seed("vizHueSpeed", 40.0);
    migrateStoredKeys(store);
    EXPECT_EQ(store.stringValue("vizWaveColorMode"), "rainbow");
    EXPECT_FALSE(store.hasStoredValue("vizWaveSolidColor"));
    EXPECT_FALSE(store.hasStoredValue("vizWaveHueSpeed"));
}

TEST(MigrationsWavelength, BecomesPeaksRoundedHalfAwayFromZero) {
    for (const auto& [wavelength, peaks] : {std::pair{1.0, 5}, {0.4, 13}, {2.0, 3}, {3.0, 5}, {0.1, 5}}) {
        FakeDefaultsStore store;
        store.seed("vizWaveWavelength", wavelength);
        migrateStoredKeys(store);
        EXPECT_EQ(store.object("vizWavePeaks"), PlistValue(peaks)) << "wavelength " << wavelength;
        EXPECT_TRUE(store.object("vizWavePeaks").is_number_integer());
        EXPECT_FALSE(store.hasStoredValue("vizWaveWavelength"));
    }
}

TEST(MigrationsWavelength, StoredPeaksWinAndNonNumbersStay) {
    FakeDefaultsStore store;
    store.seed("vizWaveWavelength", 1.0);
    store.seed("vizWavePeaks", 30);
    migrateStoredKeys(store);
    EXPECT_EQ(store.integerValue("vizWavePeaks"), 30);
    EXPECT_FALSE(store.hasStoredValue("vizWaveWavelength"));

    FakeDefaultsStore text;
    text.seed("vizWaveWavelength", "long");
    migrateStoredKeys(text);
    EXPECT_TRUE(text.hasStoredValue("vizWaveWavelength"));
    EXPECT_FALSE(text.hasStoredValue("vizWavePeaks"));
}

TEST(MigrationsProgress, LegacySwitchTurnsTheBarOnUnlessChosen) {
    FakeDefaultsStore store;
    store.seed("progress.debugEnabled", true);
    EXPECT_TRUE(migrateStoredKeys(store).progressEnabledByMigration);
    EXPECT_EQ(store.boolValue("progressEnabled"), true);
    EXPECT_FALSE(store.hasStoredValue("progress.debugEnabled"));

    FakeDefaultsStore chosen;
    chosen.seed("progress.debugEnabled", true);
    chosen.seed("progressEnabled", false);
    EXPECT_FALSE(migrateStoredKeys(chosen).progressEnabledByMigration);
    EXPECT_EQ(chosen.boolValue("progressEnabled"), false);
    EXPECT_FALSE(chosen.hasStoredValue("progress.debugEnabled"));

    FakeDefaultsStore number;
    number.seed("progress.debugEnabled", 1);
    EXPECT_FALSE(migrateStoredKeys(number).progressEnabledByMigration);
    EXPECT_FALSE(number.hasStoredValue("progressEnabled"));
    EXPECT_FALSE(number.hasStoredValue("progress.debugEnabled"));
}

TEST(MigrationsCleanup, RetiredKeysAreDeleted) {
    FakeDefaultsStore store;
    store.seed("viz.audio.debugEnabled", true);
    store.seed("viz.render.debugEnabled", "x");
    migrateStoredKeys(store);
    EXPECT_FALSE(store.hasStoredValue("viz.audio.debugEnabled"));
    EXPECT_FALSE(store.hasStoredValue("viz.render.debugEnabled"));
}

TEST(MigrationsFallbacks, RegisteredButNeverStored) {
    FakeDefaultsStore store;
    migrateStoredKeys(store);
    EXPECT_EQ(store.object("liveCaptureFPS"), PlistValue(15));
    EXPECT_TRUE(store.object("liveCaptureFPS").is_number_integer());
    EXPECT_EQ(store.doubleValue("seamCoverDepth"), 4.0);
    EXPECT_EQ(store.doubleValue("vizWaveOpacity"), 0.8);
    EXPECT_EQ(store.stringValue("progressModifier"), "option");
    EXPECT_EQ(store.boolValue("progressKeySeekEnabled"), true);
    EXPECT_EQ(store.stringValue("vizStyle"), "bars");
    EXPECT_EQ(store.stringArrayValue("vizPalette")->size(), 8u);
    EXPECT_FALSE(store.hasStoredValue("liveCaptureFPS"));
    EXPECT_FALSE(store.hasStoredValue("vizPalette"));
}

TEST(MigrationsColorZones, SeededFromTheManualColour) {
    FakeDefaultsStore store;
    store.seed("manualOverrideColor", "#1A2B3C");
    migrateStoredKeys(store);
    const auto zones = storedZones(store);
    EXPECT_EQ(zones.stops, std::vector<std::string>{"#1A2B3C"});
    EXPECT_FALSE(zones.blend);
    EXPECT_FALSE(zones.multicolorEnabled);
    EXPECT_EQ(zones.transitionWidth, 1.0);

    FakeDefaultsStore malformed;
    malformed.seed("manualOverrideColor", "#1A2B3");
    migrateStoredKeys(malformed);
    EXPECT_EQ(storedZones(malformed).stops, std::vector<std::string>{"#000000"});
}

TEST(MigrationsColorZones, ExistingZonesAreKept) {
    FakeDefaultsStore store;
    store.seed("overlayColorZones", plistData({'{', '}'}));
    store.seed("manualOverrideColor", "#FFFFFF");
    migrateStoredKeys(store);
    EXPECT_EQ(store.object("overlayColorZones"), plistData({'{', '}'}));
}

TEST(MigrationsRepeat, SecondRunOnlyRewritesTheMarker) {
    FakeDefaultsStore store;
    store.seed("strokeCurveRadius", 10.0);
    store.seed("vizColorMode", "artwork");
    store.seed("vizHueSpeed", 30.0);
    store.seed("vizWaveWavelength", 0.5);
    store.seed("progress.debugEnabled", true);
    store.seed("manualOverrideColor", "#00FF00");
    migrateStoredKeys(store);
    const auto afterFirst = store.persistentDomain();

    store.clearWrites();
    const auto second = migrateStoredKeys(store);
    EXPECT_EQ(store.persistentDomain(), afterFirst);
    EXPECT_FALSE(second.progressEnabledByMigration);
    for (const auto& write : store.writes()) {
        if (write.value.is_null()) continue;  // removing an absent key changes nothing
        EXPECT_EQ(write.key, "strokeRadiusMigrated");
    }
}

}  // namespace
}  // namespace velaro
