// The visualizer on the CPU: the GL shaders' arithmetic per pixel, the trail moved in place, and the glow
// boxed down, blurred and widened back. Pixels are premultiplied ARGB words; the blends work on their four
// bytes alike and read alpha from the top one.
#include "music/VizRasterRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <span>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELARO_VECTOR_VIZ_KERNELS 1
#include <immintrin.h>
#endif

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

// Each takes both operands whatever they are (no comparison waits on another), so that loops of them run as
// vectors; for numbers they are std::min, std::max and std::clamp.
[[gnu::always_inline]] inline float least(float a, float b) {
    return b < a ? b : a;
}

[[gnu::always_inline]] inline float most(float a, float b) {
    return a < b ? b : a;
}

[[gnu::always_inline]] inline float clamped(float x, float from, float to) {
    return least(most(x, from), to);
}

[[gnu::always_inline]] inline float fract(float x) {
    return x - std::floor(x);
}

[[gnu::always_inline]] inline float smoothstep(float from, float to, float x) {
    const float t = std::clamp((x - from) / (to - from), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

[[gnu::always_inline]] inline float mix(float a, float b, float t) {
    return a + (b - a) * t;
}

[[gnu::always_inline]] inline Rgb mix(const Rgb& a, const Rgb& b, float t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}

[[gnu::always_inline]] inline Rgb scaled(const Rgb& c, float f) {
    return {c.r * f, c.g * f, c.b * f};
}

// The shaders' hue triangle: |k - 3| - 1 gives the hue itself.
[[gnu::always_inline]] inline Rgb hsv2rgb(float h, float s, float v) {
    auto channel = [&](float offset) {
        const float k = fract(h + offset) * 6;
        return v * mix(1.0f, clamped(std::abs(k - 3) - 1, 0.0f, 1.0f), s);
    };
    return {channel(0), channel(2.0f / 3), channel(1.0f / 3)};
}

// Colours on a light backdrop are darkened towards the luminance ceiling, as the shaders do.
[[gnu::always_inline]] inline Rgb adapt(const Rgb& c, float weight) {
    const float l = 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b;
    const float adapt = least(1.0f, VIZ_ADAPT_TARGET_LUM / most(l, 0.0001f));
    return scaled(c, mix(1.0f, adapt, weight));
}

// Premultiplied colour over a pixel (its bytes in memory order: blue, green, red, alpha), the four channels
// alike: in one vector of four where the processor has them (every x86-64 one does).
[[gnu::always_inline]] inline void blendOver(std::uint32_t& pixel, const Rgb& c, float a) {
    const float keep = (1 - a) / 255.0f;
#ifdef VELARO_VECTOR_VIZ_KERNELS
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(static_cast<int>(pixel));
    const __m128 under = _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
    __m128 v = _mm_add_ps(_mm_setr_ps(c.b, c.g, c.r, a), _mm_mul_ps(under, _mm_set1_ps(keep)));
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1));
    const __m128i words = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(255)), _mm_set1_ps(0.5f)));
    pixel =
        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(words, zero), zero)));
#else
    auto* bytes = reinterpret_cast<std::uint8_t*>(&pixel);
    const float over[4] = {c.b, c.g, c.r, a};
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(clamped(over[i] + bytes[i] * keep, 0.0f, 1.0f) * 255.0f + 0.5f);
#endif
}

// A trail row from the two rows it falls between, weighted in 256ths (the weights sum to at most 257, so
// 16 bits hold every sum). `out` may be `first` itself.
#ifdef VELARO_VECTOR_VIZ_KERNELS
__attribute__((target_clones("avx2", "default")))
#endif
void fallRow(std::uint8_t* out, const std::uint8_t* first, const std::uint8_t* second, unsigned nearWeight,
             unsigned farWeight, std::size_t bytes) {
    const auto near = static_cast<std::uint16_t>(nearWeight), far = static_cast<std::uint16_t>(farWeight);
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] =
            static_cast<std::uint8_t>(static_cast<std::uint16_t>(first[i] * near + second[i] * far) >> 8);
}

bool rowIsClear(const std::uint32_t* row, int width) {
    std::uint32_t any = 0;
    for (int x = 0; x < width; ++x) any |= row[x];
    return any == 0;
}

