// The small value types the settings hold: the fill style, the pill spans, the enumerations stored as
// strings, the colour-zone fill and the hue drift, with their stored JSON forms and normalisers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DefaultsStore.h"
#include "settings/LoadNotes.h"

namespace velaro {

// ---- Enumerations stored as strings ----------------------------------------------------------------------

// Each enumeration stored as a string lists its cases here, in declaration order, with their strings.
template <class E>
struct EnumStrings;

// The stored string of a case.
template <class E>
constexpr std::string_view toString(E value) {
    for (const auto& [c, text] : EnumStrings<E>::cases) {
        if (c == value) return text;
    }
    return {};
}

// The case whose string matches exactly (case-sensitive, in full); nothing for any other string. Callers
// supply their own default.
template <class E>
constexpr std::optional<E> fromString(std::string_view text) {
    for (const auto& [c, string] : EnumStrings<E>::cases) {
        if (string == text) return c;
    }
    return std::nullopt;
}

// Every case, in declaration order.
template <class E>
constexpr auto allCases() {
    std::array<E, EnumStrings<E>::cases.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = EnumStrings<E>::cases[i].first;
    return out;
}

// Every case's stored string, in declaration order.
template <class E>
constexpr auto allStrings() {
    std::array<std::string_view, EnumStrings<E>::cases.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = EnumStrings<E>::cases[i].second;
    return out;
}

// An enumeration's own JSON form: a document holding just its string. A string outside the table, or any
// other document, fails.
template <class E>
std::optional<E> decodeEnumJson(std::span<const std::uint8_t> data);
template <class E>
std::optional<Bytes> encodeEnumJson(E value);

// The overlay's fill style.
enum class MenuBarStyle { solid, gradient, live };
template <>
struct EnumStrings<MenuBarStyle> {
    static constexpr std::array<std::pair<MenuBarStyle, std::string_view>, 3> cases{
        {{MenuBarStyle::solid, "solid"}, {MenuBarStyle::gradient, "gradient"}, {MenuBarStyle::live, "live"}}};
};

// The reveal animation of the overlay.
enum class OverlayAnimationKind { rise, spread };
template <>
struct EnumStrings<OverlayAnimationKind> {
    static constexpr std::array<std::pair<OverlayAnimationKind, std::string_view>, 2> cases{
        {{OverlayAnimationKind::rise, "Rise"}, {OverlayAnimationKind::spread, "Spread"}}};
};

// Whether the overlay windows sit above every window or behind the app windows.
enum class LayerPosition { aboveWindows, behindWindows };
template <>
struct EnumStrings<LayerPosition> {
    static constexpr std::array<std::pair<LayerPosition, std::string_view>, 2> cases{
        {{LayerPosition::aboveWindows, "aboveWindows"}, {LayerPosition::behindWindows, "behindWindows"}}};
};

// The stacking of one corner window: above the app windows, below the active one, or just over the desktop.
enum class BottomCornerZ { above, belowActive, wallpaper };
template <>
struct EnumStrings<BottomCornerZ> {
    static constexpr std::array<std::pair<BottomCornerZ, std::string_view>, 3> cases{
        {{BottomCornerZ::above, "above"},
         {BottomCornerZ::belowActive, "belowActive"},
         {BottomCornerZ::wallpaper, "wallpaper"}}};
};

// What the always-on overlay paints over an empty desktop.
enum class EmptyDesktopMode { black, transparent, blur };
template <>
struct EnumStrings<EmptyDesktopMode> {
    static constexpr std::array<std::pair<EmptyDesktopMode, std::string_view>, 3> cases{
        {{EmptyDesktopMode::black, "black"},
         {EmptyDesktopMode::transparent, "transparent"},
         {EmptyDesktopMode::blur, "blur"}}};
};

// The music visualizer's look. The settings hold these as their strings (an app profile may hold any
// string); readers choose what an unknown one means.
enum class VizStyle { bars, waves };
template <>
struct EnumStrings<VizStyle> {
    static constexpr std::array<std::pair<VizStyle, std::string_view>, 2> cases{
        {{VizStyle::bars, "bars"}, {VizStyle::waves, "waves"}}};
};

// How the visualizer colours its bars.
enum class VizBarsColorMode { mono, solid, rainbow, artwork };
template <>
struct EnumStrings<VizBarsColorMode> {
    static constexpr std::array<std::pair<VizBarsColorMode, std::string_view>, 4> cases{
        {{VizBarsColorMode::mono, "mono"},
         {VizBarsColorMode::solid, "solid"},
         {VizBarsColorMode::rainbow, "rainbow"},
         {VizBarsColorMode::artwork, "artwork"}}};
};

// How it colours its waves: the bars' modes, and the user's palette.
enum class VizWaveColorMode { mono, solid, rainbow, palette, artwork };
template <>
struct EnumStrings<VizWaveColorMode> {
    static constexpr std::array<std::pair<VizWaveColorMode, std::string_view>, 5> cases{
        {{VizWaveColorMode::mono, "mono"},
         {VizWaveColorMode::solid, "solid"},
         {VizWaveColorMode::rainbow, "rainbow"},
         {VizWaveColorMode::palette, "palette"},
         {VizWaveColorMode::artwork, "artwork"}}};
};

// How the progress line colours its fill.
enum class ProgressColorMode { mono, solid, rainbow };
template <>
struct EnumStrings<ProgressColorMode> {
    static constexpr std::array<std::pair<ProgressColorMode, std::string_view>, 3> cases{
        {{ProgressColorMode::mono, "mono"},
         {ProgressColorMode::solid, "solid"},
         {ProgressColorMode::rainbow, "rainbow"}}};
};

// ---- Pill geometry (runtime only, never stored) ----------------------------------------------------------

// The horizontal extent of one pill, in the screen's points.
struct PillSpan {
    double minX = 0;
    double maxX = 0;
    friend bool operator==(const PillSpan&, const PillSpan&) = default;
};

// The pills behind one screen's menu-bar items: the app menus on the left, the status items on the right.
struct PillGeometry {
    std::optional<PillSpan> left;
    std::optional<PillSpan> right;
    friend bool operator==(const PillGeometry&, const PillGeometry&) = default;
};

// ---- Colour zones ----------------------------------------------------------------------------------------

// What the transition-width sliders of the colour zones and the hue drift span.
inline constexpr Bounds transitionWidthBounds{0, 1};

// The colour-zone fill: 1 to 10 colour stops from left to right, blended or in equal zones.
struct OverlayColorZones {
    std::vector<std::string> stops{"#000000"};
    bool blend = false;
    bool multicolorEnabled = false;
    double transitionWidth = 1.0;

