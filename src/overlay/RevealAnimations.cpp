// The reveal masks and the reveal's state steps.
#include "overlay/RevealAnimations.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "overlay/BarFillStyles.h"
#include "overlay/LayerPainting.h"

namespace velaro {

namespace {

// The soft edge of the Spread mask, as a fraction of the width on each side.
constexpr double kSpreadRamp = 0.08;
// Half the width the Spread mask spans at full progress: enough that the soft edges lie off the window.
constexpr double kSpreadHalfSpan = 0.58;

double unit(double v) {
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

}  // namespace

double clampRevealProgress(double progress) {
    return unit(progress);
}

SpreadStops spreadMaskStops(double progress) {
    const double p = clampRevealProgress(progress);
    const double h = kSpreadHalfSpan * p;
    const double e = std::max(h - kSpreadRamp, 0.0);
    SpreadStops s;
    s.a = unit(0.5 - h);
    s.b = unit(0.5 - e);
    const double c = std::min(0.5 + e, 1.0);
    s.c = std::isfinite(c) ? c : 0.0;
    s.d = unit(0.5 + h);
    return s;
}

double riseVisibleHeight(double progress, double height) {
    if (!std::isfinite(height)) return 0;
    return std::max(clampRevealProgress(progress) * height, 0.0);
}

void paintRevealMasked(QPainter& p, Size size, double progress, OverlayAnimationKind kind,
                       const std::function<void(QPainter&)>& content) {
    const double t = clampRevealProgress(progress);
    if (t >= 1) {
        content(p);
        return;
    }
    if (t <= 0) return;
    const QRectF r(0, 0, size.width, size.height);
    paintInLayer(p, size, content, [&](QPainter& q) {
        if (kind == OverlayAnimationKind::rise) {
            const double h = riseVisibleHeight(t, size.height);
            q.fillRect(QRectF(0, size.height - h, size.width, h), Qt::black);
            return;
        }
        const SpreadStops s = spreadMaskStops(t);
        QLinearGradient g(r.topLeft(), r.topRight());
        // Stops that meet are nudged apart: a gradient keeps only the last of equal positions.
        QGradientStops stops{{0.0, Qt::transparent}, {s.a, Qt::transparent}, {s.b, Qt::black},
                             {s.c, Qt::black},       {s.d, Qt::transparent}, {1.0, Qt::transparent}};
        g.setStops(strictlyIncreasing(stops));
        q.fillRect(r, g);
    });
}

RevealAnimator::RevealAnimator(MainLoop& loop) : progress_(loop, 0.0), holdOpacity_(loop, 1.0) {
    progress_.setOnChange([this] { changed(); });
    holdOpacity_.setOnChange([this] { changed(); });
}

void RevealAnimator::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

void RevealAnimator::appear(bool shown) {
    ++generation_;
    progress_.snapTo(shown ? 1.0 : 0.0);
}

void RevealAnimator::reveal(bool instant, const std::function<RevealColorHold()>& freeze) {
    const int g = ++generation_;
    if (instant) {
        hold_.reset();
        holdOpacity_.snapTo(1.0);
        progress_.snapTo(1.0);
        changed();
        return;
    }
    hold_ = freeze();
    holdOpacity_.snapTo(1.0);
    progress_.set(1.0, kOpen, [this, g] {
        if (g != generation_) return;
        holdOpacity_.set(0.0, kSettle, [this, g] {
            if (g != generation_) return;
            hold_.reset();
            holdOpacity_.snapTo(1.0);
            changed();
        });
    });
    changed();
}

void RevealAnimator::conceal() {
    ++generation_;
    hold_.reset();
    holdOpacity_.snapTo(1.0);
    progress_.snapTo(0.0);
    changed();
}

}  // namespace velaro