// Byte lanes added into 16-bit sums (a block of up to 256 rows cannot overflow them).
#ifdef VELARO_VECTOR_VIZ_KERNELS
__attribute__((target_clones("avx2", "default")))
#endif
void addRow(std::uint16_t* __restrict sum, const std::uint8_t* __restrict row, std::size_t lanes) {
    for (std::size_t n = 0; n < lanes; ++n) sum[n] = static_cast<std::uint16_t>(sum[n] + row[n]);
}

// The blur's taps: a row scaled by the centre weight, and a pair of rows on either side added at theirs. Built
// for AVX2 too, with the same steps (none fused).
#ifdef VELARO_VECTOR_VIZ_KERNELS
__attribute__((target_clones("avx2", "default")))
#endif
void scaleLanes(float* __restrict out, const float* __restrict in, float weight, int lanes) {
    for (int n = 0; n < lanes; ++n) out[n] = weight * in[n];
}

#ifdef VELARO_VECTOR_VIZ_KERNELS
__attribute__((target_clones("avx2", "default")))
#endif
void addLanePairs(float* __restrict out, const float* a, const float* b, float weight, int lanes) {
    for (int n = 0; n < lanes; ++n) out[n] += weight * (a[n] + b[n]);
}

// The largest of `lanes` (at least one) values: four running maxima side by side where the processor has
// vectors, not one long chain of comparisons each waiting on the last.
float largestLane(const float* values, int lanes) {
    int n = 0;
    float largest = values[0];
#ifdef VELARO_VECTOR_VIZ_KERNELS
    if (lanes >= 4) {
        __m128 most4 = _mm_loadu_ps(values);
        for (n = 4; n + 4 <= lanes; n += 4) most4 = _mm_max_ps(most4, _mm_loadu_ps(values + n));
        alignas(16) float four[4];
        _mm_store_ps(four, most4);
        largest = std::max({four[0], four[1], four[2], four[3]});
    }
#endif
    for (; n < lanes; ++n) largest = most(largest, values[n]);
    return largest;
}

// The four byte lanes of `pixels` pixels of 16-bit sums, added up lane by lane into `total`: unless `plain`,
// a pixel at a time in one vector where the processor has them (every x86-64 one does).
void sumPixels(const std::uint16_t* sums, int pixels, unsigned total[4], bool plain) {
#ifdef VELARO_VECTOR_VIZ_KERNELS
    if (!plain) {
        __m128i acc = _mm_setzero_si128();
        for (int x = 0; x < pixels; ++x) {
            const __m128i lanes =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + std::size_t(x) * 4));
            acc = _mm_add_epi32(acc, _mm_unpacklo_epi16(lanes, _mm_setzero_si128()));
        }
        alignas(16) std::uint32_t lanesOut[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanesOut), acc);
        for (int c = 0; c < 4; ++c) total[c] += lanesOut[c];
        return;
    }
#endif
    for (int x = 0; x < pixels; ++x)
        for (int c = 0; c < 4; ++c) total[c] += sums[std::size_t(x) * 4 + c];
}

// A glow row widened from its reduced pixels: each column the two nearest, `weight` of the way to the
// second. Unless `plain`, four channels in one vector, with the same steps (none fused).
void widenRow(const float* in, const int* first, const int* second, const float* weight, int width,
              float* out, bool plain) {
#ifdef VELARO_VECTOR_VIZ_KERNELS
    if (!plain) {
        for (int x = 0; x < width; ++x) {
            const __m128 a = _mm_loadu_ps(in + first[x] * 4), b = _mm_loadu_ps(in + second[x] * 4);
            _mm_storeu_ps(out + std::size_t(x) * 4,
                          _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), _mm_set1_ps(weight[x]))));
        }
        return;
    }
#endif
    for (int x = 0; x < width; ++x) {
        const float* a = in + first[x] * 4;
        const float* b = in + second[x] * 4;
        for (int c = 0; c < 4; ++c) out[std::size_t(x) * 4 + c] = a[c] + (b[c] - a[c]) * weight[x];
    }
}

