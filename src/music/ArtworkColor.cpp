// Decoding covers: strict Base64, the first image of the bytes at no more than a few times the size the
// average reads, and the sampler's own average.
#include "music/ArtworkColor.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <cmath>
#include <cstdio>

#include "music/AdapterProtocol.h"
#include "sampling/ScreenSampler.h"

namespace velaro {

namespace {

// The average reads at most 40 × 16 cells of the image; a few pixels per cell keep it as the full image's.
constexpr int kDecodeSide = 160;

}  // namespace

std::optional<ArtworkResult> decodeArtwork(std::string_view output) {
    if (output.empty()) return std::nullopt;
    auto object = adapter::parseObject(output);
    if (!object) return std::nullopt;
    const nlohmann::json* used = &*object;
    if (const auto payload = object->find(adapter::keys::payload);
        payload != object->end() && payload->is_object())
        used = &*payload;
    const auto data = used->find(adapter::keys::artworkData);
    if (data == used->end() || !data->is_string()) return std::nullopt;
    const auto& text = data->get_ref<const std::string&>();
    auto decoded =
        QByteArray::fromBase64Encoding(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;

    QBuffer buffer(&*decoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kDecodeSide || size.height() > kDecodeSide))
        reader.setScaledSize(
            size.scaled(kDecodeSide, kDecodeSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    const QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    const auto color = ScreenSampler::averageColor(image);
    if (!color) return std::nullopt;
    return ArtworkResult{adapter::artworkKey(*used), *color};
}

std::string artworkHex(const Color& color) {
    const double channels[] = {color.red, color.green, color.blue};
    int bytes[3];
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(channels[i])) return "?";
        bytes[i] = static_cast<int>(std::lround(std::clamp(channels[i], 0.0, 1.0) * 255));
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", bytes[0], bytes[1], bytes[2]);
    return text;
}

}  // namespace velaro
