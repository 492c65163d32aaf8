// The masked layer of the unified overlay's clips, and sparse pictures.
#include "overlay/LayerPainting.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace velaro {

double layerPixelRatio(const QPainter& p) {
    // The device transform already holds the device's own pixel ratio: multiplied by it once more, a layer
    // made inside another layer at two pixels a point was sixteen times too wide and too tall.
    return std::max(1.0, std::abs(p.deviceTransform().m11()));
}

void paintInLayer(QPainter& p, Size size, const std::function<void(QPainter&)>& content,
                  const std::function<void(QPainter&)>& mask) {
    if (!(size.width > 0) || !(size.height > 0)) return;
    const double dpr = layerPixelRatio(p);
    QImage layer(QSize(int(std::ceil(size.width * dpr)), int(std::ceil(size.height * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.setDevicePixelRatio(dpr);
    layer.fill(Qt::transparent);
    QImage alpha(layer.size(), QImage::Format_ARGB32_Premultiplied);
    alpha.setDevicePixelRatio(dpr);
    alpha.fill(Qt::transparent);
    {
        QPainter m(&alpha);
        m.setRenderHints(p.renderHints());
        mask(m);
    }
    {
        QPainter q(&layer);
        q.setRenderHints(p.renderHints());
        content(q);
        q.setCompositionMode(QPainter::CompositionMode_SourceOver);
        q.resetTransform();
        q.setOpacity(1);
        q.setClipping(false);
        q.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        q.drawImage(QPointF(0, 0), alpha);
    }
    p.drawImage(QPointF(0, 0), layer);
}

bool mapsToWholePixels(const QPainter& p) {
    const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const QTransform& t = p.deviceTransform();
    return t.type() <= QTransform::TxScale && t.m11() == dpr && t.m22() == dpr &&
           t.dx() == std::round(t.dx()) && t.dy() == std::round(t.dy());
}

QImage coveragePicture(const QPainterPath& path, Size size, double dpr) {
    QImage image(QSize(int(std::ceil(size.width * dpr)), int(std::ceil(size.height * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter q(&image);
    q.setRenderHint(QPainter::Antialiasing);
    q.fillPath(path, Qt::white);
    return image;
}

QImage tintedPicture(const QImage& coverage, const QColor& color) {
    QImage out(coverage.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(coverage.devicePixelRatio());
    const QRgb tint = color.rgba();
    for (int y = 0; y < coverage.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(coverage.constScanLine(y));
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < coverage.width(); ++x) {
            // The colour's own alpha times the coverage, premultiplied.
            const int a = qAlpha(tint) * qAlpha(in[x]) / 255;
            row[x] = qPremultiply(qRgba(qRed(tint), qGreen(tint), qBlue(tint), a));
        }
    }
    return out;
}

SparsePicture sparsePicture(QImage image) {
    constexpr int kColumn = 16;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    SparsePicture out;
    const int w = image.width(), h = image.height();
    for (int x0 = 0; x0 < w; x0 += kColumn) {
        const int x1 = std::min(w, x0 + kColumn);
        int top = -1, bottom = -1;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            // Any bit set counts: only an all-zero pixel leaves what it is blended over unchanged.
            if (std::any_of(row + x0, row + x1, [](QRgb pixel) { return pixel != 0; })) {
                if (top < 0) top = y;
                bottom = y;
            }
        }
        if (top >= 0) out.painted += QRect(x0, top, x1 - x0, bottom - top + 1);
    }
    out.image = std::move(image);
    return out;
}

void drawSparsePicture(QPainter& p, QPointF origin, const SparsePicture& picture) {
    const double dpr = picture.image.devicePixelRatio();
    for (const QRect& piece : picture.painted) {
        const QRectF target(origin.x() + piece.x() / dpr, origin.y() + piece.y() / dpr, piece.width() / dpr,
                            piece.height() / dpr);
        p.drawImage(target, picture.image, QRectF(piece));
    }
}

}  // namespace velaro
