// The corner record: the overlay's shape (full bar or pills) and every rounded corner the app draws, with
// its stored JSON form, the legacy keys it still reads and the per-corner lookups the renderers use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Color.h"
#include "platform/DefaultsStore.h"
#include "settings/LoadNotes.h"
#include "settings/ValueTypes.h"

namespace velaro {

// The six corner positions: the overlay's own two, the screen's bottom two and the screen's top two.
enum class ScreenCorner { topLeft, topRight, bottomLeft, bottomRight, screenTopLeft, screenTopRight };
template <>
struct EnumStrings<ScreenCorner> {
    static constexpr std::array<std::pair<ScreenCorner, std::string_view>, 6> cases{
        {{ScreenCorner::topLeft, "topLeft"},
         {ScreenCorner::topRight, "topRight"},
         {ScreenCorner::bottomLeft, "bottomLeft"},
         {ScreenCorner::bottomRight, "bottomRight"},
         {ScreenCorner::screenTopLeft, "screenTopLeft"},
         {ScreenCorner::screenTopRight, "screenTopRight"}}};
};
// True for the overlay's own corners (the top row).
constexpr bool isTop(ScreenCorner corner) {
    return corner == ScreenCorner::topLeft || corner == ScreenCorner::topRight;
}

// The colour of a top-row corner: the overlay's colour, black, or the corner's own colour string.
enum class TopColorMode { followOverlay, black, custom };
template <>
struct EnumStrings<TopColorMode> {
    static constexpr std::array<std::pair<TopColorMode, std::string_view>, 3> cases{
        {{TopColorMode::followOverlay, "Follow Overlay"},
         {TopColorMode::black, "Black"},
         {TopColorMode::custom, "Custom"}}};
};

// The colour of a bottom-row or screen-top corner.
enum class BottomColorMode { black, custom };
template <>
struct EnumStrings<BottomColorMode> {
    static constexpr std::array<std::pair<BottomColorMode, std::string_view>, 2> cases{
        {{BottomColorMode::black, "Black"}, {BottomColorMode::custom, "Custom"}}};
};

// The overlay as one full-width bar or as pills behind the menu-bar items.
enum class ShapeMode { fullBar, pill };
template <>
struct EnumStrings<ShapeMode> {
    static constexpr std::array<std::pair<ShapeMode, std::string_view>, 2> cases{
        {{ShapeMode::fullBar, "Full Bar"}, {ShapeMode::pill, "Pill"}}};
};

// Lengths are points, opacities 0...1, colours "#RRGGBB" strings (kept as stored, even when malformed).
// A linked row uses its row radius, colour and opacity; an unlinked row each corner's own.
struct CornerSettings {
    ShapeMode shapeMode = ShapeMode::fullBar;
    double pillCornerRadius = 14.0;
    double pillVerticalInset = 6.0;
    double pillHPadding = 2.0;
    double pillStrokeWidth = 0.5;
    double pillStrokeOpacity = 0.2;
    double pillFillOpacity = 0.1;
    bool pillSeparateSides = true;
    double pillLeftHOffset = 0.0;
    double pillRightHOffset = -10.0;
    double pillVerticalOffset = 0.0;

    bool topLeftEnabled = true;
    bool topRightEnabled = true;
    double topRadius = 28.0;
    TopColorMode topColorMode = TopColorMode::followOverlay;
    std::string topCustomColorHex = "#000000";
    double topLeftRadius = 28.0;
    double topRightRadius = 28.0;
    bool topLinked = true;

    bool bottomLeftEnabled = true;
    bool bottomRightEnabled = true;
    double bottomRadius = 28.0;
    BottomColorMode bottomColorMode = BottomColorMode::black;
    std::string bottomCustomColorHex = "#000000";
    double bottomLeftRadius = 28.0;
    double bottomRightRadius = 28.0;
    bool bottomLinked = true;

    bool screenTopLeftEnabled = false;
    bool screenTopRightEnabled = false;
    double screenTopRadius = 28.0;
    double screenTopLeftRadius = 28.0;
    double screenTopRightRadius = 28.0;
    bool screenTopLinked = true;
    BottomColorMode screenTopLeftColorMode = BottomColorMode::black;
    std::string screenTopLeftCustomColorHex = "#000000";
    BottomColorMode screenTopRightColorMode = BottomColorMode::black;
    std::string screenTopRightCustomColorHex = "#000000";
    double screenTopOpacity = 1.0;
    double screenTopLeftOpacity = 1.0;
    double screenTopRightOpacity = 1.0;

    TopColorMode topLeftColorMode = TopColorMode::followOverlay;
    std::string topLeftCustomColorHex = "#000000";
    TopColorMode topRightColorMode = TopColorMode::followOverlay;
    std::string topRightCustomColorHex = "#000000";
    BottomColorMode bottomLeftColorMode = BottomColorMode::black;
    std::string bottomLeftCustomColorHex = "#000000";
    BottomColorMode bottomRightColorMode = BottomColorMode::black;
    std::string bottomRightCustomColorHex = "#000000";

