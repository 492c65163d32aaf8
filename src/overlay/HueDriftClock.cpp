// The hue-drift clock and its colour functions.
#include "overlay/HueDriftClock.h"

#include <algorithm>
#include <cmath>

#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

// A stored value from a corrupt store must never reach the arithmetic as NaN or infinity.
double finiteOr(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

double fractionalPart(double v) {
    const double f = v - std::floor(v);
    return f < 1.0 ? f : 0.0;  // rounding of tiny negatives can give exactly 1
}

std::vector<Color> parsed(const std::vector<std::string>& hexes) {
    std::vector<Color> out;
    out.reserve(hexes.size());
    for (const auto& hex : hexes)
        if (auto c = colorFromHex(hex)) out.push_back(*c);
    return out;
}

}  // namespace

HueDriftClock::HueDriftClock(const OverlaySettings& settings, MainLoop& loop)
    : settings_(settings), loop_(loop) {}

const std::vector<Color>& HueDriftClock::rainbow() {
    static const std::vector<Color> colors = parsed(OverlayHueDrift::defaultPalette());
    return colors;
}

void HueDriftClock::setRunning(bool run) {
    if (timer_.isActive() && !run) {
        timer_.cancel();
    } else if (!timer_.isActive() && run) {
        lastTick_ = loop_.uptime();
        timer_ = loop_.every(kTickInterval, [this] { tick(); });
    }
}

void HueDriftClock::tick() {
    const double now = loop_.uptime();
    const double dt = std::clamp(finiteOr(now - lastTick_, 0.0), 0.0, kMaximumTickStep);
    lastTick_ = now;
    double period = finiteOr(settings_.hueDrift.value().periodSeconds, kMinimumPeriod);
    if (period <= kMinimumPeriod) period = kMinimumPeriod;
    phase_ = finiteOr(phase_.value(), 0.0) + dt / period;
}

std::vector<Color> HueDriftClock::colors() const {
    auto out = parsed(settings_.hueDrift.value().effectivePaletteStops());
    if (out.size() < 2) return rainbow();
    return out;
}

Color HueDriftClock::color(double x) const {
    const auto c = colors();
    const auto n = static_cast<double>(c.size());
    double m = std::fmod(finiteOr(x, 0.0), n);
    if (m < 0) m += n;
    if (!(m < n)) m = 0;
    const auto i = std::min(static_cast<std::size_t>(m), c.size() - 1);
    const auto j = (i + 1) % c.size();
    return interpolated(c[i], c[j], m - static_cast<double>(i));
}

Color HueDriftClock::scrollColor(double x) const {
    const auto c = colors();
    const auto& drift = settings_.hueDrift.value();
    const double s = fractionalPart(finiteOr(phase_.value(), 0.0) / static_cast<double>(c.size()));
    const double position = finiteOr(x, 0.0);
    const double p = fractionalPart(
        drift.direction == OverlayHueDrift::Direction::rightToLeft ? position + s : position - s);
    return gradientColor(p, c, drift.blend, drift.transitionWidth);
}

std::vector<GradientStop> HueDriftClock::gradientStops(const std::vector<Color>& colors, bool blend,
                                                       double transitionWidth) {
    if (colors.empty()) return {};
    const auto n = static_cast<double>(colors.size());
    const double w = finiteOr(transitionWidth, 0.0);
    const double h = (blend && w > 0) ? std::min(w, 1.0) : 0.0;
    const double half = h / (2 * n);
    const Color seam = interpolated(colors.back(), colors.front(), 0.5);
    std::vector<GradientStop> stops;
    stops.reserve(2 * colors.size() + 2);
    stops.push_back({0, seam});
    for (std::size_t i = 0; i < colors.size(); ++i) {
        const auto k = static_cast<double>(i);
        stops.push_back({k / n + half, colors[i]});
        stops.push_back({(k + 1) / n - half, colors[i]});
    }
    stops.push_back({1, seam});
    return stops;
}

Color HueDriftClock::gradientColor(double x, const std::vector<Color>& colors, bool blend,
                                   double transitionWidth) {
    if (colors.empty()) return Color::black();
    if (colors.size() == 1) return colors.front();
    const double p = fractionalPart(finiteOr(x, 0.0));
    const auto stops = gradientStops(colors, blend, transitionWidth);
    for (std::size_t k = 1; k < stops.size(); ++k) {
        if (stops[k].location >= p) {
            const auto& a = stops[k - 1];
            const auto& b = stops[k];
            if (b.location - a.location <= 0) return b.color;
            return interpolated(a.color, b.color, (p - a.location) / (b.location - a.location));
        }
    }
    return stops.back().color;
}

}  // namespace velaro
