// Painting part of a view into a layer of its own so a mask can cut through everything the layer holds at
// once, the way a mask cuts a whole stack of views; and laying down mostly clear pictures by their painted
// parts alone.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRegion>
#include <functional>

#include "base/Geometry.h"

class QColor;
class QPainter;
class QPainterPath;

namespace velaro {

// The pixels a point of a layer painted for `painter` takes: the density the painter's device shows it at,
// however the painter is scaled.
double layerPixelRatio(const QPainter& painter);

// Paints `content` into a transparent layer of `size` points at the painter's pixel density, keeps it only
// where `mask` paints (opaque where the content shows, clear where it is cut away), and lays it down.
void paintInLayer(QPainter& painter, Size size, const std::function<void(QPainter&)>& content,
                  const std::function<void(QPainter&)>& mask);

// Whether the painter maps points to device pixels by its device's pixel ratio alone, moved by whole device
// pixels: a picture made at that ratio then lands on exactly the pixels it was made for.
bool mapsToWholePixels(const QPainter& painter);

// How much of each pixel of a picture `size` points large, at `dpr` pixels a point, the path covers when
// filled antialiased: white, premultiplied, so each pixel's alpha is its coverage.
QImage coveragePicture(const QPainterPath& path, Size size, double dpr);
// A coverage picture in `color`: what filling the path with that colour lays over clear pixels.
QImage tintedPicture(const QImage& coverage, const QColor& color);

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
