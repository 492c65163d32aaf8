// The entrance pose, and the blur it draws its once-rendered image with.
#include "onboarding/TourEntrance.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velaro::tour {

namespace {

// Room for the blur's spill around a piece: three sigmas of the widest blur.
constexpr double kMargin = entranceBlur * 1.5;

// One box pass of radius r along rows (stride 1) or columns, from `src` into `dst`.
void boxPass(const std::uint32_t* src, std::uint32_t* dst, int count, int lines, int lineStride, int step,
             int r) {
    const int width = 2 * r + 1;
    for (int line = 0; line < lines; ++line) {
        const std::uint32_t* in = src + std::ptrdiff_t(line) * lineStride;
        std::uint32_t* out = dst + std::ptrdiff_t(line) * lineStride;
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= count) return;
            const std::uint32_t p = in[std::ptrdiff_t(i) * step];
            sum[0] += sign * int(p & 0xff);
            sum[1] += sign * int((p >> 8) & 0xff);
            sum[2] += sign * int((p >> 16) & 0xff);
            sum[3] += sign * int(p >> 24);
        };
        for (int i = -r; i < r; ++i) add(i, 1);
        for (int i = 0; i < count; ++i) {
            add(i + r, 1);
            const auto b = std::uint32_t(sum[0] / width), g = std::uint32_t(sum[1] / width),
                       rr = std::uint32_t(sum[2] / width), a = std::uint32_t(sum[3] / width);
            out[std::ptrdiff_t(i) * step] = b | (g << 8) | (rr << 16) | (a << 24);
            add(i - r, -1);
        }
    }
}

}  // namespace

PieceImage renderPiece(const QRectF& bounds, qreal scale, const std::function<void(QPainter&)>& paint) {
    const QRectF room = bounds.adjusted(-kMargin, -kMargin, kMargin, kMargin);
    const QRectF aligned(std::floor(room.left()), std::floor(room.top()),
                         std::ceil(room.right()) - std::floor(room.left()),
                         std::ceil(room.bottom()) - std::floor(room.top()));
    QImage image((aligned.size() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(-aligned.topLeft());
    paint(painter);
    painter.end();
    return {std::move(image), aligned.topLeft()};
}

void blurImage(QImage& image, double sigma) {
    if (sigma <= 0 || image.isNull()) return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Three boxes whose widths add to the Gaussian's variance: each of radius about sigma.
    const int r = std::max(1, int(std::lround(sigma)));
    const int w = image.width(), h = image.height();
    const int stride = image.bytesPerLine() / 4;
    std::vector<std::uint32_t> scratch(std::size_t(stride) * h);
    auto* pixels = reinterpret_cast<std::uint32_t*>(image.bits());
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(pixels, scratch.data(), w, h, stride, 1, r);
        boxPass(scratch.data(), pixels, h, w, 1, stride, r);
    }
}

void paintEntrance(QPainter& painter, const PieceImage& piece, double progress) {
    if (piece.image.isNull() || progress <= 0) return;
    const qreal scale = piece.image.devicePixelRatio();
    const QSizeF size = piece.image.deviceIndependentSize();
    if (progress >= 1) {
        painter.drawImage(piece.origin, piece.image);
        return;
    }
    const double drop = entranceDrop * (1 - progress);
    const QRectF target(piece.origin + QPointF(0, drop), size);
    // The blur radius read as twice the Gaussian's sigma; a wide blur is worked on a smaller copy, where
    // it costs a fraction and looks the same once smoothed back up.
    const double sigma = entranceBlur * (1 - progress) * 0.5 * scale;
    painter.save();
    painter.setOpacity(painter.opacity() * progress);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (sigma < 0.5) {
        painter.drawImage(target, piece.image);
    } else {
        const int shrink = std::clamp(int(std::floor(sigma)), 1, 8);
        QImage work = shrink == 1 ? piece.image.copy()
                                  : piece.image.scaled(piece.image.size() / shrink, Qt::IgnoreAspectRatio,
                                                       Qt::SmoothTransformation);
        blurImage(work, sigma / shrink);
        painter.drawImage(target, work);
    }
    painter.restore();
}

void Entrance::show(bool animated, double delay) {
    pending_.cancel();
    if (!animated) {
        progress_.snapTo(1.0);
        return;
    }
    if (delay <= 0) {
        progress_.set(1.0, entranceAnimation);
        return;
    }
    pending_ = loop_.postAfter(delay, [this] { progress_.set(1.0, entranceAnimation); });
}

}  // namespace velaro::tour
