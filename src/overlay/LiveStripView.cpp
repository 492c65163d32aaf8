// The live strip.
#include "overlay/LiveStripView.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "overlay/LayerPainting.h"

namespace velaro {

void LiveStripView::paint(QPainter& painter, const QRectF& rect) const {
    if (contents_.isNull()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setClipRect(rect, Qt::IntersectClip);
    if (contents_.height() == 1 && mapsToWholePixels(painter)) {
        const QRectF target = painter.deviceTransform().mapRect(rect);  // device pixels
        const int deviceWidth = std::max(1, int(std::lround(target.width())));
        if (stretchedKey_ != contents_.cacheKey() || stretchedRow_.width() != deviceWidth) {
            stretchedRow_ = contents_.scaled(deviceWidth, 1, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            // A row with no translucent pixel (what a capture gives) is told so: the tiling then copies
            // it instead of blending every pixel over what lies beneath.
            if (isOpaque(stretchedRow_)) stretchedRow_.reinterpretAsFormat(QImage::Format_RGB32);
            stretchedKey_ = contents_.cacheKey();
        }
        // Tiled in device pixels, one row of the stretched image per device row from the band's left edge.
        // Taking the world transform away leaves the device's own pixel ratio in place: it is undone too.
        const double dpr = painter.device()->devicePixelRatioF();
        painter.setWorldTransform(QTransform::fromScale(1 / dpr, 1 / dpr));
        QBrush row(stretchedRow_);
        row.setTransform(QTransform::fromTranslate(std::round(target.left()), 0));
        painter.fillRect(target, row);
    } else {
        painter.drawImage(rect, contents_);
    }
    painter.restore();
}

bool LiveStripView::isOpaque(const QImage& image) {
    if (!image.hasAlphaChannel()) return true;
    // Read in place where the alpha is the top byte of each 32-bit word (the captured rows are RGBA in
    // memory); a row is a few thousand pixels, less than a microsecond's look.
    const auto f = image.format();
    const bool topByteAlpha = f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied ||
                              (Q_BYTE_ORDER == Q_LITTLE_ENDIAN &&
                               (f == QImage::Format_RGBA8888 || f == QImage::Format_RGBA8888_Premultiplied));
    const QImage argb = topByteAlpha ? image : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        if (!std::all_of(row, row + argb.width(), [](QRgb p) { return qAlpha(p) == 255; })) return false;
    }
    return true;
}

}  // namespace velaro