// What colours one wave: its grey, hue, value and palette lane, and the frame's modes.
struct WaveInk {
    float gray, modeMix, hue, hueSpread, saturation, value, paletteMix, stops, turns, phase;
    const VizFloat4* palette;
    float inkWeight;
};

// One wave's colour at each column, from the column's centre (0...1) and its distance from the lobe's
// centre in lobe widths: the shaders' arithmetic, a step at a time over all columns, in plain loops without
// branches or calls, so that each runs a vector of columns at a time.
#ifdef VELARO_VECTOR_VIZ_KERNELS
__attribute__((target_clones("avx2", "default")))
#endif
void waveColours(const WaveInk& ink, const float* __restrict centre, const float* __restrict dx, int width,
                 float* __restrict red, float* __restrict green, float* __restrict blue) {
    const Rgb gray{ink.gray, ink.gray, ink.gray};
    if (!(ink.modeMix > 0)) {
        for (int x = 0; x < width; ++x) red[x] = green[x] = blue[x] = ink.gray * (1 - ink.modeMix);
        return;
    }
    const float chromaticShare = ink.paletteMix < 1 ? 1 - ink.paletteMix : 0.0f;
    for (int x = 0; x < width; ++x) {
        const float hue = ink.hue + ink.hueSpread * clamped(dx[x] / 2, -1.0f, 1.0f);
        const Rgb c = scaled(hsv2rgb(fract(hue / 360), ink.saturation, ink.value), chromaticShare);
        red[x] = c.r;
        green[x] = c.g;
        blue[x] = c.b;
    }
    if (ink.paletteMix > 0) {
        for (int x = 0; x < width; ++x) {
            const float t = fract(ink.turns * centre[x] + ink.phase) * ink.stops;
            const int a = std::min(static_cast<int>(std::floor(t)), kVizPaletteStops - 1);
            const int b = float(a + 1) < ink.stops ? a + 1 : 0;
            const VizFloat4& pa = ink.palette[a];
            const VizFloat4& pb = ink.palette[b];
            const float f = t - float(a), share = ink.paletteMix * ink.value;
            red[x] += mix(pa.x, pb.x, f) * share;
            green[x] += mix(pa.y, pb.y, f) * share;
            blue[x] += mix(pa.z, pb.z, f) * share;
        }
    }
    for (int x = 0; x < width; ++x) {
        const Rgb c = mix(gray, adapt({red[x], green[x], blue[x]}, ink.inkWeight), ink.modeMix);
        red[x] = c.r;
        green[x] = c.g;
        blue[x] = c.b;
    }
}

// ---- the composite's rows ----
//
// A row from the scene under the bottom fade (`sceneGain`, 1/255 at no fade) over the glow, which is the
// two widened glow rows mixed by `t`, times `gain`, each byte at most 1; without a scene row the glow alone.
// The portable form works a byte at a time; the vector ones eight or sixteen pixels at a time, with the same
// arithmetic but fused multiply-adds (a byte may differ by one).

void compositeRowPortable(const std::uint8_t* scene, const float* g0, const float* g1, float t, float gain,
                          float sceneGain, std::uint8_t* out, std::size_t lanes) {
    for (std::size_t n = 0; n < lanes; n += 4) {
        const float keep = scene ? 1 - scene[n + 3] * sceneGain : 1.0f;
        for (std::size_t c = 0; c < 4; ++c) {
            const float glowed = std::min((g0[n + c] + (g1[n + c] - g0[n + c]) * t) * gain, 1.0f);
            const float lit = scene ? scene[n + c] * sceneGain : 0.0f;
            const float v = std::min(lit + glowed * keep, 1.0f);
            out[n + c] = static_cast<std::uint8_t>(v * 255.0f + 0.5f);
        }
    }
}

constexpr VizCompositeKernel kPortableComposite{"portable", compositeRowPortable};

#ifdef VELARO_VECTOR_VIZ_KERNELS

#define VELARO_VIZ_VECTOR_TARGET __attribute__((target("avx2,fma")))