    // The built-in default: one black stop, no blend, multicolour off, width 1.
    OverlayColorZones() = default;
    // A normalised value: only stops that parse as colours, in "#RRGGBB" form, at most the first 10 (the
    // default stop when none is left); the width bounded to transitionWidthBounds (a width that is not
    // finite becomes 1).
    OverlayColorZones(std::vector<std::string> stops, bool blend, bool multicolorEnabled,
                      double transitionWidth);

    static const OverlayColorZones& defaultValue();
    // A normalised copy; a width it bounds leaves a note in `notes`, when given, under "transitionWidth".
    OverlayColorZones normalized(LoadNotes* notes = nullptr) const;

    // Lenient key-by-key decoding (not normalised); fails only when the data is not a JSON object.
    static std::optional<OverlayColorZones> decode(std::span<const std::uint8_t> data);
    static std::optional<OverlayColorZones> decode(std::string_view json);

    friend bool operator==(const OverlayColorZones&, const OverlayColorZones&) = default;
};

// ---- Hue drift -------------------------------------------------------------------------------------------

// What the hue drift's duration slider spans, in seconds.
inline constexpr Bounds hueDriftPeriodBounds{0.5, 30};

// The slow drift of the overlay colour through a palette.
struct OverlayHueDrift {
    enum class Variant { uniform, scroll };
    enum class Source { rainbow, palette };
    enum class Direction { rightToLeft, leftToRight };

