// Blending of the animated value types.
#include "base/AnimatedValue.h"

namespace velaro {

double interpolateValue(double from, double to, double t) {
    return from + (to - from) * t;
}

Color interpolateValue(const Color& from, const Color& to, double t) {
    return {interpolateValue(from.red, to.red, t), interpolateValue(from.green, to.green, t),
            interpolateValue(from.blue, to.blue, t), interpolateValue(from.alpha, to.alpha, t)};
}

std::vector<Color> interpolateValue(const std::vector<Color>& from, const std::vector<Color>& to, double t) {
    if (from.size() != to.size()) return to;
    std::vector<Color> out;
    out.reserve(to.size());
    for (std::size_t i = 0; i < to.size(); ++i) out.push_back(interpolateValue(from[i], to[i], t));
    return out;
}

}  // namespace velaro
