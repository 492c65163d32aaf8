// The masked layer of the unified overlay's clips.
#include "overlay/LayerPainting.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace velaro {

void paintInLayer(QPainter& p, Size size, const std::function<void(QPainter&)>& content,
                  const std::function<void(QPainter&)>& mask) {
    if (!(size.width > 0) || !(size.height > 0)) return;
    const double dpr = std::max(
        1.0, (p.device() ? p.device()->devicePixelRatioF() : 1.0) * std::abs(p.deviceTransform().m11()));
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

}  // namespace velaro
