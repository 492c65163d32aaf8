// The rounded-corner shapes: the one table of corner points, arc centres and angles for the six corner
// positions, the concave ear that fills a square corner outside its quarter circle, and the quarter-circle
// hairline along it. Coordinates are the view's: origin at the top-left, y down, angles from +x toward +y.
#pragma once

#include <QPainterPath>
#include <QRectF>
#include <utility>
#include <vector>

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

// The last few paths (or pictures) built, by the numbers they were built from: a window that repaints the
// same shape frame after frame builds it once. For the main thread's painting (not shared between threads).
template <class Key, class Value = QPainterPath>
class PathCache {
public:
    template <class Build>
    Value get(const Key& key, Build build) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].first == key) {
                if (i > 0) std::swap(entries_[i], entries_[0]);  // the shapes in use stay near the front
                return entries_[0].second;
            }
        }
        if (entries_.size() == kSize) entries_.pop_back();
        entries_.insert(entries_.begin(), {key, build()});
        return entries_.front().second;
    }

private:
    static constexpr std::size_t kSize = 8;  // six corners and a band or two
    std::vector<std::pair<Key, Value>> entries_;
};

// The menu-bar corners (the bar's own two ends), as opposed to the bottom and screen-top corners.
bool isTopCorner(ScreenCorner corner);

}  // namespace velaro
