// The live strip.
#include "overlay/LiveStripView.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace velaro {

LiveStripView::LiveStripView(std::function<std::optional<double>()> windowScale)
    : windowScale_(std::move(windowScale)) {
    applyContentsScale();
}

void LiveStripView::applyContentsScale() {
    std::optional<double> scale = windowScale_ ? windowScale_() : std::nullopt;
    if (!scale) {
        if (auto* screen = QGuiApplication::primaryScreen()) scale = screen->devicePixelRatio();
    }
    const double s = scale.value_or(2.0);
    if (s != contentsScale_) {
        contentsScale_ = s;
        lastPushed_.reset();
    }
}

void LiveStripView::push(const QImage& image) {
    applyContentsScale();
    // A QImage copy shares its pixels and its cache key: the key tells "the same image" in O(1).
    if (lastPushed_ && *lastPushed_ == image.cacheKey()) return;
    lastPushed_ = image.cacheKey();
    contents_ = image;
    ++contentsChanges_;
}

void LiveStripView::paint(QPainter& painter, const QRectF& rect) const {
    if (contents_.isNull()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.drawImage(rect, contents_);
    painter.restore();
}

Size LiveStripView::sizeThatFits(std::optional<double> width, std::optional<double> height) {
    return {width.value_or(10.0), height.value_or(10.0)};
}

}  // namespace velaro