// Eight pixels: two to a vector of eight channels, each pixel's alpha spread over its own half.
template <bool withScene>
VELARO_VIZ_VECTOR_TARGET void compositeRowVectorOf(const std::uint8_t* scene, const float* g0,
                                                   const float* g1, float t, float gain, float sceneGain,
                                                   std::uint8_t* out, std::size_t lanes) {
    const __m256 vt = _mm256_set1_ps(t), vgain = _mm256_set1_ps(gain), vscene = _mm256_set1_ps(sceneGain);
    const __m256 one = _mm256_set1_ps(1), full = _mm256_set1_ps(255), half = _mm256_set1_ps(0.5f);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    std::size_t n = 0;
    for (; n + 32 <= lanes; n += 32) {
        __m256i words[4];
        for (int q = 0; q < 4; ++q) {
            const std::size_t m = n + 8 * std::size_t(q);
            const __m256 a = _mm256_loadu_ps(g0 + m), b = _mm256_loadu_ps(g1 + m);
            __m256 v = _mm256_min_ps(_mm256_mul_ps(_mm256_fmadd_ps(_mm256_sub_ps(b, a), vt, a), vgain), one);
            if constexpr (withScene) {
                const __m256 s = _mm256_cvtepi32_ps(
                    _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(scene + m))));
                const __m256 keep = _mm256_fnmadd_ps(_mm256_shuffle_ps(s, s, 0xFF), vscene, one);
                v = _mm256_min_ps(_mm256_fmadd_ps(v, keep, _mm256_mul_ps(s, vscene)), one);
            }
            words[q] = _mm256_cvttps_epi32(_mm256_fmadd_ps(v, full, half));
        }
        // Packing works within each half: the dwords come out as 0 lo, 1 lo, 2 lo, 3 lo, 0 hi, ... .
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packus_epi32(words[0], words[1]),
                                                            _mm256_packus_epi32(words[2], words[3])),
                                        order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n), bytes);
    }
    if (n < lanes)
        compositeRowPortable(withScene ? scene + n : nullptr, g0 + n, g1 + n, t, gain, sceneGain, out + n,
                             lanes - n);
}

// A vector form's row: its loop with a scene row, or its loop for the glow alone.
template <void (*withScene)(const std::uint8_t*, const float*, const float*, float, float, float,
                            std::uint8_t*, std::size_t),
          void (*glowAlone)(const std::uint8_t*, const float*, const float*, float, float, float,
                            std::uint8_t*, std::size_t)>
void compositeRowEither(const std::uint8_t* scene, const float* g0, const float* g1, float t, float gain,
                        float sceneGain, std::uint8_t* out, std::size_t lanes) {
    (scene ? withScene : glowAlone)(scene, g0, g1, t, gain, sceneGain, out, lanes);
}

constexpr VizCompositeKernel kVectorComposite{
    "avx2", compositeRowEither<compositeRowVectorOf<true>, compositeRowVectorOf<false>>};

#define VELARO_VIZ_WIDE_TARGET __attribute__((target("avx512f,avx2,fma")))

// Four pixels to a vector of sixteen channels, each pixel's alpha spread over its own quarter, and the
// bytes narrowed with saturation in one step.
// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined vector, which it then
// reports as maybe used uninitialised once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <bool withScene>
VELARO_VIZ_WIDE_TARGET void compositeRowWideOf(const std::uint8_t* scene, const float* g0, const float* g1,
                                               float t, float gain, float sceneGain, std::uint8_t* out,
                                               std::size_t lanes) {
    const __m512 vt = _mm512_set1_ps(t), vgain = _mm512_set1_ps(gain), vscene = _mm512_set1_ps(sceneGain);
    const __m512 one = _mm512_set1_ps(1), full = _mm512_set1_ps(255), half = _mm512_set1_ps(0.5f);
    std::size_t n = 0;
    for (; n + 16 <= lanes; n += 16) {
        const __m512 a = _mm512_loadu_ps(g0 + n), b = _mm512_loadu_ps(g1 + n);
        __m512 v = _mm512_min_ps(_mm512_mul_ps(_mm512_fmadd_ps(_mm512_sub_ps(b, a), vt, a), vgain), one);
        if constexpr (withScene) {
            const __m512 s = _mm512_cvtepi32_ps(
                _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scene + n))));
            const __m512 keep = _mm512_fnmadd_ps(_mm512_permute_ps(s, 0xFF), vscene, one);
            v = _mm512_min_ps(_mm512_fmadd_ps(v, keep, _mm512_mul_ps(s, vscene)), one);
        }
        const __m512i words = _mm512_cvttps_epi32(_mm512_fmadd_ps(v, full, half));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm512_cvtusepi32_epi8(words));
    }
    if (n < lanes)
        compositeRowPortable(withScene ? scene + n : nullptr, g0 + n, g1 + n, t, gain, sceneGain, out + n,
                             lanes - n);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