    // The built-in rainbow: the default palette and the fallback of a palette with fewer than two stops.
    static const std::vector<std::string>& defaultPalette();

    bool enabled = false;
    Variant variant = Variant::scroll;
    Source source = Source::rainbow;
    std::vector<std::string> paletteStops = defaultPalette();
    double periodSeconds = 2.0;
    bool blend = true;
    double transitionWidth = 1.0;
    Direction direction = Direction::rightToLeft;

    // A normalised copy: palette stops filtered as colour-zone stops (the default palette when fewer than
    // two remain), period bounded to hueDriftPeriodBounds and width to transitionWidthBounds. A period that
    // is not finite becomes 2 s and such a width 1, so a corrupt store can never hand the renderers a
    // non-finite phase. A number it bounds leaves a note in `notes`, when given, under its key.
    OverlayHueDrift sanitized(LoadNotes* notes = nullptr) const;
    // The colours the drift cycles through: the user's palette when chosen and at least two long, else the
    // default palette.
    const std::vector<std::string>& effectivePaletteStops() const;

    // Lenient key-by-key decoding (not sanitised); fails only when the data is not a JSON object.
    static std::optional<OverlayHueDrift> decode(std::span<const std::uint8_t> data);
    static std::optional<OverlayHueDrift> decode(std::string_view json);

    friend bool operator==(const OverlayHueDrift&, const OverlayHueDrift&) = default;
};

template <>
struct EnumStrings<OverlayHueDrift::Variant> {
    static constexpr std::array<std::pair<OverlayHueDrift::Variant, std::string_view>, 2> cases{
        {{OverlayHueDrift::Variant::uniform, "uniform"}, {OverlayHueDrift::Variant::scroll, "scroll"}}};
};
template <>
struct EnumStrings<OverlayHueDrift::Source> {
    static constexpr std::array<std::pair<OverlayHueDrift::Source, std::string_view>, 2> cases{
        {{OverlayHueDrift::Source::rainbow, "rainbow"}, {OverlayHueDrift::Source::palette, "palette"}}};
};
template <>
struct EnumStrings<OverlayHueDrift::Direction> {
    static constexpr std::array<std::pair<OverlayHueDrift::Direction, std::string_view>, 2> cases{
        {{OverlayHueDrift::Direction::rightToLeft, "rightToLeft"},
         {OverlayHueDrift::Direction::leftToRight, "leftToRight"}}};
};

// Stored JSON data of the records: compact, keys sorted (the bytes the settings store writes). Nothing when
// a number is not finite and cannot be written.
std::optional<Bytes> encodeSortedKeys(const OverlayColorZones& zones);
std::optional<Bytes> encodeSortedKeys(const OverlayHueDrift& drift);

// Keeps the strings that parse as colours, each in "#RRGGBB" form, in order.
std::vector<std::string> normalizedHexList(const std::vector<std::string>& stops);

// ---- Template definitions --------------------------------------------------------------------------------

namespace detail {
std::optional<std::string> decodeJsonString(std::span<const std::uint8_t> data);
std::optional<Bytes> encodeJsonString(std::string_view text);
}  // namespace detail

template <class E>
std::optional<E> decodeEnumJson(std::span<const std::uint8_t> data) {
    const auto text = detail::decodeJsonString(data);
    if (!text) return std::nullopt;
    return fromString<E>(*text);
}

template <class E>
std::optional<Bytes> encodeEnumJson(E value) {
    return detail::encodeJsonString(toString(value));
}

}  // namespace velaro
