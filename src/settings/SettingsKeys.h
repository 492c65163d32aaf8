// The one table of every persisted setting: member, stored form, key, default, load check, scope and whether
// the first load writes it back. Resolve order, defaults, checks, scopes and the registered fallbacks all
// come from this table, so they cannot drift apart.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Color.h"
#include "platform/DefaultsStore.h"
#include "settings/CornerSettings.h"
#include "settings/LoadNotes.h"
#include "settings/ShortcutSettings.h"
#include "settings/ValueTypes.h"

namespace velaro {

// The wave palette offered before the user picks colours of their own.
const std::vector<std::string>& vizDefaultPalette();
inline constexpr Color vizDefaultSolidColor = Color::rgb(1.0, 0.451, 0.0);
using Palette = std::vector<std::string>;

// The stored style name, including the names older versions used for the live style; any other text,
// "solid" included, is the solid style.
MenuBarStyle menuBarStyleFromLegacyName(std::string_view name);

}  // namespace velaro

namespace velaro::settings_keys {

// Where a key may come from and go to.
enum class Scope {
    profile,     // an override wins when present; edits of a profile store an override
    globalOnly,  // edits always go to the defaults store; a well-formed override is still honoured on load
    globalOnlyStore,  // the defaults store alone, on load and on edit
};

// Whether the first load after launch writes the loaded (checked) value back to the defaults store.
enum class WriteBack { no, yes };

// Stored forms. Each tag selects a loader and a writer in the settings store.
struct BoolForm {};
struct DoubleForm {};
struct IntForm {};
struct StringForm {};      // a fixed set, when the check names one, applies to stored strings only
struct ColorForm {};       // "#RRGGBB"; a string that does not parse counts as missing
struct PaletteForm {};     // array of colour strings, normalised on load
struct StyleForm {};       // the fill style, with its legacy names
struct AutoSampleForm {};  // stored under the key of the style just loaded
struct ColorZonesForm {};  // JSON data; the default follows the colour just loaded
struct HueDriftForm {};    // JSON data
struct ShortcutsForm {};   // JSON data
struct CornersForm {};     // JSON data
template <class E>
struct EnumForm {};         // the enumeration's own string; unknown stored text gives the default
struct BottomCornerZForm {  // a stacking string, else the legacy "…Behind" Bool
    const char* legacyKey;
};

// Load checks. They apply to values read from the defaults store; an overriding value goes through Bounds
// alone.
struct NoCheck {};
// A number the settings window edits with a slider (or a picker of numbers) spanning lo...hi: a stored
// number beyond it is bounded to the nearer end, and so is an overriding one (a profile's band a million
// points tall blacks out the screen just the same); not a number becomes the default. Its control spans the
// same range. A whole-number row is bounded alike. With `orDefault`, a stored number beyond it becomes the
// default instead, as those settings have always loaded; an overriding one is still bounded.
using velaro::Bounds;
inline constexpr auto orDefault = Bounds::Beyond::theDefault;
// A stored string (or integer) is kept only when it is one of these; else the default.
struct OneOf {
    std::span<const std::string_view> values;
    bool accepts(std::string_view v) const {
        for (const auto& allowed : values)
            if (allowed == v) return true;
        return false;
    }
};
struct OneOfInts {
    std::span<const int> values;
    bool accepts(int v) const {
        for (const auto allowed : values)
            if (allowed == v) return true;
        return false;
    }
};

// A stored palette keeps its entries that parse as colours, in "#RRGGBB" form, at most 10; fewer than 2
// give the default palette.
struct NormalisedPalette {};

inline constexpr auto vizStyles = allStrings<VizStyle>();
inline constexpr auto vizColorModes = allStrings<VizBarsColorMode>();
inline constexpr auto vizWaveColorModes = allStrings<VizWaveColorMode>();
inline constexpr auto progressColorModes = allStrings<ProgressColorMode>();
inline constexpr std::string_view progressModifiers[] = {"shift", "control", "option", "command"};
inline constexpr int liveCaptureRates[] = {10, 15, 20, 30, 60, 120};

// X(member, C++ type, form, key, default, check, scope, write-back), in the order `resolve` assigns them.
// `autoSample` and `overlayColorZones` depend on the rows before them, so their place here matters.
// clang-format off
#define VELARO_PERSISTED_SETTINGS(X) \
    X(style, MenuBarStyle, StyleForm{}, "menuBarStyle", MenuBarStyle::live, NoCheck{}, profile, no) \
    X(autoSample, bool, AutoSampleForm{}, "autoSampleColor", false, NoCheck{}, profile, no) \
    X(manualColor, Color, ColorForm{}, "manualOverrideColor", Color::black(), NoCheck{}, profile, no) \
    X(overlayColorZones, OverlayColorZones, ColorZonesForm{}, "overlayColorZones", OverlayColorZones{}, NoCheck{}, profile, no) \
    X(hueDrift, OverlayHueDrift, HueDriftForm{}, "overlayHueDrift", OverlayHueDrift{}, NoCheck{}, profile, no) \
    X(appShortcuts, ShortcutSettings, ShortcutsForm{}, "appShortcuts", ShortcutSettings{}, NoCheck{}, globalOnlyStore, no) \
    X(corners, CornerSettings, CornersForm{}, "cornerSettings", CornerSettings{}, NoCheck{}, profile, no) \
    X(layerPosition, LayerPosition, EnumForm<LayerPosition>{}, "layerPosition", LayerPosition::aboveWindows, NoCheck{}, profile, no) \
    X(cornerBottomLeftZ, BottomCornerZ, BottomCornerZForm{"cornerBottomLeftBehind"}, "cornerBottomLeftZ", BottomCornerZ::wallpaper, NoCheck{}, profile, no) \
    X(cornerBottomRightZ, BottomCornerZ, BottomCornerZForm{"cornerBottomRightBehind"}, "cornerBottomRightZ", BottomCornerZ::wallpaper, NoCheck{}, profile, no) \
    X(cornerScreenTopLeftZ, BottomCornerZ, EnumForm<BottomCornerZ>{}, "cornerScreenTopLeftZ", BottomCornerZ::wallpaper, NoCheck{}, profile, no) \
    X(cornerScreenTopRightZ, BottomCornerZ, EnumForm<BottomCornerZ>{}, "cornerScreenTopRightZ", BottomCornerZ::wallpaper, NoCheck{}, profile, no) \
    X(gradientTopFollowsSample, bool, BoolForm{}, "gradientTopFollowsSample", true, NoCheck{}, profile, no) \
    X(gradientBottomFollowsSample, bool, BoolForm{}, "gradientBottomFollowsSample", true, NoCheck{}, profile, no) \
    X(gradientTopColor, Color, ColorForm{}, "gradientTopColor", Color::white(), NoCheck{}, profile, no) \
    X(gradientBottomColor, Color, ColorForm{}, "gradientBottomColor", Color::white(), NoCheck{}, profile, no) \
    X(gradientTopOpacity, double, DoubleForm{}, "gradientTopOpacity", 0.0, Bounds(0, 1), profile, no) \
    X(gradientBottomOpacity, double, DoubleForm{}, "gradientBottomOpacity", 1.0, Bounds(0, 1), profile, no) \
    X(overlayOpacity, double, DoubleForm{}, "overlayOpacity", 1.0, Bounds(0, 1), profile, no) \
    X(blurEnabled, bool, BoolForm{}, "blurEnabled", false, NoCheck{}, profile, no) \
    X(blurRadius, double, DoubleForm{}, "blurRadius", 12.0, Bounds(2, 40, orDefault), profile, no) \
    X(liveCaptureFPS, int, IntForm{}, "liveCaptureFPS", 15, OneOfInts{liveCaptureRates}, globalOnlyStore, yes) \
    X(blurTopCorners, bool, BoolForm{}, "blurTopCorners", true, NoCheck{}, profile, no) \
    X(styleOpacityOverBlur, double, DoubleForm{}, "styleOpacityOverBlur", 0.45, Bounds(0, 1, orDefault), profile, no) \
    X(smoothColors, bool, BoolForm{}, "smoothColors", false, NoCheck{}, profile, no) \
    X(pauseOnMenuBarHover, bool, BoolForm{}, "pauseOnMenuBarHover", true, NoCheck{}, globalOnly, no) \
    X(showTaskbarIcon, bool, BoolForm{}, "showDockIcon", false, NoCheck{}, globalOnly, no) \
    X(maximiseButtonFillsWindow, bool, BoolForm{}, "greenButtonFillsWindow", false, NoCheck{}, globalOnlyStore, no) \
    X(masterEnabled, bool, BoolForm{}, "masterEnabled", true, NoCheck{}, globalOnly, no) \
    X(overlayEnabled, bool, BoolForm{}, "overlayEnabled", true, NoCheck{}, profile, no) \
    X(lightReflectionsEnabled, bool, BoolForm{}, "lightReflectionsEnabled", false, NoCheck{}, profile, no) \
    X(beamLength, double, DoubleForm{}, "beamLength", 0.1, Bounds(0, 1), profile, no) \
    X(beamBrightness, double, DoubleForm{}, "beamBrightness", 1.0, Bounds(0, 1), profile, no) \
    X(beamGlowEnabled, bool, BoolForm{}, "beamGlowEnabled", true, NoCheck{}, profile, no) \
    X(beamGlowBrightness, double, DoubleForm{}, "beamGlowBrightness", 0.7, Bounds(0, 1), profile, no) \
    X(beamEntryAnimation, bool, BoolForm{}, "beamEntryAnimation", true, NoCheck{}, profile, no) \
    X(beamWidth, double, DoubleForm{}, "beamWidth", 0.4, Bounds(0, 1), profile, no) \
    X(beamTopStreakHotspot, double, DoubleForm{}, "beamTopStreakHotspot", 0.2, Bounds(0, 1), profile, no) \
    X(beamBloomEnabled, bool, BoolForm{}, "beamBloomEnabled", true, NoCheck{}, profile, no) \
    X(beamTopStreakHeight, double, DoubleForm{}, "beamTopStreakHeight", 1.0, Bounds(0, 10), profile, no) \
    X(beamHeight, double, DoubleForm{}, "beamHeight", 0.1, Bounds(0, 1), profile, no) \
    X(beamCoreBrightness, double, DoubleForm{}, "beamCoreBrightness", 1.0, Bounds(0, 1), profile, no) \
    X(beamCoreColor, Color, ColorForm{}, "beamCoreColor", Color::white(), NoCheck{}, profile, no) \
    X(beamCoreFollowsSampled, bool, BoolForm{}, "beamCoreFollowsSampled", false, NoCheck{}, profile, no) \
    X(keepOverlayAlwaysOn, bool, BoolForm{}, "keepOverlayAlwaysOn", false, NoCheck{}, profile, no) \
    X(emptyDesktopMode, EmptyDesktopMode, EnumForm<EmptyDesktopMode>{}, "emptyDesktopMode", EmptyDesktopMode::black, NoCheck{}, profile, no) \
    X(alwaysOnOverlayHeight, double, DoubleForm{}, "alwaysOnOverlayHeight", 32.0, Bounds(24, 160), profile, no) \
    X(alwaysOnCornerRadius, double, DoubleForm{}, "alwaysOnCornerRadius", 28.0, Bounds(0, 60), profile, no) \
    X(strokeEnabled, bool, BoolForm{}, "strokeEnabled", true, NoCheck{}, profile, no) \
    X(manualSeparateCorners, bool, BoolForm{}, "manualSeparateCorners", false, NoCheck{}, profile, no) \
    X(animationKind, OverlayAnimationKind, EnumForm<OverlayAnimationKind>{}, "overlayAnimationKind", OverlayAnimationKind::rise, NoCheck{}, profile, no) \
    X(strokeCurveRadius, double, DoubleForm{}, "strokeCurveRadius", 20.0, Bounds(0, 40, orDefault), profile, no) \
    X(strokeFadeLength, double, DoubleForm{}, "strokeFadeLength", 10.0, Bounds(0, 30, orDefault), profile, no) \
    X(notchStrokeEnabled, bool, BoolForm{}, "notchStrokeEnabled", false, NoCheck{}, profile, no) \
    X(notchStrokeTopRadius, double, DoubleForm{}, "notchStrokeTopRadius", 6.0, Bounds(0, 16, orDefault), profile, no) \
    X(notchStrokeBottomRadius, double, DoubleForm{}, "notchStrokeBottomRadius", 10.0, Bounds(0, 20, orDefault), profile, no) \
    X(notchStrokeHeight, double, DoubleForm{}, "notchStrokeHeight", 0.0, Bounds(-10, 10, orDefault), profile, no) \
    X(notchStrokeXOffset, double, DoubleForm{}, "notchStrokeXOffset", 0.0, Bounds(-20, 20, orDefault), profile, no) \
    X(notchStrokeWidthAdjust, double, DoubleForm{}, "notchStrokeWidthAdjust", 0.0, Bounds(-20, 20, orDefault), profile, no) \
    X(strokeNotchFadeEnabled, bool, BoolForm{}, "strokeNotchFadeEnabled", true, NoCheck{}, profile, no) \
    X(strokeNotchFadeDistance, double, DoubleForm{}, "strokeNotchFadeDistance", 100.0, Bounds(20, 300, orDefault), profile, no) \
    X(notchFadeEnabled, bool, BoolForm{}, "notchFadeEnabled", false, NoCheck{}, profile, no) \
    X(notchFadeDistance, double, DoubleForm{}, "notchFadeDistance", 100.0, Bounds(20, 300, orDefault), profile, no) \
    X(overlayExtraDepth, double, DoubleForm{}, "overlayExtraDepth", 0.0, Bounds(-50, 0, orDefault), profile, yes) \
    X(seamCoverDepth, double, DoubleForm{}, "seamCoverDepth", 4.0, Bounds(0, 10, orDefault), profile, yes) \
    X(seamAutoHide, bool, BoolForm{}, "seamAutoHide", false, NoCheck{}, profile, no) \
    X(vizBarThickness, double, DoubleForm{}, "vizBarThickness", 2.0, Bounds(1, 8, orDefault), profile, yes) \
    X(vizBarGap, double, DoubleForm{}, "vizBarGap", 1.0, Bounds(1, 12, orDefault), profile, yes) \
    X(vizColorMode, std::string, StringForm{}, "vizColorMode", "rainbow", OneOf{vizColorModes}, profile, yes) \
    X(vizSolidColor, Color, ColorForm{}, "vizSolidColor", vizDefaultSolidColor, NoCheck{}, profile, no) \
    X(vizHueSpeed, double, DoubleForm{}, "vizHueSpeed", 20.0, Bounds(0, 60, orDefault), profile, yes) \
    X(vizWaveColorMode, std::string, StringForm{}, "vizWaveColorMode", "palette", OneOf{vizWaveColorModes}, profile, yes) \
    X(vizWaveSolidColor, Color, ColorForm{}, "vizWaveSolidColor", vizDefaultSolidColor, NoCheck{}, profile, no) \
    X(vizWaveHueSpeed, double, DoubleForm{}, "vizWaveHueSpeed", 12.0, Bounds(0, 60, orDefault), profile, yes) \
    X(vizPalette, Palette, PaletteForm{}, "vizPalette", vizDefaultPalette(), NormalisedPalette{}, profile, yes) \
    X(vizWaveEdgeSoftness, double, DoubleForm{}, "vizWaveEdgeSoftness", 0.0, Bounds(0, 10, orDefault), profile, yes) \
    X(vizOpacity, double, DoubleForm{}, "vizOpacity", 1.0, Bounds(0.2, 1, orDefault), profile, yes) \
    X(vizWaveOpacity, double, DoubleForm{}, "vizWaveOpacity", 0.8, Bounds(0.3, 1, orDefault), profile, yes) \
    X(vizWavePeaks, int, IntForm{}, "vizWavePeaks", 20, Bounds(2, 50, orDefault), profile, yes) \
    X(vizWaveCount, int, IntForm{}, "vizWaveCount", 4, Bounds(4, 50, orDefault), profile, yes) \
    X(vizWaveSpectrum, double, DoubleForm{}, "vizWaveSpectrum", 0.5, Bounds(0, 1, orDefault), profile, yes) \
    X(progressColorMode, std::string, StringForm{}, "progressColorMode", "mono", OneOf{progressColorModes}, profile, yes) \
    X(progressModifier, std::string, StringForm{}, "progressModifier", "option", OneOf{progressModifiers}, profile, yes) \
    X(progressSolidColor, Color, ColorForm{}, "progressSolidColor", Color::white(), NoCheck{}, profile, no) \
    X(progressOpacity, double, DoubleForm{}, "progressOpacity", 1.0, Bounds(0.2, 1, orDefault), profile, yes) \
    X(progressHueSpeed, double, DoubleForm{}, "progressHueSpeed", 12.0, Bounds(0, 60, orDefault), profile, yes) \
    X(progressEnabled, bool, BoolForm{}, "progressEnabled", false, NoCheck{}, profile, no) \
    X(progressKeySeekEnabled, bool, BoolForm{}, "progressKeySeekEnabled", true, NoCheck{}, profile, no) \
    X(progressAutoHide, bool, BoolForm{}, "progressAutoHide", true, NoCheck{}, profile, no) \
    X(progressAutoHideSeconds, double, DoubleForm{}, "progressAutoHideSeconds", 5.0, Bounds(5, 120, orDefault), profile, yes) \
    X(vizTrailEnabled, bool, BoolForm{}, "vizTrailEnabled", true, NoCheck{}, profile, no) \
    X(vizTrailLength, double, DoubleForm{}, "vizTrailLength", 0.1, Bounds(0.1, 1, orDefault), profile, yes) \
    X(vizBloomEnabled, bool, BoolForm{}, "vizBloomEnabled", true, NoCheck{}, profile, no) \
    X(vizBloomIntensity, double, DoubleForm{}, "vizBloomIntensity", 2.0, Bounds(0, 2, orDefault), profile, yes) \
    X(vizBloomRadius, double, DoubleForm{}, "vizBloomRadius", 24.0, Bounds(2, 24, orDefault), profile, yes) \
    X(vizStyle, std::string, StringForm{}, "vizStyle", "bars", OneOf{vizStyles}, profile, yes) \
    X(vizEnabled, bool, BoolForm{}, "vizEnabled", false, NoCheck{}, profile, no)
// clang-format on

// One row of the table as the rest of the code names it: its key, default and load check. Pages, hot keys,
// the sampler and the migrations read these rather than spelling a key, a default or a range again.
template <class T, class Check>
struct Entry {
    const char* key;
    T defaultValue;
    Check check;
};

#define VELARO_ENTRY_ROW(member, Type, form, key, def, check, scope, writeBack) \
    inline const Entry<Type, decltype(check)> member{key, Type(def), check};
VELARO_PERSISTED_SETTINGS(VELARO_ENTRY_ROW)
#undef VELARO_ENTRY_ROW

// Keys outside the member table.
inline constexpr const char* fadeAutoSampleKey =
    "fadeAutoSampleColor";  // `autoSample` under the gradient style
inline constexpr const char* cornersShortcutMemoryKey = "cornersShortcutMemory";
inline constexpr const char* multicolorSeededKey = "multicolorSeeded";

// The keys an edit never stores in an app profile: the table's global-only rows and the corners memory.
const std::set<std::string, std::less<>>& globalOnlyKeys();

// Stored forms of plain values: Bool, Double and Int as numbers, colours as "#RRGGBB", lists as arrays.
inline PlistValue storedForm(bool v) {
    return v;
}
inline PlistValue storedForm(double v) {
    return v;
}
inline PlistValue storedForm(int v) {
    return v;
}
inline PlistValue storedForm(const std::string& v) {
    return v;
}
inline PlistValue storedForm(const Color& v) {
    return hexString(v);
}
inline PlistValue storedForm(const std::vector<std::string>& v) {
    return PlistValue(v);
}

// The stored form of a plain row's default (Bool, number, string, colour string or string list), as a
// store holding every default would keep it; null for rows with no plain stored default or keys outside the
// table.
PlistValue storedDefault(std::string_view key);

// Every key of the table, in resolve order.
const std::vector<std::string_view>& allKeys();

}  // namespace velaro::settings_keys
