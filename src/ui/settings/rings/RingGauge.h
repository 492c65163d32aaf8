// The drawing of one corner's ring gauge in the corner-rounding preview: a green arc on a faint track (one
// full turn is 48 points), the radius as a whole number in the middle, and an arrow in a 45° gap of the
// ring that points up while the corner draws in front and down while it draws behind. A switched-off corner
// is the same ring, grey and dimmed. The gauge only draws; the hit areas lie over it.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <utility>

#include "ui/settings/kit/CachedPiece.h"

class QPainter;

namespace velaro {

// The value arc's green (it also marks a linked row's badge) and the pink of a corner drawn behind.
const QColor& ringValueGreen();
const QColor& ringBehindPink();

// What one gauge shows.
struct RingGauge {
    double valuePX = 0;  // the radius in points
    bool enabled = true;
    bool behindActive = false;
    bool isTop = true;  // the gap and arrow face the top edge, else the bottom edge
    double diameter = 0;
    bool showsCenterValue = true;
    bool rimHighlighted = false;

    friend bool operator==(const RingGauge&, const RingGauge&) = default;
};

// How far each of the gauge's animated looks has come toward its "on" state, 0...1: switched on (full
// opacity and colour), behind (the arrow turned down) and the brighter rim.
struct RingGaugeMotion {
    double enabled = 1;
    double behind = 0;
    double rim = 0;

    static RingGaugeMotion settled(const RingGauge& gauge) {
        return {gauge.enabled ? 1.0 : 0.0, gauge.behindActive ? 1.0 : 0.0, gauge.rimHighlighted ? 1.0 : 0.0};
    }
    friend bool operator==(const RingGaugeMotion&, const RingGaugeMotion&) = default;
};

// The fraction of a full turn the arc covers: 0 for no radius (or one that is not a number), the radius over
// 48 points, at most one turn.
double ringArcFraction(double valuePX);

// The rectangle `rect` with a wedge cut from its middle, to be filled even-odd: the wedge opens toward
// `gapCenterDegrees` (0 right, 90 down) and is `gapDegrees` wide, reaching past the rectangle. No wedge for a
// gap of 0 or less.
QPainterPath ringGapMask(const QRectF& rect, double gapCenterDegrees, double gapDegrees);

// Our own symbols as filled paths in a `size` square at the origin, so that they tint and turn exactly: the
// placement arrow (pointing up), the eyedropper and the chain link (lying flat).
QPainterPath arrowShapeUpPath(double size);
QPainterPath eyedropperPath(double size);
QPainterPath chainLinkPath(double size);

// A gauge's last drawing, which the caller keeps between frames: a gauge that did not change is copied, not
// drawn again.
using RingGaugeCache = CachedPiece<std::pair<RingGauge, RingGaugeMotion>>;

// Paints the gauge in the `gauge.diameter` square at `topLeft`, `scale` device pixels a point.
void paintRingGauge(QPainter& painter, const QPointF& topLeft, const RingGauge& gauge,
                    const RingGaugeMotion& motion, qreal scale, RingGaugeCache& cache);

}  // namespace velaro
