// The corner window's content.
#include "overlay/CornerMaskView.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "overlay/BarFillStyles.h"
#include "overlay/BarOverlayView.h"
#include "overlay/CornerGeometry.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

const OverlayAnimation kEase30{0.3, TimingCurve::easeInEaseOut};
// The arc's taper: 5 pt at each end, at most 35 % of the sweep each.
constexpr double kArcTaperLength = 5.0;
constexpr double kArcTaperMaximum = 0.35;

}  // namespace

CornerMaskView::CornerMaskView(ScreenCorner corner, const OverlaySettings& settings, OverlayFeed feed,
                               HueDriftClock& driftClock, MainLoop& loop)
    : corner_(corner),
      settings_(settings),
      feed_(feed),
      drift_(driftClock),
      loop_(loop),
      fill_(loop, Color::black()),
      blurShown_(loop, 0.0),
      blurFactor_(loop, 1.0) {
    fill_.snapTo(fillColor());
    blurShown_.snapTo(showsBlurBackdrop() ? 1.0 : 0.0);
    blurFactor_.snapTo(showsBlurBackdrop() ? settings_.styleOpacityOverBlur() : 1.0);
    for (auto* v : {&blurShown_, &blurFactor_}) v->setOnChange([this] { changed(); });
    fill_.setOnChange([this] { changed(); });
}

double CornerMaskView::radius() const {
    return settings_.corners().effectiveRadius(corner_);
}

double CornerMaskView::cornerOpacity() const {
    return settings_.corners().opacity(corner_, settings_.overlayOpacity());
}

bool CornerMaskView::showsBlurBackdrop() const {
    return settings_.blurEnabled() && settings_.blurTopCorners() && isTopCorner(corner_);
}

Color CornerMaskView::cornerOverlayColor() const {
    if (!isTopCorner(corner_)) return Color::black();
    if (settings_.isHueDriftEffective()) {
        if (settings_.hueDrift().variant == OverlayHueDrift::Variant::uniform)
            return drift_.color(drift_.phase().value());
        return drift_.scrollColor(corner_ == ScreenCorner::topLeft ? 0.0 : 1.0);
    }
    return corner_ == ScreenCorner::topRight ? feed_.liveRightCornerColor() : feed_.liveLeftCornerColor();
}

std::optional<BackdropImage> CornerMaskView::blurBackdropImage() const {
    return corner_ == ScreenCorner::topLeft ? feed_.blurredTopLeftCorner() : feed_.blurredTopRightCorner();
}

Color CornerMaskView::fillColor() const {
    return settings_.corners().color(corner_, cornerOverlayColor());
}

double CornerMaskView::fillOpacity() const {
    return cornerOpacity() * (showsBlurBackdrop() ? settings_.styleOpacityOverBlur() : 1.0);
}

Color CornerMaskView::strokeInk() const {
    const bool noReference = (showsBlurBackdrop() && settings_.styleOpacityOverBlur() < 1) ||
                             cornerOpacity() < 1 || settings_.isHueDriftEffective();
    if (!noReference) {
        if (const auto luminance = opaqueLuminance(fillColor())) {
            const bool dark = *luminance > static_cast<double>(0.6f) ||
                              (*luminance >= static_cast<double>(0.4f) && feed_.strokeInkIsDark());
            return contrastShade(dark, darkScheme_, *luminance);
        }
    }
    return schemeInk(darkScheme_);
}

double CornerMaskView::arcCentrelineRadius() const {
    const double r = radius();
    return r - 0.5 * std::min(r, 1.0);
}

bool CornerMaskView::showsArc() const {
    return settings_.corners().arcStrokeEnabled && !isTopCorner(corner_) &&
           settings_.zOrder(corner_) == BottomCornerZ::above && radius() > 0;
}

std::vector<GradientStop> CornerMaskView::arcGradientStops() const {
    const Color ink = schemeInk(darkScheme_);
    const double length = arcCentrelineRadius() * std::numbers::pi / 2;
    const double f = length > 0 ? std::min(kArcTaperLength / length, kArcTaperMaximum) : 0.0;
    return {{0, ink.withAlpha(0)}, {f, ink}, {1 - f, ink}, {1, ink.withAlpha(0)}};
}

