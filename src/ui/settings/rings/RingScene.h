// Where the corner-rounding preview's ring layer puts things, what it paints there, and what a point hits.
// The layer has one ring in each corner of its area and a link badge midway between the rings of each row.
// A hovered ring opens its cell: a dark plate behind the ring and its menu capsule (the placement arrow over
// the custom-colour button) and, for a custom colour, the colour swatch beyond the capsule.
#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "ui/settings/rings/RingEditState.h"
#include "ui/settings/rings/RingGauge.h"

class QPainter;

namespace velaro {

// The rows of the preview: its top rings and its bottom rings.
enum class RingRow { top, bottom };

struct RingCellLayout {
    QRectF cell;         // the whole cell: the ring and the room of its open menu
    QRectF ring;         // the gauge's square
    QRectF centreSpot;   // the circle whose tap opens the typed radius (empty when the ring is too small)
    QRectF plate;        // the hover plate
    QRectF capsule;      // the menu capsule
    QRectF arrowButton;  // its upper half: the placement arrow
    QRectF colorButton;  // its lower half: the custom-colour button
    QRectF swatch;       // the colour swatch's square slot
};

struct RingOverlayLayout {
    double diameter = 0;
    QRectF area;                          // the layer less its inset
    std::array<RingCellLayout, 4> cells;  // in `allGaugeCorners` order
    std::array<QRectF, 2> badges;         // the link chips of the top and the bottom row

    // The layout of a layer `size` points large: rings 0.094 of its height (at least 16 points) in an area
    // inset by 0.04 of its smaller side.
    static RingOverlayLayout of(const QSizeF& size);
    const RingCellLayout& cell(GaugeCorner corner) const { return cells[std::size_t(corner)]; }
    const QRectF& badge(RingRow row) const { return badges[std::size_t(row)]; }
};

// What one ring's cell shows, with its animations as they stand.
struct RingCellLook {
    RingGauge gauge;
    RingGaugeMotion motion;
    double open = 0;     // 0...1: how far the hover plate and menu have come in
    bool inert = false;  // the placement arrow cannot change the corner (it sits below the active window)
    bool customSelected = false;
    std::string customHex;

    friend bool operator==(const RingCellLook&, const RingCellLook&) = default;
};

// What one link badge shows.
struct LinkBadgeLook {
    bool linked = false;
    bool enabled = false;     // at least one corner of the row is on
    double linkedMotion = 0;  // 0...1 toward the linked look
    double caption = 0;       // 0...1: the caption's opacity

    friend bool operator==(const LinkBadgeLook&, const LinkBadgeLook&) = default;
};

struct RingScene {
    std::array<RingCellLook, 4> cells;  // in `allGaugeCorners` order
    std::array<LinkBadgeLook, 2> badges;

    friend bool operator==(const RingScene&, const RingScene&) = default;
};

// The layer's pieces as last drawn (rings, plates, menus, badge chips and captions), kept between frames:
// a repaint draws again only the pieces whose looks changed and copies the rest.
class RingPaintCache {
public:
    RingPaintCache();
    ~RingPaintCache();
    RingPaintCache(const RingPaintCache&) = delete;
    RingPaintCache& operator=(const RingPaintCache&) = delete;

private:
    friend void paintRingScene(QPainter&, const RingOverlayLayout&, const RingScene&, qreal, RingPaintCache&);
    struct Pieces;
    std::unique_ptr<Pieces> pieces_;
};

void paintRingScene(QPainter& painter, const RingOverlayLayout& layout, const RingScene& scene, qreal scale,
                    RingPaintCache& cache);

// What takes a tap or a drag at a point. Later layers win: the badges over the rings, within a ring the
// centre spot over the band and the band over the face; a ring's menu only while it is open.
enum class RingTarget { none, face, band, centreSpot, capsule, arrowButton, colorButton, swatch, badge };
struct RingHit {
    RingTarget target = RingTarget::none;
    GaugeCorner corner = GaugeCorner::topLeft;  // for the ring's own targets
    RingRow row = RingRow::top;                 // for a badge
    friend bool operator==(const RingHit&, const RingHit&) = default;
};
// `open`: the ring whose menu shows. `scene` says which menus hold a swatch and which arrows are inert.
RingHit ringHitAt(const RingOverlayLayout& layout, const RingScene& scene, std::optional<GaugeCorner> open,
                  const QPointF& point);

// The ring band's inset from the gauge's edge (the middle of the arc line).
inline constexpr double kRingBandInset = 3.25;

// The placement arrow's help text: where the corner draws now.
QString ringPlacementHelp(GaugeCorner corner, bool behind);
inline constexpr const char* kCustomColorHelp = "Custom color";
// The caption that hangs from a link badge while the pointer is over it.
QString linkBadgeCaption(bool linked);
// The caption's rectangle for a badge chip.
QRectF linkBadgeCaptionRect(const QRectF& chip, RingRow row, bool linked);

}  // namespace velaro
