// The rounded-corner shapes: the one table of corner points, arc centres and angles for the six corner
// positions, the concave ear that fills a square corner outside its quarter circle, and the quarter-circle
// hairline along it. Coordinates are the view's: origin at the top-left, y down, angles from +x toward +y.
#pragma once

#include <QPainterPath>
#include <QRectF>

#include "base/Geometry.h"
#include "settings/CornerSettings.h"

namespace velaro {

struct CornerGeometry {
    Point cornerPoint;
    Point arcCenter;
    double startAngle = 0;  // radians
    double endAngle = 0;
};

// Where the rounding of `corner` lies in `rect` for radius `radius` (not clamped). The menu-bar and the
// screen-top corners share their geometry: both are rounded at the top of their rectangle.
CornerGeometry cornerGeometry(ScreenCorner corner, const QRectF& rect, double radius);

// The ear: the r×r square in the corner less the disc about the arc centre, r = min(radius, width, height).
// Empty for a radius of 0 or less (or not a number).
QPainterPath cornerNotchPath(ScreenCorner corner, const QRectF& rect, double radius);

// The open quarter circle about the ear's arc centre, to be stroked. Its radius is `centrelineRadius`
// scaled by the same clamp as the ear, so a hairline keeps to the ear's curve when the rectangle is small.
// Empty when either radius is 0 or less.
QPainterPath cornerArcPath(ScreenCorner corner, const QRectF& rect, double radius, double centrelineRadius);

// The menu-bar corners (the bar's own two ends), as opposed to the bottom and screen-top corners.
bool isTopCorner(ScreenCorner corner);

}  // namespace velaro