bool CornerMaskView::isAnimating() const {
    return fill_.isAnimating() || blurShown_.isAnimating() || blurFactor_.isAnimating();
}

void CornerMaskView::refresh() {
    const double now = loop_.uptime();
    fill_.set(fillColor(), recolorAnimation(now, feed_.recolorSnapUntil(), settings_.isHueDriftEffective()));
    blurShown_.set(showsBlurBackdrop() ? 1.0 : 0.0, kEase30);
    blurFactor_.set(showsBlurBackdrop() ? settings_.styleOpacityOverBlur() : 1.0, kEase30);
    const Shown current = shown();
    if (lastShown_ == current) return;
    lastShown_ = current;
    changed();
}

CornerMaskView::Shown CornerMaskView::shown() const {
    Shown s;
    s.radius = radius();
    s.opacity = cornerOpacity();
    s.stroke = settings_.strokeEnabled() && isTopCorner(corner_);
    if (s.stroke) {
        s.strokeInk = strokeInk();
        s.strokeFadeLength = settings_.strokeFadeLength();
    }
    s.arc = showsArc();
    s.dark = darkScheme_;
    if (const auto backdrop = blurBackdropImage(); backdrop && isTopCorner(corner_))
        s.backdrop = backdrop->image.cacheKey();
    return s;
}

void CornerMaskView::paint(QPainter& p, Size size) {
    const QRectF rect(0, 0, size.width, size.height);
    // The window is laid out at the radius its screen can show, which may be less than the settings ask.
    const double r = std::min({radius(), rect.width(), rect.height()});
    if (rect.isEmpty() || !(r > 0)) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double opacity = std::clamp(cornerOpacity(), 0.0, 1.0);

    // The ear: backdrop and colour, clipped to the concave shape.
    p.save();
    p.setClipPath(cornerNotchPath(corner_, rect, r), Qt::IntersectClip);
    if (blurShown_.value() > 0) {
        if (auto backdrop = blurBackdropImage(); backdrop && !backdrop->image.isNull()) {
            p.save();
            p.setOpacity(p.opacity() * blurShown_.value());
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(rect, backdrop->image);
            p.restore();
        }
    }
    p.setOpacity(opacity * blurFactor_.value());
    p.fillRect(rect, toQColor(fill_.value()));
    p.restore();

    if (settings_.strokeEnabled() && isTopCorner(corner_)) {
        const Color ink = strokeInk();
        const double centreX = corner_ == ScreenCorner::topLeft ? 0.5 : rect.width() - 0.5;
        p.save();
        p.setOpacity(opacity);
        paintFadingSideLine(p, centreX, 0, rect.height(), ink, settings_.strokeFadeLength());
        p.restore();
    }

    if (showsArc()) {
        // The conical gradient runs counter-clockwise on screen from its start angle; the arc sweeps
        // clockwise (angles grow toward +y), so the sweep is laid on the gradient backwards from its end.
        const auto unit = cornerGeometry(corner_, QRectF(0, 0, 1, 1), 1);
        const QPointF centre(unit.arcCenter.x * rect.width(), unit.arcCenter.y * rect.height());
        QConicalGradient g(centre, -unit.endAngle * 180 / std::numbers::pi);
        const double sweep = (unit.endAngle - unit.startAngle) / (2 * std::numbers::pi);
        auto stops = arcGradientStops();
        QGradientStops qstops;
        for (auto it = stops.rbegin(); it != stops.rend(); ++it)
            qstops.push_back({(1 - it->location) * sweep, toQColor(it->color)});
        qstops.push_back({1.0, toQColor(stops.front().color)});
        g.setStops(strictlyIncreasing(qstops));
        QPen pen(QBrush(g), std::min(r, 1.0), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        p.setOpacity(opacity);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(cornerArcPath(corner_, rect, r, arcCentrelineRadius()));
    }
    p.restore();
}

}  // namespace velaro
