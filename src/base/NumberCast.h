// Conversions of a double to an integer type that never leave the type's range. A plain cast of a double
// beyond the range (or of not a number) is undefined behaviour, and a double that came from a hand-edited
// settings file, or was computed from one, may be anything a JSON number can spell (1e308 among them).
#pragma once

#include <cmath>
#include <concepts>
#include <limits>

namespace velaro {

// `x` truncated toward zero and held inside I's range: a value past either end gives that end, not a number
// gives 0.
template <std::integral I>
I saturatedCast(double x) {
    using Limits = std::numeric_limits<I>;
    if (std::isnan(x)) return 0;
    // The first double past the largest I: 2^digits, which a double holds exactly for every integer type.
    const double past = std::ldexp(1.0, Limits::digits);
    // The smallest I (0, or -2^digits) is exact too, so anything below it lies outside.
    const double lowest = static_cast<double>(Limits::min());
    if (x >= past) return Limits::max();
    if (x <= lowest - 1) return Limits::min();
    return static_cast<I>(x);
}

// `x` rounded half away from zero, then held inside I's range as `saturatedCast` does.
template <std::integral I>
I saturatedRound(double x) {
    return saturatedCast<I>(std::round(x));
}

}  // namespace velaro
