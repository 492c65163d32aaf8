// A small piece of a painted layer kept as an image and drawn again only when what it shows changes: the
// raster engine's antialiased path fills and strokes cost far more than copying their pixels, and a layer
// that repaints at pointer rate while one of its pieces moves should pay only for that piece.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <optional>
#include <utility>

namespace velaro {

template <class Key>
class CachedPiece {
public:
    // Draws the piece that covers `bounds` (layer points) at `scale` pixels a point. When `key`, the bounds
    // or the scale changed, `paint` first draws it afresh, in layer coordinates, onto a clear image, and
    // `finish` (if any) may then change the image's pixels. The piece sits on whole device pixels, so its
    // copy is exact.
    template <class Paint, class Finish = std::nullptr_t>
    void draw(QPainter& painter, const Key& key, const QRectF& bounds, qreal scale, Paint&& paint,
              Finish&& finish = nullptr) {
        const QRect pixels = QRectF(bounds.topLeft() * scale, bounds.size() * scale).toAlignedRect();
        if (pixels.isEmpty()) return;
        if (!key_ || !(*key_ == key) || pixels != pixels_ || scale != scale_) {
            key_ = key;
            pixels_ = pixels;
            scale_ = scale;
            if (image_.size() != pixels.size())
                image_ = QImage(pixels.size(), QImage::Format_ARGB32_Premultiplied);
            image_.setDevicePixelRatio(scale);
            image_.fill(Qt::transparent);
            {
                QPainter p(&image_);
                p.setRenderHint(QPainter::Antialiasing);
                p.translate(-QPointF(pixels.topLeft()) / scale);
                paint(p);
            }
            if constexpr (!std::is_same_v<std::decay_t<Finish>, std::nullptr_t>) finish(image_);
        }
        painter.drawImage(QPointF(pixels_.topLeft()) / scale, image_);
    }

    // Forgets the drawing, so the next `draw` paints afresh.
    void clear() { key_.reset(); }

private:
    std::optional<Key> key_;
    QRect pixels_;
    qreal scale_ = 0;
    QImage image_;
};

}  // namespace velaro
