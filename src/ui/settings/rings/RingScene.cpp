// The ring layer's geometry, painting and hit testing.
#include "ui/settings/rings/RingScene.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <tuple>

#include "base/Color.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

constexpr double kCellExtraWidth = 4;
constexpr double kRingToCapsule = 2;
constexpr double kCapsuleHeight = 44;
constexpr double kCapsulePadding = 7;
constexpr double kCapsuleSpacing = 5;
constexpr double kCapsuleToSwatch = 6;
constexpr double kPlateExtraHeight = 50;
constexpr double kPlateShift = 2;
constexpr double kChipSide = 24;
constexpr double kCaptionGap = 5;
// The capsule block grows from this scale as its ring opens.
constexpr double kClosedBlockScale = 0.9;

QColor white(double opacity) {
    return QColor::fromRgbF(1, 1, 1, float(opacity));
}
QColor black(double opacity) {
    return QColor::fromRgbF(0, 0, 0, float(opacity));
}

QColor mixed(const QColor& from, const QColor& to, double t) {
    const auto lerp = [t](float a, float b) { return float(a + (b - a) * t); };
    return QColor::fromRgbF(lerp(from.redF(), to.redF()), lerp(from.greenF(), to.greenF()),
                            lerp(from.blueF(), to.blueF()), lerp(from.alphaF(), to.alphaF()));
}

QPainterPath capsulePath(const QRectF& rect) {
    QPainterPath path;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Fills `shape` and outlines it with a 1-point line.
void paintChip(QPainter& p, const QPainterPath& shape, const QColor& fill, const QColor& outline) {
    p.fillPath(shape, fill);
    p.strokePath(shape, QPen(outline, 1));
}

// A symbol path of `size` points, centred on `centre`, turned by `degrees`.
void fillSymbol(QPainter& p, const QPainterPath& symbol, double size, const QPointF& centre, double degrees,
                const QColor& colour) {
    p.save();
    p.translate(centre);
    p.rotate(degrees);
    p.translate(-size / 2, -size / 2);
    p.fillPath(symbol, colour);
    p.restore();
}

QFont badgeCaptionFont() {
    QFont font = SettingsStyle::systemFont(8, QFont::Medium);
    font.setCapitalization(QFont::SmallCaps);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.1);
    return font;
}

void paintPlate(QPainter& p, const QRectF& plate) {
    const double radius = plate.width() / 2;
    QPainterPath shape;
    shape.addRoundedRect(plate, radius, radius);
    paintChip(p, shape, black(0.3), white(0.12));
}

void paintCapsuleBlock(QPainter& p, const RingCellLayout& cell, const RingCellLook& look) {
    paintChip(p, capsulePath(cell.capsule), black(0.45), white(0.1));

    const double symbol = 10;
    p.save();
    if (look.inert) p.setOpacity(p.opacity() * 0.4);
    fillSymbol(p, arrowShapeUpPath(symbol), symbol, cell.arrowButton.center(), 180 * look.motion.behind,
               look.gauge.behindActive ? ringBehindPink() : white(0.45));
    p.restore();

    const std::optional<Color> custom = colorFromHex(look.customHex);
    const QColor dropper =
        !look.customSelected ? white(0.45)
        : custom             ? QColor::fromRgbF(float(custom->red), float(custom->green), float(custom->blue))
                             : ringBehindPink();
    fillSymbol(p, eyedropperPath(symbol), symbol, cell.colorButton.center(), 0, dropper);

    if (look.customSelected) {
        QPainterPath disc;
        disc.addEllipse(cell.swatch);
        p.fillPath(disc, black(0.3));
        QPainterPath inner;
        inner.addEllipse(cell.swatch.adjusted(2, 2, -2, -2));
        p.fillPath(inner,
                   custom ? QColor::fromRgbF(float(custom->red), float(custom->green), float(custom->blue))
                          : QColor(Qt::black));
        p.strokePath(disc, QPen(white(0.12), 1));
    }
}

void paintBadgeChip(QPainter& p, const QRectF& chip, double linkedMotion) {
    paintChip(p, capsulePath(chip), black(0.3), white(0.12));
    const double symbol = 9;
    fillSymbol(p, chainLinkPath(symbol), symbol, chip.center(), 45,
               mixed(white(0.7), ringValueGreen(), linkedMotion));
}

// A menu's looks: what its drawing depends on.
using MenuKey = std::tuple<bool, bool, double, bool, std::string, double>;
MenuKey menuKey(const RingCellLook& look) {
    return {look.inert,          look.gauge.behindActive, look.motion.behind,
            look.customSelected, look.customHex,          look.gauge.diameter};
}

}  // namespace

