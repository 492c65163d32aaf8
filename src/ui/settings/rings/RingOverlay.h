// The interactive layer of the corner-rounding preview: one ring gauge in each corner of its area for the
// screen's top corners and the bottom corners, and a link badge between the rings of each row. It stands
// alone over any background (the page lays it over its picture of the desktop, at the same size).
//
// On a ring the user drags around it to set the radius (one turn is 48 points), scrolls over it (the page's
// scroll router), taps it to switch the corner on or off, taps its centre to type a radius, and hovers it to
// open its menu: the placement arrow, the custom-colour button and, for a custom colour, the swatch that
// opens the colour panel. A badge links or unlinks its row. Every change goes through the deferred corner
// mutators, so it lands on the next turn of the loop and the layer shows it when the settings publish.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "base/Published.h"
#include "overlay/OverlayFeed.h"
#include "ui/settings/rings/GaugeScrollRouter.h"
#include "ui/settings/rings/RingScene.h"

namespace velaro {

class ColorRingPanelLink;
class MainLoop;
class OverlaySettings;

class RingOverlay : public QWidget {
public:
    // The page's router, edit state and panel link; the layer keeps references to all of them.
    RingOverlay(OverlaySettings& settings, MainLoop& loop, GaugeScrollRouter& router,
                RingEditState& editState, ColorRingPanelLink& panelLink, QWidget* parent = nullptr);
    ~RingOverlay() override;

    // Where the rings, menus and badges are at the layer's present size.
    RingOverlayLayout ringLayout() const { return RingOverlayLayout::of(size()); }
    // What the layer shows once its animations settle: the settings as they are now.
    RingScene scene() const { return targetScene(); }
    // Does what a tap on `hit` does (an inert arrow and a disabled badge do nothing). Assistive
    // technologies act through it.
    void activate(const RingHit& hit) { tap(hit); }
    // Queues a ring's new radius, held inside 0...48 (a value that is not a number changes nothing).
    void setRadius(GaugeCorner corner, double radius);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Motion;
    class RadiusField;

    void refresh();
    RingScene targetScene() const;
    RingScene shownScene() const;
    double currentRadius(GaugeCorner corner) const;

    void updateHover(const QPointF& point);
    void clearHover();
    void tap(const RingHit& hit);
    void dragChanged(GaugeCorner corner, const QPointF& inRing);
    void clearDrag();

    void beginRadiusEdit(GaugeCorner corner);
    void commitRadiusEdit(GaugeCorner corner);
    void cancelRadiusEdit(GaugeCorner corner);
    void handFocusBack();
    void placeField();

    OverlaySettings& settings_;
    MainLoop& loop_;
    GaugeScrollRouter& router_;
    RingEditState& editState_;
    ColorRingPanelLink& panelLink_;

    std::unique_ptr<Motion> motion_;
    RingPaintCache paintCache_;
    RadiusField* field_;
    // What had the keyboard when the field opened; it gets it back when the field closes.
    QPointer<QWidget> focusBeforeEdit_;
    std::optional<RingScene> lastTarget_;

    // Pointer tracking: which hover regions, menus and badges the pointer is inside.
    std::array<bool, 4> insideCell_{};
    bool insideCapsule_ = false;
    bool insideSwatch_ = false;
    std::array<bool, 2> insideBadge_{};

    // The press under way, and the one drag state all rings share (only one drag runs at a time).
    std::optional<RingHit> pressed_;
    QPointF pressPoint_;
    bool dragging_ = false;
    std::optional<double> dragBase_;
    std::optional<double> dragLastAngle_;
    double dragAccum_ = 0;

    CoalescedRefresh refreshLater_;
    std::vector<Subscription> watches_;
};

// The page's scroll hooks: the stored radius of a ring's corner (linked rows read their row radius, whether
// the corner is on or not), and the deferred radius write of a scrolled ring, skipped while that ring's
// radius is being typed.
GaugeScrollRouter::ValueFor ringRadiusReader(const OverlaySettings& settings);
GaugeScrollRouter::Apply ringRadiusApplier(OverlaySettings& settings, MainLoop& loop,
                                           const RingEditState& editState);

}  // namespace velaro
