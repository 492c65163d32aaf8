// Colour helpers of the light beam.
#include "sampling/LightReflections.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace velaro {

namespace {

constexpr int kMaxSampleWidth = 40;
constexpr int kMaxSampleHeight = 16;
// Below this total weight the block is taken as grey and its plain mean is used instead.
constexpr double kMinVividWeight = 0.0015;

}  // namespace

std::optional<Color> averageColorOfPixels(const std::uint8_t* pixels, int width, int height, int bytesPerRow,
                                          PixelOrder order) {
    if (!pixels || width < 1 || height < 1 || bytesPerRow < width * 4) return std::nullopt;
    const int w = std::min(width, kMaxSampleWidth);
    const int h = std::min(height, kMaxSampleHeight);
    const int redAt = order == PixelOrder::BGRA ? 2 : 0;
    const int blueAt = order == PixelOrder::BGRA ? 0 : 2;

    // Each sample is the mean of its source rectangle, rounded to a byte as a bitmap draw would keep it.
    std::array<std::array<double, 3>, kMaxSampleWidth * kMaxSampleHeight> samples{};
    for (int j = 0; j < h; ++j) {
        const int y0 = static_cast<int>(static_cast<long long>(j) * height / h);
        const int y1 = static_cast<int>(static_cast<long long>(j + 1) * height / h);
        for (int i = 0; i < w; ++i) {
            const int x0 = static_cast<int>(static_cast<long long>(i) * width / w);
            const int x1 = static_cast<int>(static_cast<long long>(i + 1) * width / w);
            double r = 0, g = 0, b = 0;
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * bytesPerRow;
                for (int x = x0; x < x1; ++x) {
                    const std::uint8_t* px = row + x * 4;
                    r += px[redAt];
                    g += px[1];
                    b += px[blueAt];
                }
            }
            const double n = static_cast<double>(y1 - y0) * (x1 - x0);
            samples[j * w + i] = {std::round(r / n), std::round(g / n), std::round(b / n)};
        }
    }

    double sumR = 0, sumG = 0, sumB = 0, wR = 0, wG = 0, wB = 0, wSum = 0;
    for (int k = 0; k < w * h; ++k) {
        const auto [r, g, b] = samples[k];
        const double maxC = std::max({r, g, b});
        const double minC = std::min({r, g, b});
        const double sat = maxC > 0 ? (maxC - minC) / maxC : 0;
        const double weight = (maxC / 255) * sat * sat;
        sumR += r;
        sumG += g;
        sumB += b;
        wR += weight * r;
        wG += weight * g;
        wB += weight * b;
        wSum += weight;
    }
    // A weighted mean of bytes can round a hair past 255 (1.0000000000000002 once divided): keep it a channel.
    const auto channel = [wSum](double weighted) { return std::min(weighted / wSum / 255, 1.0); };
    if (wSum > kMinVividWeight) return Color::rgb(channel(wR), channel(wG), channel(wB));
    const double n = static_cast<double>(w) * h * 255;
    return Color::rgb(sumR / n, sumG / n, sumB / n);
}

std::optional<Color> averageColor(const QImage& image) {
    if (image.isNull() || image.width() < 1 || image.height() < 1) return std::nullopt;
    // 32-bit premultiplied ARGB sits in memory as B, G, R, A on every little-endian host; RGBA8888 as R, G,
    // B, A.
    const auto format = image.format();
    if (format == QImage::Format_RGBA8888 || format == QImage::Format_RGBA8888_Premultiplied ||
        format == QImage::Format_RGBX8888)
        return averageColorOfPixels(image.constBits(), image.width(), image.height(),
                                    static_cast<int>(image.bytesPerLine()), PixelOrder::RGBA);
    if (format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32 ||
        format == QImage::Format_ARGB32) {
        if (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            return averageColorOfPixels(image.constBits(), image.width(), image.height(),
                                        static_cast<int>(image.bytesPerLine()), PixelOrder::BGRA);
    }
    const QImage converted = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (converted.isNull()) return std::nullopt;
    return averageColorOfPixels(converted.constBits(), converted.width(), converted.height(),
                                static_cast<int>(converted.bytesPerLine()), PixelOrder::RGBA);
}

Color vividBeamColor(const Color& color) {
    ColorHsb hsb = toHsb(color);
    hsb.saturation = std::min(hsb.saturation * 1.6, 1.0);
    hsb.brightness = std::min(hsb.brightness * 1.3 + 0.2, 1.0);
    return fromHsb(hsb).withAlpha(1);
}

}  // namespace velaro