RingOverlayLayout RingOverlayLayout::of(const QSizeF& size) {
    RingOverlayLayout layout;
    const double w = size.width(), h = size.height();
    const double d = std::max(16.0, 2 * 0.047 * h);
    const double inset = 0.04 * std::min(w, h);
    layout.diameter = d;
    layout.area = QRectF(inset, inset, w - 2 * inset, h - 2 * inset);
    const QRectF& area = layout.area;

    const double cellWidth = d + kCellExtraWidth, cellHeight = 2 * d + 56;
    for (GaugeCorner corner : allGaugeCorners) {
        const bool top = isTopGauge(corner);
        const bool left = corner == GaugeCorner::topLeft || corner == GaugeCorner::bottomLeft;
        RingCellLayout& c = layout.cells[std::size_t(corner)];
        c.cell = QRectF(left ? area.left() : area.right() - cellWidth,
                        top ? area.top() : area.bottom() - cellHeight, cellWidth, cellHeight);
        const double x = c.cell.left() + kCellExtraWidth / 2;
        if (top) {
            c.ring = QRectF(x, c.cell.top(), d, d);
            c.capsule = QRectF(x, c.ring.bottom() + kRingToCapsule, d, kCapsuleHeight);
            c.swatch = QRectF(c.cell.left(), c.capsule.bottom() + kCapsuleToSwatch, cellWidth, cellWidth);
            c.plate = QRectF(c.cell.left(), c.cell.top() - kPlateShift, cellWidth, d + kPlateExtraHeight);
        } else {
            c.ring = QRectF(x, c.cell.bottom() - d, d, d);
            c.capsule = QRectF(x, c.ring.top() - kRingToCapsule - kCapsuleHeight, d, kCapsuleHeight);
            c.swatch =
                QRectF(c.cell.left(), c.capsule.top() - kCapsuleToSwatch - cellWidth, cellWidth, cellWidth);
            c.plate = QRectF(c.cell.left(), c.cell.bottom() - (d + kPlateExtraHeight) + kPlateShift,
                             cellWidth, d + kPlateExtraHeight);
        }
        const double half = (kCapsuleHeight - 2 * kCapsulePadding - kCapsuleSpacing) / 2;
        c.arrowButton = QRectF(x, c.capsule.top() + kCapsulePadding, d, half);
        c.colorButton = QRectF(x, c.arrowButton.bottom() + kCapsuleSpacing, d, half);
        // Inside the arc line (its inset, half its width and a point more), at most 20 points across.
        const double inner = d / 2 - kRingBandInset - 1.25 - 1;
        const double spot = inner >= 0 ? 2 * std::min(inner, 10.0) : 0;
        c.centreSpot = QRectF(c.ring.center().x() - spot / 2, c.ring.center().y() - spot / 2, spot, spot);
    }
    const auto chipAt = [](double cx, double cy) {
        return QRectF(cx - kChipSide / 2, cy - kChipSide / 2, kChipSide, kChipSide);
    };
    layout.badges[std::size_t(RingRow::top)] = chipAt(area.center().x(), area.top() + d / 2);
    layout.badges[std::size_t(RingRow::bottom)] = chipAt(area.center().x(), area.bottom() - d / 2);
    return layout;
}

struct RingPaintCache::Pieces {
    std::array<RingGaugeCache, 4> gauges;
    std::array<CachedPiece<QSizeF>, 4> plates;
    std::array<CachedPiece<MenuKey>, 4> menus;
    std::array<CachedPiece<double>, 2> chips;
    std::array<CachedPiece<bool>, 2> captions;
};

RingPaintCache::RingPaintCache() : pieces_(std::make_unique<Pieces>()) {}
RingPaintCache::~RingPaintCache() = default;

