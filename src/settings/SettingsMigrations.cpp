// The launch-time migrations of the defaults store. The order matters: each move looks at its keys before
// their fallbacks are registered, so it sees only what the user or an older version stored.
#include "settings/SettingsMigrations.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>

#include "base/Color.h"
#include "settings/SettingsJson.h"
#include "settings/SettingsKeys.h"
#include "settings/ValueTypes.h"

namespace velaro {

namespace {

// What the user stored under a key, ignoring fallbacks registered earlier in this process.
PlistValue storedObject(const DefaultsStore& defaults, const std::string& key) {
    return defaults.hasStoredValue(key) ? defaults.object(key) : PlistValue();
}

// Registers the table's defaults of these keys as fallbacks.
void registerFallbacks(DefaultsStore& defaults, std::initializer_list<const char*> keys) {
    auto dictionary = PlistValue::object();
    for (const auto* key : keys) dictionary[key] = settings_keys::storedDefault(key);
    defaults.registerDefaults(dictionary);
}

// An older default of 10 was too tight for the stroke; users who never changed it get the new one once.
void migrateStrokeRadius(DefaultsStore& defaults) {
    constexpr const char* marker = "strokeRadiusMigrated";
    const auto radius = storedObject(defaults, "strokeCurveRadius");
    if (radius.is_number() && radius.get<double>() == 10.0 && !defaults.boolForKey(marker))
        defaults.set("strokeCurveRadius", 20.0);
    defaults.set(marker, true);
}

// The waves once shared the bars' colour settings; a user who had chosen them keeps them for the waves.
void migrateWaveColors(DefaultsStore& defaults) {
    if (defaults.hasStoredValue("vizWaveColorMode")) return;
    const auto mode = storedObject(defaults, "vizColorMode");
    if (!mode.is_string()) return;
    const auto m = mode.get<std::string>();
    const bool known = m == "mono" || m == "solid" || m == "rainbow" || m == "artwork";
    defaults.set("vizWaveColorMode", known ? m : std::string("mono"));

    const auto solid = storedObject(defaults, "vizSolidColor");
    if (solid.is_string() && colorFromHex(solid.get<std::string>()))
        defaults.set("vizWaveSolidColor", solid.get<std::string>());

    const auto speed = storedObject(defaults, "vizHueSpeed");
    const double v = speed.is_number() ? speed.get<double>() : NAN;
    defaults.set("vizWaveHueSpeed", (v >= 0 && v <= 60) ? v : 12.0);
}

// Waves were once sized by a wavelength; the same look is about 5 ÷ wavelength peaks.
void migrateWavelength(DefaultsStore& defaults) {
    const auto wavelength = storedObject(defaults, "vizWaveWavelength");
    if (!wavelength.is_number()) return;
    if (!defaults.hasStoredValue("vizWavePeaks")) {
        const double w = wavelength.get<double>();
        const double peaks = (w >= 0.4 && w <= 2.0) ? std::round(5.0 / w) : 5.0;
        defaults.set("vizWavePeaks", static_cast<int>(std::clamp(peaks, 2.0, 50.0)));
    }
    defaults.remove("vizWaveWavelength");
}

// The progress bar used to be a debug switch; whoever had it on keeps the bar. Returns whether it did.
bool migrateProgressSwitch(DefaultsStore& defaults) {
    constexpr const char* legacy = "progress.debugEnabled";
    const auto old = storedObject(defaults, legacy);
    bool wrote = false;
    if (old.is_boolean() && old.get<bool>() && !defaults.hasStoredValue("progressEnabled")) {
        defaults.set("progressEnabled", true);
        wrote = true;
    }
    defaults.remove(legacy);
    return wrote;
}

// Colour zones replaced the single manual colour; seed them with that colour so the bar looks the same.
void seedColorZones(DefaultsStore& defaults) {
    if (defaults.hasStoredValue("overlayColorZones")) return;
    const auto stored = defaults.stringValue("manualOverrideColor");
    const Color color = (stored ? colorFromHex(*stored) : std::nullopt).value_or(Color::black());
    const OverlayColorZones zones({hexString(color)}, false, false, 1.0);
    if (auto data = encodeSortedKeys(zones)) defaults.set("overlayColorZones", plistData(std::move(*data)));
}

}  // namespace

MigrationOutcome migrateStoredKeys(DefaultsStore& defaults) {
    MigrationOutcome outcome;
    migrateStrokeRadius(defaults);
    registerFallbacks(defaults, {"overlayExtraDepth", "seamCoverDepth", "seamAutoHide", "liveCaptureFPS",
                                 "vizBarThickness", "vizBarGap"});
    migrateWaveColors(defaults);
    registerFallbacks(defaults, {"vizColorMode", "vizHueSpeed", "vizWaveColorMode", "vizWaveHueSpeed",
                                 "vizPalette", "vizWaveEdgeSoftness", "vizWaveOpacity", "vizOpacity"});
    migrateWavelength(defaults);
    registerFallbacks(defaults, {"vizWavePeaks", "vizWaveCount", "vizWaveSpectrum", "progressColorMode",
                                 "progressHueSpeed", "progressOpacity", "progressModifier"});
    const bool progressSwitched = migrateProgressSwitch(defaults);
    registerFallbacks(defaults, {"progressEnabled"});
    outcome.progressEnabledByMigration = progressSwitched;
    registerFallbacks(defaults, {"progressKeySeekEnabled", "progressAutoHide", "progressAutoHideSeconds",
                                 "vizTrailEnabled", "vizTrailLength", "vizBloomEnabled", "vizBloomIntensity",
                                 "vizBloomRadius", "vizStyle", "vizEnabled"});
    defaults.remove("viz.audio.debugEnabled");
    defaults.remove("viz.render.debugEnabled");
    seedColorZones(defaults);
    return outcome;
}

}  // namespace velaro