constexpr VizCompositeKernel kWideComposite{
    "avx512", compositeRowEither<compositeRowWideOf<true>, compositeRowWideOf<false>>};

bool processorRunsVectorComposite() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

const VizCompositeKernel* vectorComposite() {
    static const bool runs = processorRunsVectorComposite();
    return runs ? &kVectorComposite : nullptr;
}

const VizCompositeKernel* wideComposite() {
    static const bool runs = processorRunsVectorComposite() && __builtin_cpu_supports("avx512f");
    return runs ? &kWideComposite : nullptr;
}

#else

const VizCompositeKernel* vectorComposite() {
    return nullptr;
}

const VizCompositeKernel* wideComposite() {
    return nullptr;
}

#endif

}  // namespace

std::vector<const VizCompositeKernel*> vizCompositeKernels() {
    std::vector<const VizCompositeKernel*> kernels{&kPortableComposite};
    for (const auto* faster : {vectorComposite(), wideComposite()})
        if (faster) kernels.push_back(faster);
    return kernels;
}

VizRasterRenderer::VizRasterRenderer(int width, int height, double contentsScale,
                                     const std::vector<VizBarSlot>& bars, const VizCompositeKernel* kernel,
                                     VizRasterPath path)
    : kernel_(kernel ? kernel : vizCompositeKernels().back()),
      plain_(path == VizRasterPath::plain),
      width_(std::max(1, width)),
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
    waveCells_.reserve(waveTop_.capacity());
    for (auto* plane : {&waveRed_, &waveGreen_, &waveBlue_}) plane->reserve(waveTop_.capacity());
    columnCentre_.resize(width_);
    for (int x = 0; x < width_; ++x) columnCentre_[x] = (x + 0.5f) / float(width_);
    spectrum_.resize(width_);
    waveDx_.resize(width_);
    // Each row's sums and clear products start as none and 1; a column leaves them so.
    fullJoin_.resize(std::size_t(height_) * 4);
    edgeRows_.resize(fullJoin_.size());
    for (std::size_t i = 3; i < fullJoin_.size(); i += 4) fullJoin_[i] = 1;
    for (std::size_t i = 3; i < edgeRows_.size(); i += 4) edgeRows_[i] = 1;
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
    blockSum_.assign(std::size_t(width_) * 4, 0);
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
    prepare(frame);
    composeImage();
}

const QImage& VizRasterRenderer::composeImage() {
    // Rows painted before and clear now are cleared; rows below both are clear already.
    const int rows = std::max(imageRows_, paintedRows_);
    compose(image_.bits(), std::size_t(image_.bytesPerLine()), rows);
    imageRows_ = paintedRows_;
    return image_;
}

void VizRasterRenderer::prepare(const VizFrame& frame) {
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

    // Without a trail the scene starts clean each frame.
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
    // Direct: the scene alone, with no bottom fade.
    direct_ = !frame.trail && !bloom;
    glowIntensity_ = bloom ? static_cast<float>(intensity) : 0.0f;
    paintedRows_ = sceneRows_;
    for (int y = height_ - 1; y >= paintedRows_; --y)
        if (glowRowAt(y).visible) {
            paintedRows_ = y + 1;
            break;
        }
}

