// An sRGB colour with alpha, components in doubles from 0 to 1, and the colour helpers the whole app shares:
// the stored #RRGGBB form, blending, luminance and the closeness test of the frame analysis.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace velaro {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }
    static constexpr Color black() { return {0, 0, 0, 1}; }
    static constexpr Color white() { return {1, 1, 1, 1}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }

    constexpr Color withAlpha(double a) const { return {red, green, blue, a}; }
    friend bool operator==(const Color&, const Color&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const Color& c) {
    return os << "rgba(" << c.red << ", " << c.green << ", " << c.blue << ", " << c.alpha << ")";
}

// The stored form "#RRGGBB" (upper-case digits). Opacity is dropped; each component is rounded half away
// from zero and clamped to 0...255 so the string always has exactly two digits per component. A colour with
// a component that is not a number has no meaningful sRGB value and is written as "#000000".
std::string hexString(const Color& color);

// Parses a stored colour: surrounding white space and newlines are trimmed, one leading "#" is optional,
// and exactly six hexadecimal digits (either case) must remain. The result is opaque. Anything else (signs,
// "0x", inner blanks, an alpha pair, a second "#") gives nothing.
std::optional<Color> colorFromHex(std::string_view text);

// A blended channel this close to its target is the target. Repeated smoothing toward a channel of 0 would
// otherwise shrink it geometrically into subnormal numbers, where it stays (rounding keeps the last step at
// zero) and every later blend of it runs many times slower. Far below what any colour depth can show.
inline constexpr double kBlendSnap = 0x1p-30;

// One channel moved `t` (0...1) of the way toward `to`, snapped onto `to` when it ends up within kBlendSnap.
inline double blendedChannel(double from, double to, double t) {
    const double moved = from + t * (to - from);
    const double off = to - moved;
    return (off < kBlendSnap && off > -kBlendSnap) ? to : moved;
}

// Blends `from` toward `to`: fraction below 0 counts as 0, 1 or more (and a fraction that is not a number)
// as 1. The result is opaque; the inputs' opacities are ignored. Inline: the frame analysis blends every
// zone of every frame.
inline Color interpolated(const Color& from, const Color& to, double fraction) {
    double t = fraction;
    if (!(t < 1)) {  // 1 or more, or not a number
        t = 1;
    } else if (t < 0) {
        t = 0;
    }
    return Color::rgb(blendedChannel(from.red, to.red, t), blendedChannel(from.green, to.green, t),
                      blendedChannel(from.blue, to.blue, t));
}

// Rec. 709 weights applied to the components as they are (no gamma linearisation); nominally 0...1.
double relativeLuminance(const Color& color);

// Hue (0...1), saturation and brightness of an opaque sRGB colour, and back.
struct ColorHsb {
    double hue = 0;
    double saturation = 0;
    double brightness = 0;
};
ColorHsb toHsb(const Color& color);
Color fromHsb(const ColorHsb& hsb);

// True when red, green and blue each differ by strictly less than `tolerance`. Opacity is not compared.
// Components that are not numbers never count as close. Safe on any thread.
bool colorsClose(const Color& a, const Color& b, double tolerance);

}  // namespace velaro
