// Corner geometry and the ear and arc paths built on it.
#include "overlay/CornerGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

namespace velaro {

namespace {

constexpr double pi = std::numbers::pi;

// The radius both shapes draw with: never more than the rectangle's shorter side.
double clampedRadius(const QRectF& rect, double radius) {
    return std::min({radius, rect.width(), rect.height()});
}

}  // namespace

bool isTopCorner(ScreenCorner corner) {
    return corner == ScreenCorner::topLeft || corner == ScreenCorner::topRight;
}

CornerGeometry cornerGeometry(ScreenCorner corner, const QRectF& rect, double r) {
    const double minX = rect.left(), maxX = rect.right(), minY = rect.top(), maxY = rect.bottom();
    switch (corner) {
        case ScreenCorner::topLeft:
        case ScreenCorner::screenTopLeft:
            return {{minX, minY}, {minX + r, minY + r}, pi, 3 * pi / 2};
        case ScreenCorner::topRight:
        case ScreenCorner::screenTopRight:
            return {{maxX, minY}, {maxX - r, minY + r}, 3 * pi / 2, 2 * pi};
        case ScreenCorner::bottomLeft:
            return {{minX, maxY}, {minX + r, maxY - r}, pi / 2, pi};
        case ScreenCorner::bottomRight:
            return {{maxX, maxY}, {maxX - r, maxY - r}, 0, pi / 2};
    }
    return {};
}

namespace {

QPainterPath buildNotchPath(ScreenCorner corner, const QRectF& rect, double radius) {
    const double r = clampedRadius(rect, radius);
    if (!(r > 0)) return {};
    const auto g = cornerGeometry(corner, rect, r);
    QPainterPath square;
    square.addRect(
        QRectF(std::min(g.cornerPoint.x, g.arcCenter.x), std::min(g.cornerPoint.y, g.arcCenter.y), r, r));
    QPainterPath disc;
    disc.addEllipse(QRectF(g.arcCenter.x - r, g.arcCenter.y - r, 2 * r, 2 * r));
    QPainterPath ear = square.subtracted(disc);
    ear.setFillRule(Qt::WindingFill);
    return ear;
}

}  // namespace

QPainterPath cornerNotchPath(ScreenCorner corner, const QRectF& rect, double radius) {
    if (!(radius > 0)) return {};
    // The subtraction is costly next to everything else a corner paints, and the shape rarely changes.
    using Key = std::tuple<ScreenCorner, double, double, double, double, double>;
    thread_local PathCache<Key> cache;
    return cache.get(Key{corner, rect.x(), rect.y(), rect.width(), rect.height(), radius},
                     [&] { return buildNotchPath(corner, rect, radius); });
}

QPainterPath cornerArcPath(ScreenCorner corner, const QRectF& rect, double radius, double centrelineRadius) {
    if (!(radius > 0) || !(centrelineRadius > 0)) return {};
    const double r = clampedRadius(rect, radius);
    if (!(r > 0)) return {};
    const auto g = cornerGeometry(corner, rect, r);
    const double arcRadius = centrelineRadius * (r / radius);
    // QPainterPath measures angles counter-clockwise with y up; ours run from +x toward +y (y down), so
    // the same sweep is the negated angle.
    const QRectF box(g.arcCenter.x - arcRadius, g.arcCenter.y - arcRadius, 2 * arcRadius, 2 * arcRadius);
    const double startDegrees = -g.startAngle * 180 / pi;
    const double sweepDegrees = -(g.endAngle - g.startAngle) * 180 / pi;
    QPainterPath path;
    path.arcMoveTo(box, startDegrees);
    path.arcTo(box, startDegrees, sweepDegrees);
    return path;
}

}  // namespace velaro
