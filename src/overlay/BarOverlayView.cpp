// The band's content and the hairline ink helpers.
#include "overlay/BarOverlayView.h"

#include <QImage>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "overlay/CornerGeometry.h"
#include "overlay/HueDriftClock.h"
#include "overlay/LayerPainting.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

// The ink thresholds are single-precision numbers: 0.6f and 0.4f, not the doubles 0.6 and 0.4.
constexpr double kDarkInkAbove = static_cast<double>(0.6f);
constexpr double kLightInkBelow = static_cast<double>(0.4f);
// The contrast floor is the single-precision number just below 0.4.
constexpr double kContrastFloor = 0.39999997615814209;

const OverlayAnimation kEase25{0.25, TimingCurve::easeInEaseOut};
const OverlayAnimation kEase30{0.3, TimingCurve::easeInEaseOut};
const OverlayAnimation kLinear10{0.1, TimingCurve::linear};

double unitLocation(double v) {
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

// Paints `draw` into its own layer, keeps it only where `mask` is opaque, and lays the result down: the
// notch fades cut through everything the layer holds at once.
template <class Draw>
void paintMasked(QPainter& p, const QRectF& r, const QLinearGradient& mask, Draw&& draw) {
    const double dpr = layerPixelRatio(p);
    QImage layer(QSize(int(std::ceil(r.width() * dpr)), int(std::ceil(r.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.setDevicePixelRatio(dpr);
    layer.fill(Qt::transparent);
    {
        QPainter q(&layer);
        q.setRenderHints(p.renderHints());
        draw(q);
        q.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        q.fillRect(r, mask);
    }
    p.drawImage(QPointF(0, 0), layer);
}

// Opaque everywhere but across the notch, fading in over `distance` points on each side.
QLinearGradient notchFadeMask(const QRectF& r, const QRectF& notch, double distance) {
    const double w = std::max(r.width(), 1.0);
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setStops(strictlyIncreasing({{0.0, Qt::black},
                                   {unitLocation((notch.left() - distance) / w), Qt::black},
                                   {unitLocation(notch.left() / w), Qt::transparent},
                                   {unitLocation(notch.right() / w), Qt::transparent},
                                   {unitLocation((notch.right() + distance) / w), Qt::black},
                                   {1.0, Qt::black}}));
    return g;
}

QColor inkAt(const Color& ink, double opacity) {
    return toQColor(ink.withAlpha(ink.alpha * opacity));
}

}  // namespace

std::optional<double> opaqueLuminance(const Color& color) {
    if (!std::isfinite(color.red) || !std::isfinite(color.green) || !std::isfinite(color.blue) ||
        !std::isfinite(color.alpha) || color.alpha < 0.5)
        return std::nullopt;
    return relativeLuminance(color);
}

Color contrastShade(bool dark, bool strong, double luminance) {
    const double n = strong ? 0.1753 : 0.0765;
    const double c = dark ? luminance : 1 - luminance;
    double opacity = std::min(1.0, n / std::max(c, kContrastFloor));
    if (!std::isfinite(opacity)) opacity = n / kContrastFloor;
    return (dark ? Color::black() : Color::white()).withAlpha(opacity);
}

Color schemeInk(bool darkScheme) {
    return contrastShade(!darkScheme, darkScheme, darkScheme ? 0.124 : 0.637);
}

bool inkIsDark(double luminance, std::optional<bool> keep) {
    if (luminance > kDarkInkAbove) return true;
    if (luminance < kLightInkBelow) return false;
    return keep ? *keep : luminance >= 0.5;
}

std::optional<QRectF> notchRect(double safeAreaTop, std::optional<Rect> auxiliaryTopLeft,
                                std::optional<Rect> auxiliaryTopRight, double screenMinX) {
    if (!(safeAreaTop > 0) || !auxiliaryTopLeft || !auxiliaryTopRight) return std::nullopt;
    return QRectF(auxiliaryTopLeft->maxX() - screenMinX, 0,
                  auxiliaryTopRight->minX() - auxiliaryTopLeft->maxX(), safeAreaTop);
}

void paintFadingSideLine(QPainter& p, double centreX, double top, double bottom, const Color& ink,
                         double fadeLength) {
    const double length = bottom - top;
    if (!(length > 0)) return;
    const double fadeAt = unitLocation(std::max(1 - fadeLength / std::max(length, 1.0), 0.0));
    const auto fill = [&](QPainter& q, const QRectF& line, const QColor& solid) {
        QColor clear = solid;
        clear.setAlpha(0);
        QLinearGradient g(line.topLeft(), line.bottomLeft());
        g.setStops(strictlyIncreasing({{0.0, solid}, {fadeAt, solid}, {1.0, clear}}));
        q.fillRect(line, g);
    };
    const QRectF line(centreX - 0.5, top, 1, length);
    if (!mapsToWholePixels(p)) {
        fill(p, line, inkAt(ink, 1));
        return;
    }
    // The lines repaint with the band, each a gradient made and filled anew: a picture of the line in the
    // ink at full strength, made once for where it starts within a pixel, is laid down at the ink's opacity.
    const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const QPointF origin = p.deviceTransform().map(line.topLeft());
    const double fx = origin.x() - std::floor(origin.x()), fy = origin.y() - std::floor(origin.y());
    const QColor solid = inkAt(ink.withAlpha(1), 1);
    thread_local PathCache<std::tuple<double, double, double, double, double, QRgb>, QImage> pictures;
    const QImage picture = pictures.get({fx, fy, length, fadeAt, dpr, solid.rgb()}, [&] {
        QImage image(QSize(int(std::ceil(fx + dpr)), int(std::ceil(fy + length * dpr))),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        QPainter q(&image);
        q.setRenderHints(p.renderHints());
        fill(q, QRectF(fx / dpr, fy / dpr, 1, length), solid);
        return image;
    });
    p.save();
    p.setOpacity(p.opacity() * (std::isfinite(ink.alpha) ? std::clamp(ink.alpha, 0.0, 1.0) : 0.0));
    p.drawImage(QPointF(line.left() - fx / dpr, line.top() - fy / dpr), picture);
    p.restore();
}

MenuBarOverlayView::MenuBarOverlayView(const OverlaySettings& settings, OverlayFeed feed,
                                       HueDriftClock& driftClock, MainLoop& loop,
                                       std::optional<RevealColorHold> heldColor)
    : settings_(settings),
      feed_(feed),
      drift_(driftClock),
      loop_(loop),
      held_(std::move(heldColor)),
      base_(loop, Color::black()),
      gradientTop_(loop, Color::black()),
      gradientBottom_(loop, Color::black()),
      zones_(loop, {}),
      driftPhase_(loop, 0.0),
      emptyDesktopMix_(loop, 0.0),
      blurShown_(loop, 0.0),
      blurOpacityFactor_(loop, 1.0),
      styleMix_(loop, 1.0) {
    // The first values are shown as they are: nothing animates in from black.
    refresh();
    for (auto* v : {&base_, &gradientTop_, &gradientBottom_}) v->snapTo(v->target());
    zones_.snapTo(zones_.target());
    for (auto* v : {&driftPhase_, &emptyDesktopMix_, &blurShown_, &blurOpacityFactor_})
        v->snapTo(v->target());
    styleMix_.snapTo(1.0);
    outgoing_.reset();
    for (auto* v : {&base_, &gradientTop_, &gradientBottom_}) v->setOnChange([this] { changed(); });
    for (auto* v : {&driftPhase_, &emptyDesktopMix_, &blurShown_, &blurOpacityFactor_})
        v->setOnChange([this] { changed(); });
    zones_.setOnChange([this] { changed(); });
    styleMix_.setOnChange([this] { changed(); });
}

void MenuBarOverlayView::setOnNeedsDisplay(std::function<void()> callback) {
    onNeedsDisplay_ = std::move(callback);
}

void MenuBarOverlayView::changed() {
    if (onNeedsDisplay_) onNeedsDisplay_();
}

bool MenuBarOverlayView::isEmptyDesktop() const {
    return settings_.keepOverlayAlwaysOn() && !feed_.isFilledWindowActive();
}

Color MenuBarOverlayView::solidColor() const {
    return settings_.effectiveColor(held_ ? held_->dominant : feed_.dominantColor());
}

std::vector<Color> MenuBarOverlayView::sampledZoneColors() const {
    if (!settings_.isSamplingActive()) return {};
    return held_ ? held_->zones : feed_.zoneColors();
}

std::vector<Color> MenuBarOverlayView::multicolorZoneColors() const {
    if (settings_.overlayColorZones().multicolorEnabled && !settings_.autoSample() &&
        settings_.style() == MenuBarStyle::solid)
        return settings_.colorZoneColors();
    return {};
}

std::vector<Color> MenuBarOverlayView::driftPattern() const {
    if (settings_.isHueDriftEffective() && settings_.hueDrift().variant == OverlayHueDrift::Variant::scroll)
        return drift_.colors();
    return {};
}

std::optional<LiveLine> MenuBarOverlayView::liveLine() const {
    if (held_) return held_->line;
    return feed_.liveLine();
}

Color MenuBarOverlayView::baseColor() const {
    if (settings_.isUniformHueDriftEffective()) return drift_.color(drift_.phase().value());
    return solidColor();
}

MenuBarStyleFill MenuBarOverlayView::targetFill() const {
    MenuBarStyleFill fill;
    const auto& zones = settings_.overlayColorZones();
    const auto& drift = settings_.hueDrift();
    fill.style = settings_.style();
    fill.color = baseColor();
    fill.colorStrip = sampledZoneColors();
    fill.opacity =
        settings_.overlayOpacity() * (settings_.blurEnabled() ? settings_.styleOpacityOverBlur() : 1.0);
    const bool autoSample = settings_.autoSample();
    fill.gradientTopColor =
        settings_.gradientTopFollowsSample() && autoSample ? solidColor() : settings_.gradientTopColor();
    fill.gradientBottomColor = settings_.gradientBottomFollowsSample() && autoSample
                                   ? solidColor()
                                   : settings_.gradientBottomColor();
    fill.gradientTopOpacity = settings_.gradientTopOpacity();
    fill.gradientBottomOpacity = settings_.gradientBottomOpacity();
    fill.liveLine = liveLine();
    fill.zoneColors = multicolorZoneColors();
    fill.zoneBlend = zones.blend;
    fill.zoneTransitionWidth = zones.transitionWidth;
    fill.driftPattern = driftPattern();
    fill.driftPhase = drift_.phase().value();
    fill.driftBlend = drift.blend;
    fill.driftTransitionWidth = drift.transitionWidth;
    fill.driftRightToLeft = drift.direction == OverlayHueDrift::Direction::rightToLeft;
    return fill;
}

MenuBarStyleFill MenuBarOverlayView::shownFill() const {
    auto fill = targetFill();
    fill.color = base_.value();
    fill.gradientTopColor = gradientTop_.value();
    fill.gradientBottomColor = gradientBottom_.value();
    fill.zoneColors = zones_.value();
    fill.driftPhase = driftPhase_.value();
    fill.opacity = settings_.overlayOpacity() * blurOpacityFactor_.value();
    return fill;
}

bool MenuBarOverlayView::isAnimating() const {
    return base_.isAnimating() || gradientTop_.isAnimating() || gradientBottom_.isAnimating() ||
           zones_.isAnimating() || driftPhase_.isAnimating() || emptyDesktopMix_.isAnimating() ||
           blurShown_.isAnimating() || blurOpacityFactor_.isAnimating() || styleMix_.isAnimating();
}

bool MenuBarOverlayView::paintsOpaque() const {
    // The notch fade and a cross-fade of styles leave translucent pixels; so does the empty-desktop backdrop
    // on its way in or out.
    if (settings_.notchFadeEnabled() && notch_) return false;
    if (outgoing_ && styleMix_.value() < 1) return false;
    const double emptyMix = emptyDesktopMix_.value();
    if (emptyMix >= 1) return settings_.emptyDesktopMode() == EmptyDesktopMode::black;
    return emptyMix <= 0 && shownFill().isOpaque();
}

std::vector<Rect> MenuBarOverlayView::repeatedArea(Size size) const {
    const double w = size.width, h = size.height;
    if (!(w > 0) || !(h > 0) || notch_) return {};
    // The blurred backdrop and the empty desktop's picture are pictures of the screen, not rows.
    if (blurShown_.value() > 0 || emptyDesktopMix_.value() > 0) return {};
    if (outgoing_ && styleMix_.value() < 1 && !outgoing_->isUniformDown()) return {};
    if (!shownFill().isUniformDown()) return {};
    // The fill repeats its first row down the band; what is laid over it does not: the rows repeat only
    // where nothing is, in whole points.
    const QRect band(0, 0, int(std::floor(w)), int(std::floor(h)));
    const bool stroke = settings_.strokeEnabled();
    // Worked out once per band size and stroke: a live band asks at every frame.
    thread_local PathCache<std::tuple<int, int, bool, double>, std::vector<Rect>> cache;
    return cache.get({band.width(), band.height(), stroke, stroke ? settings_.strokeCurveRadius() : 0}, [&] {
        QRegion repeated(band);
        if (stroke) repeated -= edgeStrokeFootprint(band.size());
        // Cut into columns as tall as they go (a region cuts into rows, so it is cut turned on its side):
        // each part's first row is painted and the rest copied, so each column is then painted once.
        QRegion turned;
        for (const QRect& r : repeated) turned += QRect(r.y(), r.x(), r.height(), r.width());
        std::vector<Rect> parts;
        for (const QRect& r : turned) parts.emplace_back(r.y(), r.x(), r.height(), r.width());
        return parts;
    });
}

QRegion MenuBarOverlayView::edgeStrokeFootprint(QSize band) const {
    // One point more on every side of each line takes in its antialiasing. The top line runs along the
    // top row and, curved, bends down each end over a square of its radius; each side line runs down the
    // whole band, fading or starting where a curve ends.
    const double r = std::min(settings_.strokeCurveRadius(), band.height() - 2.0);
    constexpr int line = 2;
    const int end = r >= 0.5 ? int(std::ceil(r)) + line : line;
    QRegion stroke(0, 0, band.width(), line);
    stroke += QRect(0, 0, end, end);
    stroke += QRect(band.width() - end, 0, end, end);
    stroke += QRect(0, 0, line, band.height());
    stroke += QRect(band.width() - line, 0, line, band.height());
    return stroke;
}

void MenuBarOverlayView::refresh() {
    const double now = loop_.uptime();
    const bool snap = now < feed_.recolorSnapUntil();
    const auto target = targetFill();
    const std::optional<OverlayAnimation> ease = snap ? std::nullopt : std::optional(kEase25);
    base_.set(target.color,
              recolorAnimation(now, feed_.recolorSnapUntil(), settings_.isUniformHueDriftEffective()));
    gradientTop_.set(*target.gradientTopColor, ease);
    gradientBottom_.set(*target.gradientBottomColor, ease);
    zones_.set(target.zoneColors, ease);
    driftPhase_.set(target.driftPhase, kLinear10);
    emptyDesktopMix_.set(isEmptyDesktop() ? 1.0 : 0.0, kEase25);
    blurShown_.set(settings_.blurEnabled() ? 1.0 : 0.0, kEase30);
    blurOpacityFactor_.set(settings_.blurEnabled() ? settings_.styleOpacityOverBlur() : 1.0, kEase30);
    if (target.style != lastTarget_.style) {
        outgoing_ = lastTarget_;
        styleMix_.snapTo(0.0);
        styleMix_.set(1.0, kEase25, [this] { outgoing_.reset(); });
    }
    lastTarget_ = target;
    changed();
}

Color MenuBarOverlayView::strokeInk() const {
    const bool dark = darkScheme_;
    std::optional<Color> reference;
    std::optional<bool> keep;
    const auto style = settings_.style();
    const bool haveLineNow = feed_.liveLine().has_value();
    const bool stripOfTwo = sampledZoneColors().size() >= 2;
    if (isEmptyDesktop() && settings_.emptyDesktopMode() == EmptyDesktopMode::black) {
        reference = Color::black();
    } else if (isEmptyDesktop()) {
    } else if (settings_.overlayOpacity() < 1) {
    } else if (settings_.blurEnabled() && settings_.styleOpacityOverBlur() < 1) {
    } else if (style == MenuBarStyle::gradient) {
    } else if (style == MenuBarStyle::live) {
        if (!held_) {
            if (haveLineNow || stripOfTwo) {
                reference = feed_.dominantColor();
                keep = feed_.strokeInkIsDark();
            }
        } else if (held_->line) {
            reference = held_->dominant;
        } else if (!haveLineNow && stripOfTwo) {
            reference = held_->dominant;
        }
    } else if (settings_.isHueDriftEffective() || !multicolorZoneColors().empty()) {
    } else {
        reference = solidColor();
        if (!held_ && settings_.autoSample()) keep = feed_.strokeInkIsDark();
    }

    const auto luminance = reference ? opaqueLuminance(*reference) : std::nullopt;
    if (!luminance) return schemeInk(dark);
    return contrastShade(inkIsDark(*luminance, keep), dark, *luminance);
}

void MenuBarOverlayView::paintFillLayer(QPainter& p, const QRectF& r) {
    const double blurMix = blurShown_.value();
    if (blurMix > 0) {
        if (auto backdrop = feed_.blurredBackdropImage(); backdrop && !backdrop->image.isNull()) {
            p.save();
            p.setOpacity(p.opacity() * blurMix);
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(r, backdrop->image);
            p.restore();
        }
    }
    const double emptyMix = emptyDesktopMix_.value();
    auto fill = shownFill();
    fill.opacity *= 1 - emptyMix;
    const double styleMix = styleMix_.value();
    if (outgoing_ && styleMix < 1) {
        auto before = *outgoing_;
        before.opacity *= (1 - emptyMix) * (1 - styleMix);
        if (before.opacity > 0) before.paint(p, r, &strip_);
        fill.opacity *= styleMix;
    }
    if (fill.opacity > 0) fill.paint(p, r, &strip_);
    if (emptyMix <= 0) return;
    p.save();
    p.setOpacity(p.opacity() * emptyMix);
    paintEmptyDesktopBackdrop(p, r, settings_.emptyDesktopMode(), feed_.blurredBackdropImage());
    p.restore();
}

void paintEmptyDesktopBackdrop(QPainter& p, const QRectF& rect, EmptyDesktopMode mode,
                               const std::optional<BackdropImage>& backdrop) {
    switch (mode) {
        case EmptyDesktopMode::black:
            p.fillRect(rect, Qt::black);
            break;
        case EmptyDesktopMode::transparent:
            break;
        case EmptyDesktopMode::blur:
            if (backdrop && !backdrop->image.isNull()) {
                p.setRenderHint(QPainter::SmoothPixmapTransform, true);
                p.drawImage(rect, backdrop->image);
            }
            break;
    }
}

void MenuBarOverlayView::paint(QPainter& p, Size size, bool outline) {
    const QRectF r(0, 0, size.width, size.height);
    if (r.isEmpty()) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    if (settings_.notchFadeEnabled() && notch_) {
        paintMasked(p, r, notchFadeMask(r, *notch_, settings_.notchFadeDistance()),
                    [&](QPainter& q) { paintFillLayer(q, r); });
    } else {
        paintFillLayer(p, r);
    }
    const double opacity = std::clamp(settings_.overlayOpacity(), 0.0, 1.0);
    if (outline && (settings_.strokeEnabled() || (settings_.notchStrokeEnabled() && notch_))) {
        const Color ink = strokeInk();
        p.setOpacity(opacity);
        if (settings_.strokeEnabled()) paintEdgeStroke(p, r, ink);
        if (settings_.notchStrokeEnabled() && notch_) paintNotchStroke(p, r, *notch_, ink);
    }
    p.restore();
}

void MenuBarOverlayView::paintEdgeStroke(QPainter& p, const QRectF& bounds, const Color& ink) const {
    const double w = bounds.width(), h = bounds.height();
    const double r = std::min(settings_.strokeCurveRadius(), h - 2);
    const bool curved = r >= 0.5;
    constexpr double i = 0.5;

    // Built once per band size and radius, not once per paint.
    thread_local PathCache<std::tuple<double, double, bool>> topEdges;
    const QPainterPath top = topEdges.get({w, r, curved}, [&] {
        QPainterPath path;
        if (curved) {
            // Angles here run from +x toward +y (y down); QPainterPath's run the other way, hence the signs.
            path.moveTo(i, i + r);
            path.arcTo(QRectF(i, i, 2 * r, 2 * r), 180, -90);
            path.lineTo(w - r - i, i);
            path.arcTo(QRectF(w - 2 * r - i, i, 2 * r, 2 * r), 90, -90);
        } else {
            path.moveTo(i, i);
            path.lineTo(w - i, i);
        }
        return path;
    });
    const QColor penColor = inkAt(ink, 1);
    QPen pen(penColor, 1);
    pen.setMiterLimit(10);
    auto strokeTop = [&](QPainter& q) {
        q.setPen(pen);
        q.setBrush(Qt::NoBrush);
        q.drawPath(top);
    };
    // Where the painter only moves by whole device pixels, the stroke is drawn from its picture: the band
    // repaints with every change of the live line, and stroking an antialiased curve the band's width costs
    // many times what blending its picture does. The picture holds exactly what the stroke would have laid
    // over the pixels beneath it.
    const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const bool wholePixels = mapsToWholePixels(p);
    if (settings_.strokeNotchFadeEnabled() && notch_) {
        paintMasked(p, bounds, notchFadeMask(bounds, *notch_, settings_.strokeNotchFadeDistance()),
                    strokeTop);
    } else if (wholePixels && w * dpr <= 16384) {
        // Only its painted parts are blended: the line's row across the band and the two curved ends, a
        // small part of the picture's rectangle.
        thread_local PathCache<std::tuple<double, double, bool, QRgb, double>, SparsePicture> topEdgePictures;
        const double height =
            (curved ? r : 0) + 1.5;  // the curve's depth, the line and its antialiased fringe
        const SparsePicture picture = topEdgePictures.get({w, r, curved, penColor.rgba(), dpr}, [&] {
            QImage image(
                QSize(static_cast<int>(std::ceil(w * dpr)), static_cast<int>(std::ceil(height * dpr))),
                QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(dpr);
            image.fill(Qt::transparent);
            QPainter q(&image);
            q.setRenderHint(QPainter::Antialiasing);
            strokeTop(q);
            q.end();
            return sparsePicture(std::move(image));
        });
        drawSparsePicture(p, QPointF(0, 0), picture);
    } else {
        p.save();
        strokeTop(p);
        p.restore();
    }

    const double y0 = curved ? r + 0.5 : 0;
    const auto& corners = settings_.corners();
    auto fadeFor = [&](ScreenCorner corner) {
        return corners.effectiveRadius(corner) > 0 ? 0.0 : settings_.strokeFadeLength();
    };
    paintFadingSideLine(p, 0.5, y0, h, ink, fadeFor(ScreenCorner::topLeft));
    paintFadingSideLine(p, w - 0.5, y0, h, ink, fadeFor(ScreenCorner::topRight));
}

void MenuBarOverlayView::paintNotchStroke(QPainter& p, const QRectF& bounds, const QRectF& notch,
                                          const Color& ink) const {
    const double w = std::max(bounds.width(), 1.0);
    const double rt = settings_.notchStrokeTopRadius(), rb = settings_.notchStrokeBottomRadius();
    const double adjust = settings_.notchStrokeWidthAdjust(), offset = settings_.notchStrokeXOffset();
    const double l = notch.left() + offset - adjust / 2;
    const double r = notch.right() + offset + adjust / 2;
    const double hn = notch.height() + settings_.notchStrokeHeight();
    QPainterPath path;
    path.moveTo(l - rt, 0.5);
    path.quadTo(l + 0.5, 0.5, l + 0.5, rt);
    path.lineTo(l + 0.5, hn - rb);
    path.quadTo(l + 0.5, hn - 0.5, l + rb, hn - 0.5);
    path.lineTo(r - rb, hn - 0.5);
    path.quadTo(r - 0.5, hn - 0.5, r - 0.5, hn - rb);
    path.lineTo(r - 0.5, rt);
    path.quadTo(r - 0.5, 0.5, r + rt, 0.5);
    QLinearGradient mask(bounds.topLeft(), bounds.topRight());
    mask.setStops(strictlyIncreasing({{unitLocation((l - rt - 4) / w), Qt::transparent},
                                      {unitLocation((l + rt) / w), Qt::black},
                                      {unitLocation((r - rt) / w), Qt::black},
                                      {unitLocation((r + rt + 4) / w), Qt::transparent}}));
    QPen pen(inkAt(ink, 1), 1);
    pen.setMiterLimit(10);
    paintMasked(p, bounds, mask, [&](QPainter& q) {
        q.setPen(pen);
        q.setBrush(Qt::NoBrush);
        q.drawPath(path);
    });
}

}  // namespace velaro
