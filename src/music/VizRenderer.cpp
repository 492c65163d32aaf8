// What the visualizer's two renderers share: the checks on a frame's uniform block and the glow's kernel.
#include "music/VizRenderer.h"

#include <algorithm>
#include <cmath>

namespace velaro {

namespace {

constexpr double kMinBloomPoints = 2.0;
constexpr double kMaxBloomPoints = 24.0;

float finite(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

VizFloat4 finite(const VizFloat4& v) {
    return {finite(v.x), finite(v.y), finite(v.z), finite(v.w)};
}

}  // namespace

VizUniforms vizSanitisedUniforms(const VizUniforms* uniforms) {
    static const VizUniforms kNone{};
    const VizUniforms& in = uniforms ? *uniforms : kNone;
    VizUniforms u;
    u.u0 = finite(in.u0);
    u.u1 = finite(in.u1);
    u.u2 = finite(in.u2);
    u.u3 = finite(in.u3);
    u.u4 = finite(in.u4);
    u.u5 = finite(in.u5);
    u.u6 = finite(in.u6);
    u.u4.y = std::clamp(u.u4.y, 0.0f, float(kVizPaletteStops));
    u.u5.x = std::clamp(u.u5.x, 0.0f, float(VIZ_MAX_WAVES));
    const int stops = static_cast<int>(u.u4.y);
    for (int i = 0; i < kVizPaletteStops; ++i) u.pal[i] = i < stops ? finite(in.pal[i]) : VizFloat4{};
    for (int i = 0; i < kVizBandCount / 4; ++i) u.env[i] = finite(in.env[i]);
    return u;
}

double vizBloomSigma(double points, double contentsScale) {
    const double radius =
        std::isfinite(points) ? std::clamp(points, kMinBloomPoints, kMaxBloomPoints) : kMinBloomPoints;
    return radius * contentsScale;
}

std::vector<double> vizGaussianWeights(double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<double> g(radius + 1);
    double total = 0;
    for (int k = 0; k <= radius; ++k) {
        g[k] = std::exp(-(k * k) / (2.0 * sigma * sigma));
        total += k == 0 ? g[k] : 2 * g[k];
    }
    for (double& w : g) w /= total;
    return g;
}

}  // namespace velaro
