// Scrolling over a ring of the corner-rounding preview changes that corner's radius. The router keeps which
// ring the pointer is over and, while the page shows (between `install` and `uninstall`), watches the wheel
// events aimed at the preview: over a hovered ring it turns them into a new radius for the page's apply
// hook and eats them, so the settings page behind does not scroll; every other wheel event passes.
//
// One scroll run starts at the ring's value when the first event over it arrives and adds a quarter of every
// point of scrolling (a wheel notch counts ten points). The router does not clamp: the apply hook does, and
// scrolling back after an overshoot first cancels the overshoot. A run ends when the hovered ring changes,
// the pointer reaches a ring's menu, a trackpad gesture ends, momentum arrives, or the router is uninstalled.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

#include "base/Published.h"
#include "ui/settings/rings/RingEditState.h"

class QWheelEvent;
class QWidget;

namespace velaro {

class GaugeScrollRouter : public QObject {
public:
    using ValueFor = std::function<double(GaugeCorner)>;
    using Apply = std::function<void(GaugeCorner, double)>;

    // One wheel event, as the router reads it.
    struct Scroll {
        double dy = 0;          // points when precise, else lines
        bool precise = false;   // a trackpad's pixel deltas rather than a wheel's notches
        bool inverted = false;  // the device's direction is reversed ("natural" scrolling)
        bool momentum = false;  // inertia after the fingers lifted
        bool ended = false;     // the trackpad gesture ended

        static Scroll from(const QWheelEvent& event);
    };

    explicit GaugeScrollRouter(QObject* parent = nullptr);

    // Starts watching wheel events sent to `preview` or anything inside it. While installed, a second call
    // changes nothing (the first hooks stay).
    void install(QWidget& preview, ValueFor valueFor, Apply apply);
    // Stops watching, forgets the hovered ring and ends the run; the hooks stay for the next install.
    void uninstall();

    const Published<std::optional<GaugeCorner>>& hoveredCorner() const { return hoveredCorner_; }
    // Pointer entry (`inside`) or exit over a ring's hover region.
    void setHovered(GaugeCorner corner, bool inside);
    // Pointer entry or exit over a ring's menu capsule or colour swatch: scrolls there change nothing.
    void setPointerOverMenu(bool inside);

    // One scroll event: whether it is eaten.
    bool step(const Scroll& scroll);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void endRun();

    Published<std::optional<GaugeCorner>> hoveredCorner_{std::nullopt};
    bool overMenu_ = false;
    bool installed_ = false;
    QPointer<QWidget> preview_;
    ValueFor valueFor_;
    Apply apply_;
    std::optional<GaugeCorner> activeCorner_;
    double baseValue_ = 0;
    double accumulated_ = 0;
};

}  // namespace velaro