    bool topFollowsOverlayOpacity = true;
    double topOpacity = 1.0;
    double topLeftOpacity = 1.0;
    double topRightOpacity = 1.0;
    double bottomOpacity = 1.0;
    double bottomLeftOpacity = 1.0;
    double bottomRightOpacity = 1.0;

    bool arcStrokeEnabled = false;

    // The radius drawn at a corner: 0 when it is off, else the row radius (linked) or its own.
    double effectiveRadius(ScreenCorner corner) const;
    // The opacity of a corner; the top row may follow the overlay's own opacity. Enabled flags do not enter.
    double opacity(ScreenCorner corner, double overlayOpacity) const;
    // The colour of a corner by its own colour mode; a custom colour string that does not parse is black.
    Color color(ScreenCorner corner, const Color& overlayColor) const;

    // Decodes a stored record. Missing keys take their fallbacks (some fall back to a row value or a legacy
    // key); wrongly typed keys are tolerated or fail the whole document depending on the key. Its numbers
    // (radii, insets, paddings, offsets, opacities) are bounded to their controls (cornerBounds). A key not
    // taken as it stood leaves a note in `notes`, when given, under its own name.
    static std::optional<CornerSettings> decode(std::span<const std::uint8_t> data,
                                                LoadNotes* notes = nullptr);
    static std::optional<CornerSettings> decode(std::string_view json, LoadNotes* notes = nullptr);

    friend bool operator==(const CornerSettings&, const CornerSettings&) = default;
};

// Every corner radius spans one range, in the corner editor's sliders and rings alike, and every corner
// opacity another.
inline constexpr Bounds cornerRadiusBounds{0, 48};
inline constexpr Bounds cornerOpacityBounds{0, 1};

// Every number of the record, each with what its control in the settings window spans. A number decoded from
// a file is bounded to it; the controls' tracks span it.
struct CornerBound {
    double CornerSettings::*member;
    Bounds bounds;
};
inline constexpr CornerBound cornerBounds[] = {
    {&CornerSettings::pillCornerRadius, {0, 14}},
    {&CornerSettings::pillVerticalInset, {0, 6}},
    {&CornerSettings::pillHPadding, {0, 20}},
    {&CornerSettings::pillStrokeWidth, {0, 3}},
    {&CornerSettings::pillStrokeOpacity, {0, 1}},
    {&CornerSettings::pillFillOpacity, {0, 0.6}},
    {&CornerSettings::pillLeftHOffset, {-20, 20}},
    {&CornerSettings::pillRightHOffset, {-20, 20}},
    {&CornerSettings::pillVerticalOffset, {-4, 4}},
    {&CornerSettings::topRadius, cornerRadiusBounds},
    {&CornerSettings::topLeftRadius, cornerRadiusBounds},
    {&CornerSettings::topRightRadius, cornerRadiusBounds},
    {&CornerSettings::bottomRadius, cornerRadiusBounds},
    {&CornerSettings::bottomLeftRadius, cornerRadiusBounds},
    {&CornerSettings::bottomRightRadius, cornerRadiusBounds},
    {&CornerSettings::screenTopRadius, cornerRadiusBounds},
    {&CornerSettings::screenTopLeftRadius, cornerRadiusBounds},
    {&CornerSettings::screenTopRightRadius, cornerRadiusBounds},
    {&CornerSettings::screenTopOpacity, cornerOpacityBounds},
    {&CornerSettings::screenTopLeftOpacity, cornerOpacityBounds},
    {&CornerSettings::screenTopRightOpacity, cornerOpacityBounds},
    {&CornerSettings::topOpacity, cornerOpacityBounds},
    {&CornerSettings::topLeftOpacity, cornerOpacityBounds},
    {&CornerSettings::topRightOpacity, cornerOpacityBounds},
    {&CornerSettings::bottomOpacity, cornerOpacityBounds},
    {&CornerSettings::bottomLeftOpacity, cornerOpacityBounds},
    {&CornerSettings::bottomRightOpacity, cornerOpacityBounds},
};

// What the control of one of the record's numbers spans; nothing for a member outside the table.
constexpr std::optional<Bounds> cornerBoundsOf(double CornerSettings::*member) {
    for (const auto& bound : cornerBounds)
        if (bound.member == member) return bound.bounds;
    return std::nullopt;
}

// The stored JSON data: the 56 fields in declaration order followed by the legacy row flags "topEnabled"
// and "bottomEnabled" (either corner of the row on), compact. Nothing when a number is not finite.
std::optional<Bytes> encodeCornerSettings(const CornerSettings& corners);

}  // namespace velaro
