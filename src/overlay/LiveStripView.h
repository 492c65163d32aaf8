// The live style's strip: the newest captured row stretched over the bar, pixel for pixel without
// smoothing, swapped in only when a new image arrives, never taking a click.
#pragma once

#include <QImage>
#include <QRectF>
#include <functional>
#include <optional>

#include "base/Geometry.h"

class QPainter;

namespace velaro {

class LiveStripView {
public:
    // `windowScale` gives the backing scale of the window the strip is in, or nothing while it is in none.
    explicit LiveStripView(std::function<std::optional<double>()> windowScale = {});

    // Takes the window's scale (else the primary screen's, else 2); a changed scale forgets the last
    // pushed image, so the next push sets it again even when it is the same image.
    void applyContentsScale();
    // Shows `image` unless it is the very image shown already.
    void push(const QImage& image);
    // Stretches the shown image over `rect`, aspect ignored, nearest-neighbour.
    void paint(QPainter& painter, const QRectF& rect) const;

    // Whether every pixel of `image` is opaque, so that the strip painted from it is.
    static bool isOpaque(const QImage& image);

    double contentsScale() const { return contentsScale_; }
    const QImage& contents() const { return contents_; }
    // How many times the shown image was replaced.
    int contentsChanges() const { return contentsChanges_; }

private:
    std::function<std::optional<double>()> windowScale_;
    double contentsScale_ = 0;
    std::optional<qint64> lastPushed_;  // the cache key of the shown image
    QImage contents_;
    int contentsChanges_ = 0;
    // The shown row stretched to the band's width in device pixels: painting it is then a vertical tiling
    // of one row, which costs little more than a plain fill. Rebuilt for a new image or a new width.
    mutable QImage stretchedRow_;
    mutable qint64 stretchedKey_ = 0;
};

}  // namespace velaro
