// The pill path and the clip that cuts the unified overlay to it.
#include "overlay/PillMask.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>

#include "overlay/CornerGeometry.h"
#include "overlay/LayerPainting.h"

namespace velaro {

namespace {
// The strip height the pills' inset and offset are sized for (their sliders reach 6 and 4 points).
constexpr double kPillStripHeight = 24;
}  // namespace

PillBand pillBand(const CornerSettings& corners, double bandHeight) {
    // A panel shorter than that (28 px at two pixels a point is 14 points) takes the inset and offset in
    // proportion, so the pills keep the share of the strip they have on a full-height one instead of
    // shrinking to a line or vanishing; on strips of that height or taller they are the points set.
    const double scale = bandHeight > 0 && bandHeight < kPillStripHeight ? bandHeight / kPillStripHeight : 1.0;
    const double inset = corners.pillVerticalInset * scale;
    const double offset = corners.pillVerticalOffset * scale;
    PillBand band;
    band.height = std::max(bandHeight - 2 * inset, 0.0);
    if (!std::isfinite(band.height)) band.height = 0;
    // The offset moves the pills within the strip, never past its top or bottom.
    band.top = std::max(std::min(bandHeight - band.height, inset + offset), 0.0);
    if (!std::isfinite(band.top)) band.top = 0;
    band.radius = std::max(std::min(band.height / 2, corners.pillCornerRadius), 0.0);
    return band;
}

QPainterPath pillMaskPath(const PillGeometry& geometry, const CornerSettings& corners, double bandHeight) {
    QPainterPath path;
    const PillBand band = pillBand(corners, bandHeight);
    // A pill without height must not leave a degenerate outline behind for the stroke to draw.
    if (!(band.height > 0)) return path;
    for (const auto& span : {geometry.left, geometry.right}) {
        if (!span) continue;
        const double w = span->maxX - span->minX;
        if (!(w > 0) || !std::isfinite(w)) continue;
        path.addRoundedRect(QRectF(span->minX, band.top, w, band.height), band.radius, band.radius);
    }
    return path;
}

bool pillClipApplies(bool active, const std::optional<PillGeometry>& geometry) {
    return active && geometry && (geometry->left || geometry->right);
}

void paintPillClipped(QPainter& p, Size size, bool active, const std::optional<PillGeometry>& geometry,
                      const CornerSettings& corners, double bandHeight,
                      const std::function<void(QPainter&)>& content) {
    if (!pillClipApplies(active, geometry)) {
        content(p);
        return;
    }
    // The band repaints with every change of the live colours; the pills move only with the menus.
    using Key = std::tuple<std::optional<PillSpan>, std::optional<PillSpan>, double, double, double, double>;
    thread_local PathCache<Key> cache;
    const QPainterPath pills =
        cache.get(Key{geometry->left, geometry->right, corners.pillVerticalInset, corners.pillVerticalOffset,
                      corners.pillCornerRadius, bandHeight},
                  [&] { return pillMaskPath(*geometry, corners, bandHeight); });
    if (pills.isEmpty()) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    paintInLayer(p, size, content, [&](QPainter& q) { q.fillPath(pills, Qt::black); });
    p.setOpacity(p.opacity() * std::clamp(corners.pillFillOpacity, 0.0, 1.0));
    p.fillPath(pills, Qt::white);
    p.restore();
    if (corners.pillStrokeWidth > 0) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setOpacity(p.opacity() * std::clamp(corners.pillStrokeOpacity, 0.0, 1.0));
        QPen pen(Qt::white, corners.pillStrokeWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(pills);
        p.restore();
    }
}

}  // namespace velaro
