// The live style's strip: the newest captured row stretched over the bar, pixel for pixel without
// smoothing, never taking a click.
#pragma once

#include <QImage>
#include <QRectF>

#include "base/Geometry.h"

class QPainter;

namespace velaro {

class LiveStripView {
public:
    // Shows `image` from the next paint on. An image shares its pixels: pushing the one shown again, as
    // every repaint of the band does, costs nothing and keeps the stretched row made from it.
    void push(const QImage& image) { contents_ = image; }
    // Stretches the shown image over `rect`, aspect ignored, nearest-neighbour: each device pixel shows the
    // image's pixel under its centre, at any pixel ratio.
    void paint(QPainter& painter, const QRectF& rect) const;

    // Whether every pixel of `image` is opaque, so that the strip painted from it is.
    static bool isOpaque(const QImage& image);

private:
    QImage contents_;
    // The shown row stretched to the band's width in device pixels: painting it is then a vertical tiling
    // of one row, which costs little more than a plain fill. Rebuilt for a new image or a new width; used
    // where the painter lands on whole device pixels (a window's own painter does), elsewhere the image is
    // drawn stretched the plain way.
    mutable QImage stretchedRow_;
    mutable qint64 stretchedKey_ = 0;
};

}  // namespace velaro