void paintRingScene(QPainter& painter, const RingOverlayLayout& layout, const RingScene& scene, qreal scale,
                    RingPaintCache& cache) {
    RingPaintCache::Pieces& pieces = *cache.pieces_;
    const auto margin = [](const QRectF& r, double m = 1) { return r.adjusted(-m, -m, m, m); };
    painter.save();
    for (GaugeCorner corner : allGaugeCorners) {
        const std::size_t i = std::size_t(corner);
        const RingCellLayout& cell = layout.cells[i];
        const RingCellLook& look = scene.cells[i];
        const double open = std::clamp(look.open, 0.0, 1.0);
        if (open > 0) {
            painter.setOpacity(open);
            pieces.plates[i].draw(painter, cell.plate.size(), margin(cell.plate), scale,
                                  [&](QPainter& p) { paintPlate(p, cell.plate); });
            painter.setOpacity(1);
        }
        paintRingGauge(painter, cell.ring.topLeft(), look.gauge, look.motion, scale, pieces.gauges[i]);
        if (open > 0) {
            // The menu grows from the edge that meets the ring.
            const QPointF anchor(cell.cell.center().x(),
                                 isTopGauge(corner) ? cell.ring.bottom() : cell.ring.top());
            const double s = kClosedBlockScale + (1 - kClosedBlockScale) * open;
            painter.save();
            painter.setOpacity(open);
            painter.translate(anchor);
            painter.scale(s, s);
            painter.translate(-anchor);
            if (open < 1) painter.setRenderHint(QPainter::SmoothPixmapTransform);
            const QRectF bounds = look.customSelected ? cell.capsule.united(cell.swatch) : cell.capsule;
            pieces.menus[i].draw(painter, menuKey(look), margin(bounds), scale,
                                 [&](QPainter& p) { paintCapsuleBlock(p, cell, look); });
            painter.restore();
        }
    }
    for (RingRow row : {RingRow::top, RingRow::bottom}) {
        const std::size_t i = std::size_t(row);
        const LinkBadgeLook& badge = scene.badges[i];
        const QRectF& chip = layout.badge(row);
        const double m = std::clamp(badge.linkedMotion, 0.0, 1.0);
        const double opacity = badge.enabled ? 0.55 + 0.45 * m : 0.4;
        painter.setOpacity(opacity);
        pieces.chips[i].draw(painter, m, margin(chip), scale,
                             [&](QPainter& p) { paintBadgeChip(p, chip, m); });
        if (badge.caption > 0) {
            painter.setOpacity(opacity * std::min(badge.caption, 1.0));
            const QRectF caption = linkBadgeCaptionRect(chip, row, badge.linked);
            pieces.captions[i].draw(painter, badge.linked, margin(caption, 2), scale, [&](QPainter& p) {
                p.setFont(badgeCaptionFont());
                p.setPen(white(0.75));
                p.drawText(caption, Qt::AlignCenter | Qt::TextDontClip, linkBadgeCaption(badge.linked));
            });
        }
    }
    painter.restore();
}

RingHit ringHitAt(const RingOverlayLayout& layout, const RingScene& scene, std::optional<GaugeCorner> open,
                  const QPointF& point) {
    for (RingRow row : {RingRow::bottom, RingRow::top})
        if (layout.badge(row).contains(point)) return {RingTarget::badge, GaugeCorner::topLeft, row};
    for (auto it = allGaugeCorners.rbegin(); it != allGaugeCorners.rend(); ++it) {
        const GaugeCorner corner = *it;
        const RingCellLayout& cell = layout.cell(corner);
        const RingCellLook& look = scene.cells[std::size_t(corner)];
        if (open == corner) {
            if (look.customSelected) {
                QPainterPath swatch;
                swatch.addEllipse(cell.swatch);
                if (swatch.contains(point)) return {RingTarget::swatch, corner};
            }
            if (capsulePath(cell.capsule).contains(point)) {
                if (!look.inert && cell.arrowButton.contains(point)) return {RingTarget::arrowButton, corner};
                if (cell.colorButton.contains(point)) return {RingTarget::colorButton, corner};
                return {RingTarget::capsule, corner};
            }
        }
        QPainterPath spot;
        spot.addEllipse(cell.centreSpot);
        if (!cell.centreSpot.isEmpty() && spot.contains(point)) return {RingTarget::centreSpot, corner};
        if (ringBandHitShape(cell.ring, kRingBandInset).contains(point)) return {RingTarget::band, corner};
        QPainterPath face;
        face.addEllipse(cell.ring);
        if (face.contains(point)) return {RingTarget::face, corner};
    }
    return {};
}

QString ringPlacementHelp(GaugeCorner corner, bool behind) {
    if (isTopGauge(corner))
        return behind ? QStringLiteral("Behind overlay") : QStringLiteral("Above overlay");
    return behind ? QStringLiteral("Behind windows") : QStringLiteral("Above windows");
}

QString linkBadgeCaption(bool linked) {
    return linked ? QStringLiteral("LEFT & RIGHT CORNERS ARE LINKED")
                  : QStringLiteral("LINK LEFT & RIGHT CORNERS");
}

QRectF linkBadgeCaptionRect(const QRectF& chip, RingRow row, bool linked) {
    const QFontMetricsF metrics(badgeCaptionFont());
    const QSizeF size(metrics.horizontalAdvance(linkBadgeCaption(linked)), metrics.height());
    const double top =
        row == RingRow::top ? chip.bottom() + kCaptionGap : chip.top() - kCaptionGap - size.height();
    return QRectF(chip.center().x() - size.width() / 2, top, size.width(), size.height());
}

}  // namespace velaro