VizRasterRenderer::GlowRow VizRasterRenderer::glowRowAt(int y) const {
    GlowRow row;
    if (direct_ || glowIntensity_ <= 0) return row;
    // The two widened glow rows this row lies between, and how far it is from the first.
    const float at = (y + 0.5f) / float(factor_) - 0.5f;
    row.first = std::clamp(static_cast<int>(std::floor(at)), 0, lowHeight_ - 1);
    row.second = std::min(row.first + 1, lowHeight_ - 1);
    row.t = std::clamp(at - float(row.first), 0.0f, 1.0f);
    row.gain = glowIntensity_ * fade_[y];
    row.visible = std::max(lowPeak_[row.first], lowPeak_[row.second]) * row.gain >= kInvisible;
    return row;
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
        if (first || second) {
            // A missing row weighs nothing: the one present stands in for it.
            fallRow(out, first ? first : second, second ? second : first, first ? near : 0, second ? far : 0,
                    rowBytes);
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
        // Above its end a bar at full strength covers its pixels whole and replaces what they held (the
        // blend keeps none of it): one pixel worked out once stands for all of them.
        const bool replaces = !plain_ && base == 1.0f;
        std::uint32_t solid = 0;
        if (replaces) blendOver(solid, colour, 1);
        int y = 0;
        if (replaces)
            for (std::uint32_t* row = target + x0; y < y1 && y + 0.5f <= capStart; ++y, row += width_)
                std::fill(row, row + (x1 - x0), solid);
        for (; y < y1; ++y) {
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
    waveCells_.resize(cells);
    waveRed_.resize(cells);
    waveGreen_.resize(cells);
    waveBlue_.resize(cells);
    const float gray = 1 - u_.u0.w;
    // The band envelope as one run of 64 values (the block holds them four to a vector), at each column.
    std::array<float, kVizBandCount> envelope;
    static_assert(sizeof(envelope) == sizeof(u_.env));
    std::memcpy(envelope.data(), u_.env.data(), sizeof(envelope));
    for (int x = 0; x < width_; ++x) {
        const float at = std::clamp(columnCentre_[x], 0.0f, 1.0f) * 63;
        const int i = static_cast<int>(std::floor(at));
        const int j = std::min(i + 1, 63);
        spectrum_[x] = mix(envelope[i], envelope[j], at - float(i));
    }
    // Everything but the row: each wave's lobe height, edge and colour depend on the column alone.
    float lowest = 0;
    for (int k = 0; k < count; ++k) {
        const VizFloat4& dyn = waves_.wp[k];
        const VizFloat4& fix = waves_.wp[k + VIZ_MAX_WAVES];
        const std::size_t first = std::size_t(k) * width_;
        float* top = &waveTop_[first];
        for (int x = 0; x < width_; ++x) {
            const float ux = columnCentre_[x];
            const float dx = (ux - dyn.y) / dyn.z;
            const float lobe = mix(std::exp(-dx * dx), 1.0f, u_.u5.z);
            const float ripple = 0.65f + 0.35f * std::sin(2 * std::numbers::pi_v<float> * ux * fix.x + dyn.w);
            const float height = mix(dyn.x, spectrum_[x], u_.u5.w) * lobe * ripple;
            top[x] = std::isfinite(height) ? height : 0.0f;
            waveDx_[x] = dx;
        }
        const WaveInk ink{
            .gray = gray * fix.y,
            .modeMix = u_.u3.x,
            .hue = u_.u3.y + fix.z,
            .hueSpread = u_.u5.y,
            .saturation = u_.u3.w,
            .value = fix.y,
            .paletteMix = u_.u4.x,
            .stops = u_.u4.y,
            .turns = u_.u4.z,
            .phase = fix.w + u_.u4.w,
            .palette = u_.pal.data(),
            .inkWeight = u_.u0.w,
        };
        waveColours(ink, columnCentre_.data(), waveDx_.data(), width_, &waveRed_[first], &waveGreen_[first],
                    &waveBlue_[first]);
        // The edge is as wide as the lobe changes across a pixel (the shader's fwidth, over pairs of
        // columns) plus one row, scaled, plus the softness.
        for (int x = 0; x < width_; ++x) {
            const int pair = x & ~1;
            const float slope = pair + 1 < width_ ? std::abs(top[pair + 1] - top[pair]) : 0.0f;
            const float edge = std::max((slope + 1) * u_.u2.w + u_.u2.y, 0.001f);
            // Kept a column's waves together, as the columns below read them.
            WaveCell& cell = waveCells_[std::size_t(x) * count + k];
            cell = {top[x],
                    edge,
                    smoothstep(0, edge, top[x]) * u_.u2.z,
                    waveRed_[first + x],
                    waveGreen_[first + x],
                    waveBlue_[first + x]};
            lowest = std::max(lowest, top[x] + edge);
        }
    }
    const int y1 = std::clamp(static_cast<int>(std::ceil(lowest)), 0, height_);
    // A column at a time. Each wave covers a run of rows from the top in full (its opacity alone), then its
    // edge for a few rows. The full runs are summed from the bottom up (a wave joins the running colour sum
    // and clear product at its last full row), the edge rows one by one; a pixel takes both. The work is a
    // few rows a wave instead of every row a wave.
    for (int x = 0; x < width_; ++x) {
        int columnEnd = 0;
        for (const WaveCell& cell : std::span(&waveCells_[std::size_t(x) * count], std::size_t(count))) {
            const float cover = cell.cover;
            if (!(cover > 0)) continue;
            const float top = cell.top, edge = cell.edge;
            // Rows y with y + 0.5 < top + edge lie above the wave's lower end; rows with y + 0.5 <= top -
            // edge are covered in full (the smoothstep is 1 there).
            const int end = std::clamp(static_cast<int>(std::ceil(top + edge - 0.5f)), 0, y1);
            if (end <= 0) continue;
            const int full = std::clamp(static_cast<int>(std::floor(top - edge - 0.5f)) + 1, 0, end);
            // Colour sums and the clear product move together: each lane is lane x keep + add, with keep 1
            // and add the colour for the sums, keep 1 - a and add 0 for the product.
#ifdef VELARO_VECTOR_VIZ_KERNELS
            const __m128 rgb = _mm_setr_ps(cell.red, cell.green, cell.blue, 0);
            auto take = [rgb](float* lanes, float a) {
                const __m128 keep = _mm_setr_ps(1, 1, 1, 1 - a);
                _mm_storeu_ps(lanes,
                              _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(lanes), keep), _mm_mul_ps(rgb, _mm_set1_ps(a))));
            };
#else
            const float rgb[4] = {cell.red, cell.green, cell.blue, 0};
            auto take = [&rgb](float* lanes, float a) {
                const float keep[4] = {1, 1, 1, 1 - a};
                for (int c = 0; c < 4; ++c) lanes[c] = lanes[c] * keep[c] + rgb[c] * a;
            };
#endif
            if (full > 0) take(&fullJoin_[std::size_t(full - 1) * 4], cover);
            const float across = 0.5f / edge;
            for (int y = full; y < end; ++y) {
                const float t = clamped((top - (y + 0.5f) + edge) * across, 0.0f, 1.0f);
                take(&edgeRows_[std::size_t(y) * 4], t * t * (3 - 2 * t) * cover);
            }
            columnEnd = std::max(columnEnd, end);
        }
        Rgb fullSum;
        float fullClear = 1;
        for (int y = columnEnd - 1; y >= 0; --y) {
            float* join = &fullJoin_[std::size_t(y) * 4];
            float* own = &edgeRows_[std::size_t(y) * 4];
            fullSum.r += join[0];
            fullSum.g += join[1];
            fullSum.b += join[2];
            fullClear *= join[3];
            const float clear = fullClear * own[3];
            const Rgb sum{fullSum.r + own[0], fullSum.g + own[1], fullSum.b + own[2]};
            join[0] = join[1] = join[2] = own[0] = own[1] = own[2] = 0;
            join[3] = own[3] = 1;
            if (clear >= 1) continue;
            const Rgb c{std::min(sum.r, 1.0f) * alpha, std::min(sum.g, 1.0f) * alpha,
                        std::min(sum.b, 1.0f) * alpha};
            blendOver(target[std::size_t(y) * width_ + x], c, (1 - clear) * alpha);
        }
    }
    noteRows(rows, y1);
}

