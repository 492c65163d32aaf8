// An sRGB colour with alpha, components in doubles from 0 to 1.
#pragma once

#include <ostream>

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

}  // namespace velaro
