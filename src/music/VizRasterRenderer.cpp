// The visualizer on the CPU: the GL shaders' arithmetic per pixel, the trail moved in place, and the glow
// boxed down, blurred and widened back. Pixels are premultiplied ARGB words; the blends work on their four
// bytes alike and read alpha from the top one.
#include "music/VizRasterRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace velaro {

namespace {

// How far the trail falls, in points a second, as the GL trail pass moves it.
constexpr double kTrailFallPoints = 40.0;
// The glow is worked on at most this many times smaller, and at no fewer than this many of its pixels per
// sigma: below that the box it is reduced with would show.
constexpr int kMaxGlowDownsample = 8;
constexpr double kMinLowSigma = 3.0;
// A glow value below this adds nothing once written as a byte.
constexpr float kInvisible = 0.5f / 255.0f;

struct Rgb {
    float r = 0, g = 0, b = 0;
};

float fract(float x) {
    return x - std::floor(x);
}

float smoothstep(float from, float to, float x) {
    const float t = std::clamp((x - from) / (to - from), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

float mix(float a, float b, float t) {
    return a + (b - a) * t;
}

Rgb mix(const Rgb& a, const Rgb& b, float t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}

Rgb scaled(const Rgb& c, float f) {
    return {c.r * f, c.g * f, c.b * f};
}

// The shaders' hue triangle: |k - 3| - 1 gives the hue itself.
Rgb hsv2rgb(float h, float s, float v) {
    auto channel = [&](float offset) {
        const float k = fract(h + offset) * 6;
        return v * mix(1.0f, std::clamp(std::abs(k - 3) - 1, 0.0f, 1.0f), s);
    };
    return {channel(0), channel(2.0f / 3), channel(1.0f / 3)};
}

// Colours on a light backdrop are darkened towards the luminance ceiling, as the shaders do.
Rgb adapt(const Rgb& c, float weight) {
    const float l = 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b;
    const float adapt = std::min(1.0f, VIZ_ADAPT_TARGET_LUM / std::max(l, 0.0001f));
    return scaled(c, mix(1.0f, adapt, weight));
}

std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

// Premultiplied colour over a pixel (its bytes in memory order: blue, green, red, alpha).
void blendOver(std::uint32_t& pixel, const Rgb& c, float a) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(&pixel);
    const float keep = 1 - a;
    bytes[0] = toByte(c.b + bytes[0] / 255.0f * keep);
    bytes[1] = toByte(c.g + bytes[1] / 255.0f * keep);
    bytes[2] = toByte(c.r + bytes[2] / 255.0f * keep);
    bytes[3] = toByte(a + bytes[3] / 255.0f * keep);
}

bool rowIsClear(const std::uint32_t* row, int width) {
    std::uint32_t any = 0;
    for (int x = 0; x < width; ++x) any |= row[x];
    return any == 0;
}

}  // namespace

VizRasterRenderer::VizRasterRenderer(int width, int height, double contentsScale,
                                     const std::vector<VizBarSlot>& bars)
    : width_(std::max(1, width)),
      height_(std::max(1, height)),
      scale_(std::isfinite(contentsScale) && contentsScale > 0 ? contentsScale : 1.0),
      heights_(bars.size()),
      scene_(std::size_t(width_) * height_, 0u),
      image_(width_, height_, QImage::Format_ARGB32_Premultiplied),
      fade_(height_) {
    bars_.reserve(bars.size());
    for (const VizBarSlot& bar : bars)
        bars_.push_back({std::isfinite(bar.x) ? bar.x : 0.0f, std::isfinite(bar.width) ? bar.width : 0.0f});
    image_.fill(Qt::transparent);
    image_.setDevicePixelRatio(scale_);
    // 1 above 45 % of the height, falling to 0 at the bottom edge.
    for (int y = 0; y < height_; ++y) fade_[y] = 1 - smoothstep(0.45f, 1.0f, (y + 0.5f) / float(height_));
    waveTop_.reserve(std::size_t(VIZ_MAX_WAVES) * width_);
}

void VizRasterRenderer::setBloomSigma(double points) {
    const double sigma = vizBloomSigma(points, scale_);
    if (sigma == sigma_) return;
    sigma_ = sigma;
    factor_ = 1;
    while (factor_ < kMaxGlowDownsample && sigma / (2 * factor_) >= kMinLowSigma) factor_ *= 2;
    lowWidth_ = (width_ + factor_ - 1) / factor_;
    lowHeight_ = (height_ + factor_ - 1) / factor_;
    const auto weights = vizGaussianWeights(sigma / factor_);
    weights_.assign(weights.begin(), weights.end());
    const int radius = static_cast<int>(weights_.size()) - 1;
    low_.assign(std::size_t(lowWidth_) * lowHeight_ * 4, 0.0f);
    lowScratch_.assign(low_.size(), 0.0f);
    padded_.assign(std::size_t(lowWidth_ + 2 * radius) * 4, 0.0f);
    glowRows_.assign(std::size_t(lowHeight_) * width_ * 4, 0.0f);
    lowPeak_.assign(lowHeight_, 0.0f);
    // Each column's two nearest low pixels and the weight of the second, their centres at (i + 0.5) f.
    column0_.resize(width_);
    column1_.resize(width_);
    columnWeight_.resize(width_);
    for (int x = 0; x < width_; ++x) {
        const double at = (x + 0.5) / factor_ - 0.5;
        const int i = std::clamp(static_cast<int>(std::floor(at)), 0, lowWidth_ - 1);
        column0_[x] = i;
        column1_[x] = std::min(i + 1, lowWidth_ - 1);
        columnWeight_[x] = static_cast<float>(std::clamp(at - i, 0.0, 1.0));
    }
}

void VizRasterRenderer::noteRows(int& rows, int drawn) const {
    rows = std::clamp(std::max(rows, drawn), 0, height_);
}

void VizRasterRenderer::encode(const VizFrame& frame) {
    if (bars_.empty()) return;
    for (std::size_t i = 0; i < heights_.size(); ++i) {
        const float h = i < frame.heights.size() ? frame.heights[i] : 0.0f;
        heights_[i] = std::isfinite(h) ? std::clamp(h, 0.0f, 1.0f) : 0.0f;
    }
    u_ = vizSanitisedUniforms(frame.uniforms);
    liveWaves_ = static_cast<int>(u_.u5.x);
    if (frame.waves) {
        for (int k = 0; k < liveWaves_; ++k) {
            waves_.wp[k] = frame.waves->wp[k];
            waves_.wp[k + VIZ_MAX_WAVES] = frame.waves->wp[k + VIZ_MAX_WAVES];
        }
    } else {
        liveWaves_ = 0;
    }
    const double intensity = std::isfinite(frame.bloomIntensity) ? frame.bloomIntensity : 0.0;
    const bool bloom = intensity > 0.001 && sigma_ > 0;
    if (frame.trail) {
        if (!lastTrailEnabled_) needsTrailClear_ = true;
        lastTrailEnabled_ = true;
    } else {
        lastTrailEnabled_ = false;
    }

    auto* pixels = reinterpret_cast<std::uint32_t*>(image_.bits());
    if (!frame.trail && !bloom) {
        // Direct: the scene alone, with no bottom fade.
        std::memset(pixels, 0, std::size_t(paintedRows_) * width_ * 4);
        paintedRows_ = 0;
        drawBars(pixels, paintedRows_);
        drawWaves(pixels, paintedRows_);
        return;
    }
    if (needsTrailClear_ || !frame.trail) {
        needsTrailClear_ = false;
        std::memset(scene_.data(), 0, std::size_t(sceneRows_) * width_ * 4);
        sceneRows_ = 0;
    }
    if (frame.trail) {
        const double dt = std::isfinite(frame.dt) ? std::max(0.0, frame.dt) : 0.0;
        const double length = std::isfinite(frame.trailLength) ? std::max(frame.trailLength, 0.01) : 0.01;
        shiftTrail(dt, length);
    }
    drawBars(scene_.data(), sceneRows_);
    drawWaves(scene_.data(), sceneRows_);
    if (bloom) blurScene();
    composite(bloom ? intensity : 0.0);
}

void VizRasterRenderer::shiftTrail(double dt, double length) {
    // Each row takes the rows above it, `shift` pixels up, linearly between the two it falls between, and
    // loses light by the decay. Rounding down, the faintest light dies out instead of lingering at 1/255.
    const double shift = kTrailFallPoints * dt * scale_;
    const double decay = std::exp2(-dt / length);
    const int whole = static_cast<int>(std::min(std::floor(shift), double(height_)));
    const double part = shift - std::floor(shift);
    const auto near = static_cast<unsigned>(std::lround((1 - part) * decay * 256));
    const auto far = static_cast<unsigned>(std::lround(part * decay * 256));
    const int rows = std::min(height_, sceneRows_ + whole + 1);
    const std::size_t rowBytes = std::size_t(width_) * 4;
    auto* bytes = reinterpret_cast<std::uint8_t*>(scene_.data());
    int lit = 0;
    // From the bottom up, so that every row still reads the rows above it as they were.
    for (int y = rows - 1; y >= 0; --y) {
        std::uint8_t* out = bytes + std::size_t(y) * rowBytes;
        const int a = y - whole, b = y - whole - 1;
        const std::uint8_t* first = a >= 0 && a < sceneRows_ ? bytes + std::size_t(a) * rowBytes : nullptr;
        const std::uint8_t* second = b >= 0 && b < sceneRows_ ? bytes + std::size_t(b) * rowBytes : nullptr;
        if (first && second) {
            for (std::size_t i = 0; i < rowBytes; ++i)
                out[i] = static_cast<std::uint8_t>((first[i] * near + second[i] * far) >> 8);
        } else if (first || second) {
            const std::uint8_t* from = first ? first : second;
            const unsigned weight = first ? near : far;
            for (std::size_t i = 0; i < rowBytes; ++i)
                out[i] = static_cast<std::uint8_t>((from[i] * weight) >> 8);
        } else {
            std::memset(out, 0, rowBytes);
        }
        if (!lit && !rowIsClear(scene_.data() + std::size_t(y) * width_, width_)) lit = y + 1;
    }
    sceneRows_ = lit;
}

void VizRasterRenderer::drawBars(std::uint32_t* target, int& rows) {
    const float base = u_.u0.x * (1 - u_.u2.x) * u_.u6.z;
    if (u_.u2.x >= 0.999f || base <= 0) return;
    const float mono = 1 - u_.u0.w;
    const float width = float(width_), height = float(height_);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const float left = bars_[i].x * width, barWidth = bars_[i].width * width;
        const float length = heights_[i] * height;
        // The pixels whose centres the bar's rectangle covers, as a rasteriser takes them.
        const int x0 = std::clamp(static_cast<int>(std::ceil(left - 0.5f)), 0, width_);
        const int x1 = std::clamp(static_cast<int>(std::ceil(left + barWidth - 0.5f)), 0, width_);
        const int y1 = std::clamp(static_cast<int>(std::ceil(length - 0.5f)), 0, height_);
        if (x0 >= x1 || y1 < 1) continue;
        const float position = bars_[i].x + bars_[i].width / 2;
        const Rgb chromatic = adapt(hsv2rgb(fract((u_.u1.y + position * u_.u1.z) / 360), u_.u1.w, u_.u6.x),
                                    u_.u0.w * (1 - u_.u6.y));
        const Rgb colour = mix(Rgb{mono, mono, mono}, chromatic, u_.u1.x);
        // The bottom end is a half disc as wide as the bar.
        const float radius = barWidth / 2, capStart = length - radius;
        for (int y = 0; y < y1; ++y) {
            const float py = y + 0.5f;
            std::uint32_t* row = target + std::size_t(y) * width_;
            for (int x = x0; x < x1; ++x) {
                float cover = 1;
                if (py > capStart)
                    cover = std::clamp(radius + 0.5f - std::hypot(x + 0.5f - left - radius, py - capStart),
                                       0.0f, 1.0f);
                const float a = base * cover;
                if (a > 0) blendOver(row[x], scaled(colour, a), a);
            }
        }
        noteRows(rows, y1);
    }
}

