// Painting part of a view into a layer of its own so a mask can cut through everything the layer holds at
// once, the way a mask cuts a whole stack of views; and laying down mostly clear pictures by their painted
// parts alone.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRegion>
#include <functional>

#include "base/Geometry.h"

class QPainter;

namespace velaro {

// Paints `content` into a transparent layer of `size` points at the painter's pixel density, keeps it only
// where `mask` paints (opaque where the content shows, clear where it is cut away), and lays it down.
void paintInLayer(QPainter& painter, Size size, const std::function<void(QPainter&)>& content,
                  const std::function<void(QPainter&)>& mask);

// A picture that is clear but for a few parts (a thin stroke across a wide band), with the rectangles of its
// pixels that hold any paint: columns 16 pixels wide, each cut to the rows its paint spans.
struct SparsePicture {
    QImage image;     // premultiplied ARGB
    QRegion painted;  // in the image's pixels
};
SparsePicture sparsePicture(QImage image);

// Draws the picture with its top-left at `origin` (points), exactly as drawing the whole image would: a
// clear pixel blended over anything leaves it as it was, so only the painted rectangles are drawn.
void drawSparsePicture(QPainter& painter, QPointF origin, const SparsePicture& picture);

}  // namespace velaro
