// Painting part of a view into a layer of its own so a mask can cut through everything the layer holds at
// once, the way a mask cuts a whole stack of views.
#pragma once

#include <functional>

#include "base/Geometry.h"

class QPainter;

namespace velaro {

// Paints `content` into a transparent layer of `size` points at the painter's pixel density, keeps it only
// where `mask` paints (opaque where the content shows, clear where it is cut away), and lays it down.
void paintInLayer(QPainter& painter, Size size, const std::function<void(QPainter&)>& content,
                  const std::function<void(QPainter&)>& mask);

}  // namespace velaro
