// Blending of the animated value types and the shared recolour timing.
#include "overlay/AnimatedValue.h"

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

std::optional<OverlayAnimation> recolorAnimation(double uptime, double recolorSnapUntil, bool driftTicking) {
    if (uptime < recolorSnapUntil) return std::nullopt;
    if (driftTicking) return OverlayAnimation{0.1, TimingCurve::linear};
    return OverlayAnimation{0.25, TimingCurve::easeInEaseOut};
}

}  // namespace velaro