void VizRasterRenderer::drawWaves(std::uint32_t* target, int& rows) {
    const float alpha = u_.u0.x * u_.u2.x * u_.u6.z;
    const int count = liveWaves_;
    if (u_.u2.x <= 0.001f || alpha <= 0 || count < 1) return;
    const std::size_t cells = std::size_t(count) * width_;
    waveTop_.resize(cells);
    waveEdge_.resize(cells);
    waveCover_.resize(cells);
    waveRgb_.resize(cells * 3);
    const float gray = 1 - u_.u0.w;
    // The band envelope as one run of 64 values (the block holds them four to a vector).
    std::array<float, kVizBandCount> envelope;
    static_assert(sizeof(envelope) == sizeof(u_.env));
    std::memcpy(envelope.data(), u_.env.data(), sizeof(envelope));
    float lowest = 0;
    // Everything but the row: each wave's lobe height, edge and colour depend on the column alone.
    for (int x = 0; x < width_; ++x) {
        const float ux = (x + 0.5f) / float(width_);
        const float at = std::clamp(ux, 0.0f, 1.0f) * 63;
        const int i = static_cast<int>(std::floor(at));
        const int j = std::min(i + 1, 63);
        const float spectrum = mix(envelope[i], envelope[j], at - float(i));
        for (int k = 0; k < count; ++k) {
            const VizFloat4& dyn = waves_.wp[k];
            const VizFloat4& fix = waves_.wp[k + VIZ_MAX_WAVES];
            const float dx = (ux - dyn.y) / dyn.z;
            const float lobe = mix(std::exp(-dx * dx), 1.0f, u_.u5.z);
            const float ripple = 0.65f + 0.35f * std::sin(2 * std::numbers::pi_v<float> * ux * fix.x + dyn.w);
            const float top = mix(dyn.x, spectrum, u_.u5.w) * lobe * ripple;
            const std::size_t cell = std::size_t(k) * width_ + x;
            waveTop_[cell] = std::isfinite(top) ? top : 0.0f;
            Rgb chroma;
            if (u_.u3.x > 0) {
                const float hue = u_.u3.y + fix.z + u_.u5.y * std::clamp(dx / 2, -1.0f, 1.0f);
                const Rgb chromatic = u_.u4.x < 1 ? hsv2rgb(fract(hue / 360), u_.u3.w, fix.y) : Rgb{};
                Rgb palette;
                if (u_.u4.x > 0) {
                    const float stops = u_.u4.y;
                    const float t = fract(u_.u4.z * ux + fix.w + u_.u4.w) * stops;
                    const int a = std::min(static_cast<int>(std::floor(t)), kVizPaletteStops - 1);
                    const int b = float(a + 1) < stops ? a + 1 : 0;
                    const VizFloat4& pa = u_.pal[a];
                    const VizFloat4& pb = u_.pal[b];
                    palette = scaled(mix(Rgb{pa.x, pa.y, pa.z}, Rgb{pb.x, pb.y, pb.z}, t - float(a)), fix.y);
                }
                chroma = adapt(mix(chromatic, palette, u_.u4.x), u_.u0.w);
            }
            const Rgb rgb = mix(Rgb{gray * fix.y, gray * fix.y, gray * fix.y}, chroma, u_.u3.x);
            waveRgb_[cell * 3] = rgb.r;
            waveRgb_[cell * 3 + 1] = rgb.g;
            waveRgb_[cell * 3 + 2] = rgb.b;
        }
    }
    // The edge is as wide as the lobe changes across a pixel (the shader's fwidth, over pairs of columns)
    // plus one row, scaled, plus the softness.
    for (int k = 0; k < count; ++k) {
        const float* top = &waveTop_[std::size_t(k) * width_];
        for (int x = 0; x < width_; ++x) {
            const int pair = x & ~1;
            const float slope = pair + 1 < width_ ? std::abs(top[pair + 1] - top[pair]) : 0.0f;
            const float edge = std::max((slope + 1) * u_.u2.w + u_.u2.y, 0.001f);
            const std::size_t cell = std::size_t(k) * width_ + x;
            waveEdge_[cell] = edge;
            waveCover_[cell] = smoothstep(0, edge, top[x]) * u_.u2.z;
            lowest = std::max(lowest, top[x] + edge);
        }
    }
    const int y1 = std::clamp(static_cast<int>(std::ceil(lowest)), 0, height_);
    for (int y = 0; y < y1; ++y) {
        const float py = y + 0.5f;
        std::uint32_t* row = target + std::size_t(y) * width_;
        for (int x = 0; x < width_; ++x) {
            Rgb sum;
            float clear = 1;
            for (int k = 0; k < count; ++k) {
                const std::size_t cell = std::size_t(k) * width_ + x;
                const float edge = waveEdge_[cell];
                const float d = waveTop_[cell] - py;
                if (d <= -edge) continue;
                const float a = smoothstep(-edge, edge, d) * waveCover_[cell];
                if (a <= 0) continue;
                sum.r += waveRgb_[cell * 3] * a;
                sum.g += waveRgb_[cell * 3 + 1] * a;
                sum.b += waveRgb_[cell * 3 + 2] * a;
                clear *= 1 - a;
            }
            if (clear >= 1) continue;
            const Rgb c{std::min(sum.r, 1.0f) * alpha, std::min(sum.g, 1.0f) * alpha,
                        std::min(sum.b, 1.0f) * alpha};
            blendOver(row[x], c, (1 - clear) * alpha);
        }
    }
    noteRows(rows, y1);
}

