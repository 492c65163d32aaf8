// Blurred backdrops of the bar and its top corners, and the separable Gaussian that makes them.
#include "sampling/BlurredBackdrop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace velaro {

namespace {

// From this radius on the region is blurred at half size with the radius halved: the result looks the
// same and costs a quarter.
constexpr double kHalfSizeFromRadius = 8.0;
// The kernel is cut where the Gaussian has fallen below 0.5 % of its peak.
constexpr double kKernelExtentSigmas = 3.0;
// Taps further out than this only repeat edge pixels; the bound keeps an absurd radius from asking for an
// absurd kernel.
constexpr int kMaxKernelHalfWidth = 2048;

template <class T>
void ensureSize(std::vector<T>& v, std::size_t n) {
    if (v.size() != n) v.resize(n);
}

// Four floats handled as one value; GCC and Clang map it onto the machine's vector registers.
using Float4 = float __attribute__((vector_size(16)));

inline Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, Float4 v) {
    std::memcpy(p, &v, sizeof v);
}

// One row of a symmetric convolution: dst[i] = w0·centre[i] + Σ wt·(a_t[i] + b_t[i]) for t = 1…k, where
// `taps(t)` gives the two rows a_t and b_t. Worked through in blocks small enough for the accumulators to
// stay in registers across all taps, instead of reading and writing the whole row once per tap.
template <class Taps>
void convolveRow(float* __restrict dst, const float* centre, std::size_t n, const float* kw, int k,
                 Taps taps) {
    constexpr std::size_t kVectors = 8;
    constexpr std::size_t kBlock = kVectors * 4;
    std::size_t i0 = 0;
    for (; i0 + kBlock <= n; i0 += kBlock) {
        Float4 acc[kVectors];
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kVectors; ++j) acc[j] = kw[0] * load4(centre + i0 + j * 4);
        for (int t = 1; t <= k; ++t) {
            const auto [a, b] = taps(t);
            const float wt = kw[t];
#pragma GCC unroll 8
            for (std::size_t j = 0; j < kVectors; ++j)
                acc[j] += wt * (load4(a + i0 + j * 4) + load4(b + i0 + j * 4));
        }
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kVectors; ++j) store4(dst + i0 + j * 4, acc[j]);
    }
    for (std::size_t i = i0; i < n; ++i) {
        float acc = kw[0] * centre[i];
        for (int t = 1; t <= k; ++t) {
            const auto [a, b] = taps(t);
            acc += kw[t] * (a[i] + b[i]);
        }
        dst[i] = acc;
    }
}

}  // namespace

// ---- GaussianBlur ----

void GaussianBlur::makeKernel(double sigma) {
    if (sigma == kernelSigma_) return;
    kernelSigma_ = sigma;
    const int k = sigma > 0 ? static_cast<int>(std::min(std::ceil(sigma * kKernelExtentSigmas),
                                                        static_cast<double>(kMaxKernelHalfWidth)))
                            : 0;
    kernel_.assign(static_cast<std::size_t>(k) + 1, 0.0f);
    if (k == 0) {
        kernel_[0] = 1.0f;
        return;
    }
    double sum = 0;
    std::vector<double> w(static_cast<std::size_t>(k) + 1);
    for (int t = 0; t <= k; ++t) {
        w[t] = std::exp(-(t * t) / (2 * sigma * sigma));
        sum += t == 0 ? w[t] : 2 * w[t];
    }
    for (int t = 0; t <= k; ++t) kernel_[t] = static_cast<float>(w[t] / sum);
}

