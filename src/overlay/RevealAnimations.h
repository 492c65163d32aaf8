// How the unified overlay appears: a mask that rises from the window's bottom edge or spreads from its
// centre, and the colours frozen while it opens so the reveal does not flicker through colour changes.
#pragma once

#include <functional>
#include <optional>

#include "base/AnimatedValue.h"
#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "overlay/BarOverlayView.h"
#include "settings/ValueTypes.h"

class QPainter;

namespace velaro {

// Progress limited to 0...1; not a number counts as 0.
double clampRevealProgress(double progress);

// The Spread mask's horizontal stops (fractions of the width): clear up to `a`, opaque from `b` to `c`,
// clear again from `d`.
struct SpreadStops {
    double a = 0.5, b = 0.5, c = 0.5, d = 0.5;
};
SpreadStops spreadMaskStops(double progress);

// The Rise mask's visible height: the lowest part of a window `height` points tall.
double riseVisibleHeight(double progress, double height);

// Paints `content` through the reveal mask at `progress`; fully open paints it as it is.
void paintRevealMasked(QPainter& painter, Size size, double progress, OverlayAnimationKind kind,
                       const std::function<void(QPainter&)>& content);

// The reveal of one unified window: the mask's progress and the frozen colours with their fading layer.
class RevealAnimator {
public:
    static constexpr OverlayAnimation kOpen{0.35, TimingCurve::easeOut};
    static constexpr OverlayAnimation kSettle{0.12, TimingCurve::easeInEaseOut};

    explicit RevealAnimator(MainLoop& loop);
    RevealAnimator(const RevealAnimator&) = delete;
    RevealAnimator& operator=(const RevealAnimator&) = delete;

    void setOnChange(std::function<void()> onChange);

    // The window appears: open when already shown, closed otherwise, without animation.
    void appear(bool shown);
    // `shown` became true: at once when `instant` is set, else opening over the colours `freeze` returns.
    void reveal(bool instant, const std::function<RevealColorHold()>& freeze);
    // `shown` became false: the mask closes at once and nothing stays frozen.
    void conceal();

    double progress() const { return progress_.value(); }
    const std::optional<RevealColorHold>& hold() const { return hold_; }
    double holdOpacity() const { return holdOpacity_.value(); }
    bool isAnimating() const { return progress_.isAnimating() || holdOpacity_.isAnimating(); }

private:
    void changed() {
        if (onChange_) onChange_();
    }

    AnimatedValue<double> progress_;
    AnimatedValue<double> holdOpacity_;
    std::optional<RevealColorHold> hold_;
    // Completions of a reveal that was taken over find a newer generation and do nothing.
    int generation_ = 0;
    std::function<void()> onChange_;
};

}  // namespace velaro