void VizRasterRenderer::blurScene() {
    const int f = factor_, lw = lowWidth_, lh = lowHeight_;
    const int radius = static_cast<int>(weights_.size()) - 1;
    std::fill(low_.begin(), low_.end(), 0.0f);
    // Boxed down: each low pixel the mean of the pixels it covers (fewer at the right and bottom edges).
    const int litLow = (sceneRows_ + f - 1) / f;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(scene_.data());
    for (int y = 0; y < sceneRows_; ++y) {
        float* out = &low_[std::size_t(y / f) * lw * 4];
        const std::uint8_t* in = bytes + std::size_t(y) * width_ * 4;
        for (int i = 0; i < lw; ++i) {
            const int from = i * f, to = std::min(from + f, width_);
            unsigned sum[4] = {0, 0, 0, 0};
            for (int x = from; x < to; ++x)
                for (int c = 0; c < 4; ++c) sum[c] += in[x * 4 + c];
            for (int c = 0; c < 4; ++c) out[i * 4 + c] += float(sum[c]);
        }
    }
    for (int j = 0; j < litLow; ++j) {
        const int tall = std::min(f, height_ - j * f);
        for (int i = 0; i < lw; ++i) {
            const int wide = std::min(f, width_ - i * f);
            const float scale = 1.0f / (255.0f * float(tall * wide));
            for (int c = 0; c < 4; ++c) low_[(std::size_t(j) * lw + i) * 4 + c] *= scale;
        }
    }
    // Across, each lit row padded with its own edge pixels so the taps need no bounds.
    const int lanes = lw * 4;
    std::fill(lowScratch_.begin(), lowScratch_.end(), 0.0f);
    for (int j = 0; j < litLow; ++j) {
        const float* row = &low_[std::size_t(j) * lanes];
        for (int i = 0; i < lw + 2 * radius; ++i) {
            const int from = std::clamp(i - radius, 0, lw - 1);
            for (int c = 0; c < 4; ++c) padded_[std::size_t(i) * 4 + c] = row[from * 4 + c];
        }
        const float* p = padded_.data() + radius * 4;
        float* out = &lowScratch_[std::size_t(j) * lanes];
        for (int n = 0; n < lanes; ++n) out[n] = weights_[0] * p[n];
        for (int k = 1; k <= radius; ++k) {
            const float w = weights_[k];
            for (int n = 0; n < lanes; ++n) out[n] += w * (p[n - 4 * k] + p[n + 4 * k]);
        }
    }
    // Down, the rows past the edges standing in for the edge rows.
    for (int j = 0; j < lh; ++j) {
        float* out = &low_[std::size_t(j) * lanes];
        const float* centre = &lowScratch_[std::size_t(j) * lanes];
        for (int n = 0; n < lanes; ++n) out[n] = weights_[0] * centre[n];
        for (int k = 1; k <= radius; ++k) {
            const float w = weights_[k];
            const float* up = &lowScratch_[std::size_t(std::max(j - k, 0)) * lanes];
            const float* down = &lowScratch_[std::size_t(std::min(j + k, lh - 1)) * lanes];
            for (int n = 0; n < lanes; ++n) out[n] += w * (up[n] + down[n]);
        }
        lowPeak_[j] = *std::max_element(out, out + lanes);
    }
    // Widened back across; the composite mixes two of these rows for each of its own.
    for (int j = 0; j < lh; ++j) {
        const float* in = &low_[std::size_t(j) * lanes];
        float* out = &glowRows_[std::size_t(j) * width_ * 4];
        for (int x = 0; x < width_; ++x) {
            const float* a = in + column0_[x] * 4;
            const float* b = in + column1_[x] * 4;
            const float t = columnWeight_[x];
            for (int c = 0; c < 4; ++c) out[x * 4 + c] = a[c] + (b[c] - a[c]) * t;
        }
    }
}