bool GaussianBlur::run(const std::uint8_t* pixels, int width, int rows, int bytesPerRow, bool halfSize,
                       double sigma) {
    if (!pixels || width < 1 || rows < 1 || bytesPerRow < width * 4 || !(sigma >= 0) || !std::isfinite(sigma))
        return false;
    const int w = halfSize ? (width + 1) / 2 : width;
    const int h = halfSize ? (rows + 1) / 2 : rows;
    width_ = w;
    height_ = h;
    // The frames carry no alpha (the byte is skipped), so only blue, green and red are blurred.
    constexpr int kChannels = 3;
    const std::size_t rowFloats = static_cast<std::size_t>(w) * kChannels;
    ensureSize(plane_, rowFloats * h);
    ensureSize(rowsOut_, rowFloats * h);
    ensureSize(acc_, rowFloats);
    ensureSize(out_, static_cast<std::size_t>(w) * 4 * h);
    makeKernel(sigma);
    const int k = static_cast<int>(kernel_.size()) - 1;
    ensureSize(padded_, (static_cast<std::size_t>(w) + 2 * k) * kChannels);

    // Into floats, averaging 2 × 2 blocks for the half-size image (the last row or column of an odd size
    // stands alone, as the edge clamp would repeat it).
    for (int y = 0; y < h; ++y) {
        float* dst = plane_.data() + rowFloats * y;
        const std::uint8_t* r0 = pixels + static_cast<std::size_t>(halfSize ? 2 * y : y) * bytesPerRow;
        if (!halfSize) {
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < kChannels; ++c) dst[x * kChannels + c] = r0[x * 4 + c];
            continue;
        }
        const std::uint8_t* r1 =
            pixels + static_cast<std::size_t>(std::min(2 * y + 1, rows - 1)) * bytesPerRow;
        for (int x = 0; x < w; ++x) {
            const int x0 = 2 * x * 4, x1 = std::min(2 * x + 1, width - 1) * 4;
            for (int c = 0; c < kChannels; ++c)
                dst[x * kChannels + c] =
                    0.25f * (static_cast<float>(r0[x0 + c]) + r0[x1 + c] + r1[x0 + c] + r1[x1 + c]);
        }
    }

    const float* kw = kernel_.data();
    // Horizontal pass: each row padded with its edge pixels, so no tap needs a bounds test.
    for (int y = 0; y < h; ++y) {
        const float* src = plane_.data() + rowFloats * y;
        float* pad = padded_.data();
        for (int t = 0; t < k; ++t) {
            std::memcpy(pad + t * kChannels, src, kChannels * sizeof(float));
            std::memcpy(pad + (k + w + t) * kChannels, src + (w - 1) * kChannels, kChannels * sizeof(float));
        }
        std::memcpy(pad + k * kChannels, src, rowFloats * sizeof(float));
        const float* centre = pad + k * kChannels;
        convolveRow(rowsOut_.data() + rowFloats * y, centre, rowFloats, kw, k, [centre](int t) {
            return std::pair{centre - t * kChannels, centre + t * kChannels};
        });
    }

    // Vertical pass: rows beyond the top and bottom repeat the edge rows.
    for (int y = 0; y < h; ++y) {
        const float* rows0 = rowsOut_.data();
        convolveRow(acc_.data(), rows0 + rowFloats * y, rowFloats, kw, k, [=](int t) {
            return std::pair{rows0 + rowFloats * std::max(y - t, 0),
                             rows0 + rowFloats * std::min(y + t, h - 1)};
        });
        const float* acc = acc_.data();
        std::uint8_t* dst = out_.data() + static_cast<std::size_t>(w) * 4 * y;
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < kChannels; ++c) {
                const float v = acc[x * kChannels + c] + 0.5f;
                dst[x * 4 + c] = static_cast<std::uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
            }
            dst[x * 4 + 3] = 255;  // the backdrops are opaque
        }
    }
    return true;
}

// ---- BlurredBackdrop ----

int BlurredBackdrop::regionRows(const CaptureFrame& frame, const UnifiedBlur& blur) {
    const long long wanted = static_cast<long long>(blur.overlayHeightPixels) +
                             std::max(blur.leftRadiusPixels, blur.rightRadiusPixels);
    return static_cast<int>(std::clamp<long long>(wanted, 0, frame.height));
}

void BlurredBackdrop::setRadius(double radius) {
    if (radius != radius_) dropBaseline();
    radius_ = radius;
}

void BlurredBackdrop::dropBaseline() {
    hasBaseline_ = false;  // the bytes stay allocated for the next commit
    baselineWidth_ = 0;
    baselineHeight_ = 0;
}

void BlurredBackdrop::holdCommit() {
    dropBaseline();
    commitHeld_ = true;
}

