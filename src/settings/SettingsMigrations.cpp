// The launch-time migrations of the defaults store. The order matters: each move looks at its keys before
// their fallbacks are registered, so it sees only what the user or an older version stored.
#include "settings/SettingsMigrations.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/Color.h"
#include "settings/SettingsJson.h"
#include "settings/SettingsKeys.h"
#include "settings/ValueTypes.h"

namespace velaro {

namespace {

namespace keys = settings_keys;

// What the user stored under a key, ignoring fallbacks registered earlier in this process.
PlistValue storedObject(const DefaultsStore& defaults, const std::string& key) {
    return defaults.hasStoredValue(key) ? defaults.object(key) : PlistValue();
}

// Registers the defaults of these rows of the table as fallbacks.
template <class... Rows>
void registerFallbacks(DefaultsStore& defaults, const Rows&... rows) {
    auto dictionary = PlistValue::object();
    ((dictionary[rows.key] = keys::storedForm(rows.defaultValue)), ...);
    defaults.registerDefaults(dictionary);
}

// An older default of 10 was too tight for the stroke; users who never changed it get the new one once.
void migrateStrokeRadius(DefaultsStore& defaults) {
    constexpr const char* marker = "strokeRadiusMigrated";
    const auto radius = storedObject(defaults, keys::strokeCurveRadius.key);
    if (radius.is_number() && radius.get<double>() == 10.0 && !defaults.boolForKey(marker))
        defaults.set(keys::strokeCurveRadius.key, keys::strokeCurveRadius.defaultValue);
    defaults.set(marker, true);
}

// The waves once shared the bars' colour settings; a user who had chosen them keeps them for the waves.
void migrateWaveColors(DefaultsStore& defaults) {
    if (defaults.hasStoredValue(keys::vizWaveColorMode.key)) return;
    const auto mode = storedObject(defaults, keys::vizColorMode.key);
    if (!mode.is_string()) return;
    const auto m = mode.get<std::string>();
    defaults.set(keys::vizWaveColorMode.key, keys::vizColorMode.check.accepts(m) ? m : std::string("mono"));

    const auto solid = storedObject(defaults, keys::vizSolidColor.key);
    if (solid.is_string() && colorFromHex(solid.get<std::string>()))
        defaults.set(keys::vizWaveSolidColor.key, solid.get<std::string>());

    const auto speed = storedObject(defaults, keys::vizHueSpeed.key);
    const double v = speed.is_number() ? speed.get<double>() : NAN;
    const auto& waveSpeed = keys::vizWaveHueSpeed;
    defaults.set(waveSpeed.key, waveSpeed.check.contains(v) ? v : waveSpeed.defaultValue);
}

// Waves were once sized by a wavelength; the same look is about 5 ÷ wavelength peaks.
void migrateWavelength(DefaultsStore& defaults) {
    constexpr const char* legacy = "vizWaveWavelength";
    const auto wavelength = storedObject(defaults, legacy);
    if (!wavelength.is_number()) return;
    const auto& peaksRow = keys::vizWavePeaks;
    if (!defaults.hasStoredValue(peaksRow.key)) {
        const double w = wavelength.get<double>();
        const double peaks = (w >= 0.4 && w <= 2.0) ? std::round(5.0 / w) : 5.0;
        defaults.set(peaksRow.key, static_cast<int>(std::clamp(peaks, peaksRow.check.lo, peaksRow.check.hi)));
    }
    defaults.remove(legacy);
}

// The progress bar used to be a debug switch; whoever had it on keeps the bar. Returns whether it did.
bool migrateProgressSwitch(DefaultsStore& defaults) {
    constexpr const char* legacy = "progress.debugEnabled";
    const auto old = storedObject(defaults, legacy);
    bool wrote = false;
    if (old.is_boolean() && old.get<bool>() && !defaults.hasStoredValue(keys::progressEnabled.key)) {
        defaults.set(keys::progressEnabled.key, true);
        wrote = true;
    }
    defaults.remove(legacy);
    return wrote;
}

// Colour zones replaced the single manual colour; seed them with that colour so the bar looks the same.
void seedColorZones(DefaultsStore& defaults) {
    if (defaults.hasStoredValue(keys::overlayColorZones.key)) return;
    const auto stored = defaults.stringValue(keys::manualColor.key);
    const Color color =
        (stored ? colorFromHex(*stored) : std::nullopt).value_or(keys::manualColor.defaultValue);
    const OverlayColorZones zones({hexString(color)}, false, false, 1.0);
    if (auto data = encodeSortedKeys(zones))
        defaults.set(keys::overlayColorZones.key, plistData(std::move(*data)));
}

}  // namespace

MigrationOutcome migrateStoredKeys(DefaultsStore& defaults) {
    MigrationOutcome outcome;
    migrateStrokeRadius(defaults);
    registerFallbacks(defaults, keys::overlayExtraDepth, keys::seamCoverDepth, keys::seamAutoHide,
                      keys::liveCaptureFPS, keys::vizBarThickness, keys::vizBarGap);
    migrateWaveColors(defaults);
    registerFallbacks(defaults, keys::vizColorMode, keys::vizHueSpeed, keys::vizWaveColorMode,
                      keys::vizWaveHueSpeed, keys::vizPalette, keys::vizWaveEdgeSoftness,
                      keys::vizWaveOpacity, keys::vizOpacity);
    migrateWavelength(defaults);
    registerFallbacks(defaults, keys::vizWavePeaks, keys::vizWaveCount, keys::vizWaveSpectrum,
                      keys::progressColorMode, keys::progressHueSpeed, keys::progressOpacity,
                      keys::progressModifier);
    const bool progressSwitched = migrateProgressSwitch(defaults);
    registerFallbacks(defaults, keys::progressEnabled);
    outcome.progressEnabledByMigration = progressSwitched;
    registerFallbacks(defaults, keys::progressKeySeekEnabled, keys::progressAutoHide,
                      keys::progressAutoHideSeconds, keys::vizTrailEnabled, keys::vizTrailLength,
                      keys::vizBloomEnabled, keys::vizBloomIntensity, keys::vizBloomRadius, keys::vizStyle,
                      keys::vizEnabled);
    defaults.remove("viz.audio.debugEnabled");
    defaults.remove("viz.render.debugEnabled");
    seedColorZones(defaults);
    return outcome;
}

}  // namespace velaro