void VizRasterRenderer::composite(double intensity) {
    // As the GL composite: the glow added to a clear target (each byte clamped), then the scene under the
    // bottom fade over it.
    const bool glow = intensity > 0;
    const int f = factor_, lh = lowHeight_;
    const std::size_t lanes = std::size_t(width_) * 4;
    const auto* scene = reinterpret_cast<const std::uint8_t*>(scene_.data());
    auto* image = image_.bits();
    int lit = 0;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* out = image + std::size_t(y) * lanes;
        const float fade = fade_[y];
        // The two widened glow rows this row lies between, and how far it is from the first.
        int j0 = 0, j1 = 0;
        float t = 0, gain = 0;
        if (glow) {
            const float at = (y + 0.5f) / float(f) - 0.5f;
            j0 = std::clamp(static_cast<int>(std::floor(at)), 0, lh - 1);
            j1 = std::min(j0 + 1, lh - 1);
            t = std::clamp(at - float(j0), 0.0f, 1.0f);
            gain = static_cast<float>(intensity) * fade;
        }
        const bool sceneRow = y < sceneRows_;
        const bool glowRow = glow && std::max(lowPeak_[j0], lowPeak_[j1]) * gain >= kInvisible;
        if (!sceneRow && !glowRow) {
            if (y < paintedRows_) std::memset(out, 0, lanes);
            continue;
        }
        const std::uint8_t* in = scene + std::size_t(y) * lanes;
        const float* g0 = glowRow ? glowRows_.data() + std::size_t(j0) * lanes : nullptr;
        const float* g1 = glowRow ? glowRows_.data() + std::size_t(j1) * lanes : nullptr;
        const float sceneGain = fade / 255.0f;
        std::uint32_t any = 0;
        if (!glowRow) {
            // The scene alone under the fade, in 8-bit steps.
            const auto step = static_cast<unsigned>(fade * 256 + 0.5f);
            for (std::size_t n = 0; n < lanes; ++n) {
                out[n] = static_cast<std::uint8_t>(std::min(255u, (in[n] * step) >> 8));
                any |= out[n];
            }
        } else if (!sceneRow) {
            // The glow alone.
            for (std::size_t n = 0; n < lanes; ++n) {
                const float v = std::min((g0[n] + (g1[n] - g0[n]) * t) * gain, 1.0f);
                out[n] = static_cast<std::uint8_t>(v * 255.0f + 0.5f);
                any |= out[n];
            }
        } else {
            for (std::size_t n = 0; n < lanes; n += 4) {
                const float keep = 1 - in[n + 3] * sceneGain;
                for (std::size_t c = 0; c < 4; ++c) {
                    const float glowed = std::min((g0[n + c] + (g1[n + c] - g0[n + c]) * t) * gain, 1.0f);
                    const float v = std::min(in[n + c] * sceneGain + glowed * keep, 1.0f);
                    out[n + c] = static_cast<std::uint8_t>(v * 255.0f + 0.5f);
                    any |= out[n + c];
                }
            }
        }
        if (any) lit = y + 1;
    }
    paintedRows_ = lit;
}

}  // namespace velaro