void VizRasterRenderer::blurScene() {
    const int f = factor_, lw = lowWidth_, lh = lowHeight_;
    const int radius = static_cast<int>(weights_.size()) - 1;
    std::fill(low_.begin(), low_.end(), 0.0f);
    // Boxed down: each low pixel the mean of the pixels it covers (fewer at the right and bottom edges). The
    // rows of a block are summed first, byte lane by byte lane, then the block's columns.
    const int litLow = (sceneRows_ + f - 1) / f;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(scene_.data());
    const std::size_t sceneLanes = std::size_t(width_) * 4;
    for (int j = 0; j < litLow; ++j) {
        const int y0 = j * f, y1 = std::min(y0 + f, sceneRows_);
        std::uint16_t* sum = blockSum_.data();
        const std::uint8_t* first = bytes + std::size_t(y0) * sceneLanes;
        for (std::size_t n = 0; n < sceneLanes; ++n) sum[n] = first[n];
        for (int y = y0 + 1; y < y1; ++y) addRow(sum, bytes + std::size_t(y) * sceneLanes, sceneLanes);
        const int tall = std::min(f, height_ - y0);
        float* out = &low_[std::size_t(j) * lw * 4];
        for (int i = 0; i < lw; ++i) {
            const int from = i * f, to = std::min(from + f, width_);
            unsigned total[4] = {0, 0, 0, 0};
            sumPixels(sum + std::size_t(from) * 4, to - from, total, plain_);
            const float scale = 1.0f / (255.0f * float(tall * (to - from)));
            for (int c = 0; c < 4; ++c) out[i * 4 + c] = float(total[c]) * scale;
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
        scaleLanes(out, p, weights_[0], lanes);
        for (int k = 1; k <= radius; ++k) addLanePairs(out, p - 4 * k, p + 4 * k, weights_[k], lanes);
    }
    // Down, the rows past the edges standing in for the edge rows.
    for (int j = 0; j < lh; ++j) {
        float* out = &low_[std::size_t(j) * lanes];
        scaleLanes(out, &lowScratch_[std::size_t(j) * lanes], weights_[0], lanes);
        for (int k = 1; k <= radius; ++k)
            addLanePairs(out, &lowScratch_[std::size_t(std::max(j - k, 0)) * lanes],
                         &lowScratch_[std::size_t(std::min(j + k, lh - 1)) * lanes], weights_[k], lanes);
        lowPeak_[j] = largestLane(out, lanes);
    }
    // Widened back across; the composite mixes two of these rows for each of its own.
    for (int j = 0; j < lh; ++j)
        widenRow(&low_[std::size_t(j) * lanes], column0_.data(), column1_.data(), columnWeight_.data(), width_,
                 &glowRows_[std::size_t(j) * width_ * 4], plain_);
}

void VizRasterRenderer::compose(std::uint8_t* pixels, std::size_t stride, int rows) const {
    // As the GL composite: the glow added to a clear target (each byte clamped), then the scene under the
    // bottom fade over it. Every byte of every row asked for is written, whatever the pixels held.
    const std::size_t lanes = std::size_t(width_) * 4;
    const auto* scene = reinterpret_cast<const std::uint8_t*>(scene_.data());
    rows = std::clamp(rows, 0, height_);
    for (int y = 0; y < rows; ++y) {
        std::uint8_t* out = pixels + std::size_t(y) * stride;
        const std::uint8_t* in = scene + std::size_t(y) * lanes;
        const bool sceneRow = y < sceneRows_;
        if (direct_) {
            if (sceneRow)
                std::memcpy(out, in, lanes);
            else
                std::memset(out, 0, lanes);
            continue;
        }
        const GlowRow glow = y < paintedRows_ ? glowRowAt(y) : GlowRow{};
        const float fade = fade_[y];
        if (glow.visible) {
            const float* g0 = glowRows_.data() + std::size_t(glow.first) * lanes;
            const float* g1 = glowRows_.data() + std::size_t(glow.second) * lanes;
            kernel_->row(sceneRow ? in : nullptr, g0, g1, glow.t, glow.gain, fade / 255.0f, out, lanes);
        } else if (sceneRow) {
            // The scene alone under the fade, in 8-bit steps.
            const auto step = static_cast<unsigned>(fade * 256 + 0.5f);
            for (std::size_t n = 0; n < lanes; ++n)
                out[n] = static_cast<std::uint8_t>(std::min(255u, (in[n] * step) >> 8));
        } else {
            std::memset(out, 0, lanes);
        }
    }
}

}  // namespace velaro