void BlurredBackdrop::invalidate() {
    dropBaseline();
    commitHeld_ = false;
}

void BlurredBackdrop::step(const CaptureFrame& frame, const UnifiedBlur& blur, const BackdropSink& onBackdrop,
                           const CornerSink& onCorners) {
    ++frameCounter_;
    if (frameCounter_ % 2 != 0) return;
    const int rows = regionRows(frame, blur);
    if (rows < 1) return;
    if (regionMatchesBaseline(frame, rows)) return;
    if (publish(frame, blur, rows, onBackdrop, onCorners)) commitBaseline(frame, rows);
}

bool BlurredBackdrop::regionMatchesBaseline(const CaptureFrame& frame, int rows) const {
    if (!frame.isValid() || !hasBaseline_ || baselineWidth_ != frame.width || baselineHeight_ != rows)
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 4;
    for (int y = 0; y < rows; ++y) {
        if (std::memcmp(frame.row(y), baseline_.data() + rowBytes * y, rowBytes) != 0) return false;
    }
    return true;
}

void BlurredBackdrop::commitBaseline(const CaptureFrame& frame, int rows) {
    if (commitHeld_ || !frame.isValid()) return;
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 4;
    ensureSize(baseline_, rowBytes * rows);
    for (int y = 0; y < rows; ++y) std::memcpy(baseline_.data() + rowBytes * y, frame.row(y), rowBytes);
    baselineWidth_ = frame.width;
    baselineHeight_ = rows;
    hasBaseline_ = true;
}

BackdropImage BlurredBackdrop::cropResult(ImageRing& ring, int x, int y, int w, int h, Size pointSize) {
    QImage& image = ring.acquire(w, h, QImage::Format_RGB32);
    if (image.isNull()) return {};
    const std::size_t srcStride = static_cast<std::size_t>(blur_.resultWidth()) * 4;
    for (int row = 0; row < h; ++row) {
        std::memcpy(image.scanLine(row),
                    blur_.result() + srcStride * (y + row) + static_cast<std::size_t>(x) * 4,
                    static_cast<std::size_t>(w) * 4);
    }
    return {image, pointSize};
}

bool BlurredBackdrop::publish(const CaptureFrame& frame, const UnifiedBlur& blur, int rows,
                              const BackdropSink& onBackdrop, const CornerSink& onCorners) {
    const bool halfSize = radius_ >= kHalfSizeFromRadius;
    const double s = halfSize ? 0.5 : 1.0;
    // The radius is the Gaussian's standard deviation, in pixels of whatever image is blurred.
    if (!frame.isValid() ||
        !blur_.run(frame.row(0), frame.width, rows, frame.bytesPerRow, halfSize, radius_ * s))
        return false;
    const int bw = blur_.resultWidth(), bh = blur_.resultHeight();

    const int topH = std::min<long long>(bh, std::llround(s * blur.overlayHeightPixels));
    bool published = false;
    if (topH >= 1 && onBackdrop) {
        const BackdropImage bar = cropResult(barImages_, 0, 0, bw, topH, blur.overlayPointSize);
        if (!bar.image.isNull()) {
            onBackdrop(bar);
            published = true;
        }
    }

    const int below = bh - std::max(topH, 0);
    std::optional<BackdropImage> left, right;
    const long long lr = std::llround(s * blur.leftRadiusPixels);
    if (lr >= 1 && below >= 1) {
        const int cw = static_cast<int>(std::min<long long>(lr, bw));
        const int ch = static_cast<int>(std::min<long long>(below, lr));
        left = cropResult(leftImages_, 0, topH, cw, ch, blur.leftPointSize);
        if (left->image.isNull()) left.reset();
    }
    const long long rr = std::llround(s * blur.rightRadiusPixels);
    if (rr >= 1 && below >= 1) {
        const int cw = static_cast<int>(std::min<long long>(rr, bw));
        const int ch = static_cast<int>(std::min<long long>(below, rr));
        right = cropResult(rightImages_, bw - cw, topH, cw, ch, blur.rightPointSize);
        if (right->image.isNull()) right.reset();
    }
    if ((left || right) && onCorners) onCorners(left, right);
    return published;
}

}  // namespace velaro
