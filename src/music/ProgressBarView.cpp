// The progress line's colours and its painting.
#include "music/ProgressBarView.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace velaro {

namespace {

constexpr int kRainbowStops = 8;
constexpr double kRainbowSpan = 300;  // degrees of hue from the left end to the right
constexpr double kRainbowSaturation = 0.9;
constexpr double kTrackAlpha = 0.15;
// Just enough to be there: where partly transparent pixels exist, the whole strip then catches the mouse.
constexpr double kBackdropAlpha = 0.02;

double unit(double v) {
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

QColor qColor(const Color& c) {
    return QColor::fromRgbF(float(unit(c.red)), float(unit(c.green)), float(unit(c.blue)),
                            float(unit(c.alpha)));
}

}  // namespace

Color adaptToBackdrop(const Color& color, double colorMix) {
    if (!(colorMix > 0.001)) return color;
    const ColorHsb hsb = toHsb(color);
    if (hsb.saturation < 0.12 && hsb.brightness > 0.85) return color;
    const double l = relativeLuminance(color);
    const double k = l > 0.0001 ? std::min(kProgressLuminanceCeiling / l, 1.0) - 1 : 0.0;
    const double factor = 1 + k * std::min(colorMix, 1.0);
    return {color.red * factor, color.green * factor, color.blue * factor, color.alpha};
}

std::vector<Color> progressGradient(const ProgressColorInput& input) {
    const double opacity = std::isfinite(input.opacity) ? std::clamp(input.opacity, 0.2, 1.0) : 1.0;
    const double mix = unit(input.colorMix);
    if (input.mode != ProgressColorMode::rainbow) {
        // Mono is white on a dark menu bar and black on a light one; either fades in from the left.
        const double g = 1 - mix;
        const Color c =
            input.mode == ProgressColorMode::mono ? Color::rgb(g, g, g) : adaptToBackdrop(input.solid, mix);
        return {c.withAlpha(opacity * 0.25), c.withAlpha(opacity)};
    }
    std::vector<Color> stops;
    stops.reserve(kRainbowStops);
    const double phase = std::isfinite(input.huePhase) ? input.huePhase : 0.0;
    for (int i = 0; i < kRainbowStops; ++i) {
        const double t = double(i) / (kRainbowStops - 1);
        double hue = std::fmod(phase + t * kRainbowSpan, 360.0);
        if (hue < 0) hue += 360;
        const Color c = adaptToBackdrop(fromHsb({hue / 360, kRainbowSaturation, 1}), mix);
        stops.push_back(c.withAlpha(opacity * (0.25 + 0.75 * t)));
    }
    return stops;
}

void paintProgressBar(QPainter& painter, Size size, const ProgressBarLook& look) {
    const double w = size.width;
    const double line = std::clamp(std::isfinite(look.line) ? look.line : 0.0, 0.0, size.height);
    const double armed = unit(look.armedMix);
    if (armed > 0 && look.backdrop)
        painter.fillRect(QRectF(0, 0, w, size.height),
                         qColor(Color::black().withAlpha(kBackdropAlpha * armed)));
    if (armed > 0) {
        const Color ink = look.trackInkDark ? Color::black() : Color::white();
        painter.fillRect(QRectF(0, 0, w, line), qColor(ink.withAlpha(kTrackAlpha * armed)));
    }
    const double fill = std::clamp(std::isfinite(look.fillWidth) ? look.fillWidth : 0.0, 0.0, w);
    if (fill <= 0 || line <= 0 || look.fillStops.empty()) return;
    if (look.fillStops.size() == 1) {
        painter.fillRect(QRectF(0, 0, fill, line), qColor(look.fillStops.front()));
        return;
    }
    QLinearGradient gradient(0, 0, fill, 0);
    const auto n = look.fillStops.size();
    for (std::size_t i = 0; i < n; ++i)
        gradient.setColorAt(double(i) / double(n - 1), qColor(look.fillStops[i]));
    painter.fillRect(QRectF(0, 0, fill, line), gradient);
}

double FillGlide::at(double time) const {
    if (!(duration > 0) || !(time < start + duration)) return to;
    if (time <= start) return from;
    return from + (to - from) * (time - start) / duration;
}

std::optional<double> FillGlide::nextPixelTime(double time, double scale) const {
    if (!(duration > 0) || !(scale > 0) || from == to || !(time < start + duration)) return std::nullopt;
    const double now = std::max(time, start);
    const double shown = std::round(at(now) * scale);
    // Rounding moves on where the end passes the middle between the pixel shown and the next one.
    const bool rising = to > from;
    const double edge = (rising ? shown + 0.5 : shown - 0.5) / scale;
    if (rising ? to < edge : to >= edge) return std::nullopt;
    return start + duration * (edge - from) / (to - from);
}

double gradientStretchChange(const std::vector<Color>& stops, double fromWidth, double toWidth) {
    const double shorter = std::min(fromWidth, toWidth), longer = std::max(fromWidth, toWidth);
    // Columns the shorter fill did not cover are painted anew anyway.
    if (stops.size() < 2 || !(shorter > 0) || !std::isfinite(longer)) return 0;
    // The gradient's steepest change over its whole length, premultiplied as it is painted.
    double slope = 0;
    for (std::size_t i = 1; i < stops.size(); ++i) {
        const Color& a = stops[i - 1];
        const Color& b = stops[i];
        slope = std::max({slope, std::abs(unit(b.red) * unit(b.alpha) - unit(a.red) * unit(a.alpha)),
                          std::abs(unit(b.green) * unit(b.alpha) - unit(a.green) * unit(a.alpha)),
                          std::abs(unit(b.blue) * unit(b.alpha) - unit(a.blue) * unit(a.alpha)),
                          std::abs(unit(b.alpha) - unit(a.alpha))});
    }
    slope *= double(stops.size() - 1);
    // Column x shows the gradient at x / width; over the columns both fills cover that moves by at most
    // shorter * (1 / shorter - 1 / longer).
    return slope * (longer - shorter) / longer;
}

}  // namespace velaro
