// The unified window's layer stack: live band and ears, the reveal's frozen colours, and the remembered
// appearance, under the pill clip and the reveal mask.
#include "overlay/UnifiedOverlayView.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "overlay/BarFillStyles.h"
#include "overlay/CornerGeometry.h"
#include "overlay/HueDriftClock.h"
#include "overlay/LayerPainting.h"
#include "overlay/PillMask.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

const OverlayAnimation kEase25{0.25, TimingCurve::easeInEaseOut};
constexpr double kMinimumBandHeight = 4.0;
// The end-of-recolour re-render lands just after the window closes.
constexpr double kMemoryTickSlack = 0.05;

}  // namespace

UnifiedOverlayView::UnifiedOverlayView(const OverlaySettings& settings, OverlayFeed feed,
                                       HueDriftClock& driftClock, MainLoop& loop, UnifiedPresenter& presenter,
                                       UnifiedScreenMetrics metrics)
    : settings_(settings),
      feed_(feed),
      drift_(driftClock),
      loop_(loop),
      presenter_(presenter),
      metrics_(std::move(metrics)),
      liveBar_(settings, feed, driftClock, loop),
      reveal_(loop),
      leftEarFill_(loop, Color::black()),
      rightEarFill_(loop, Color::black()),
      emptyDesktopMix_(loop, 0.0) {
    leftEarFill_.snapTo(earFill(ScreenCorner::topLeft, std::nullopt));
    rightEarFill_.snapTo(earFill(ScreenCorner::topRight, std::nullopt));
    emptyDesktopMix_.snapTo(isEmptyDesktop() ? 1.0 : 0.0);
    liveBar_.setOnNeedsDisplay([this] { changed(); });
    for (auto* v : {&leftEarFill_, &rightEarFill_}) v->setOnChange([this] { changed(); });
    emptyDesktopMix_.setOnChange([this] { changed(); });
    reveal_.setOnChange([this] {
        if (!reveal_.hold() && revealBar_) {
            // The frozen colours are gone: the ears head for the live ones again.
            revealBar_.reset();
            refresh();
        }
        changed();
    });
    reveal_.appear(presenter_.shown());

    presenterWatch_.push_back(presenter_.shown.changes().sink([this](const bool& shown) {
        if (shown) {
            const bool instant = std::exchange(presenter_.revealInstant, false);
            reveal_.reveal(instant, [this] { return freezeColors(); });
            hold(revealBar_, reveal_.hold());
        } else {
            reveal_.conceal();
        }
        refresh();
    }));
    presenterWatch_.push_back(
        presenter_.memoryGeneration.changes().sink([this](const int&) { memoryGenerationChanged(); }));
}

void UnifiedOverlayView::setDarkScheme(bool dark) {
    darkScheme_ = dark;
    for (auto* bar : {&liveBar_, revealBar_ ? &*revealBar_ : nullptr, memoryBar_ ? &*memoryBar_ : nullptr})
        if (bar) bar->setDarkScheme(dark);
}

double UnifiedOverlayView::bandHeight() const {
    const double h = metrics_.bandHeight ? metrics_.bandHeight() : 0.0;
    return std::isfinite(h) ? std::max(h, kMinimumBandHeight) : kMinimumBandHeight;
}

double UnifiedOverlayView::topRadius(ScreenCorner corner) const {
    if (metrics_.earRadius) return metrics_.earRadius(corner);
    const double r = settings_.keepOverlayAlwaysOn() ? settings_.alwaysOnCornerRadius()
                                                     : settings_.corners().effectiveRadius(corner);
    return std::isfinite(r) ? std::max(r, 0.0) : 0.0;
}

bool UnifiedOverlayView::isEmptyDesktop() const {
    return settings_.keepOverlayAlwaysOn() && !feed_.isFilledWindowActive();
}

bool UnifiedOverlayView::recolorWindowActive() const {
    return loop_.uptime() < feed_.recolorSnapUntil();
}

double UnifiedOverlayView::liveOpacity() const {
    return recolorWindowActive() && presenter_.memoryHold ? 0.0 : 1.0;
}

double UnifiedOverlayView::revealMaskProgress() const {
    return settings_.keepOverlayAlwaysOn() ? 1.0 : reveal_.progress();
}

Color UnifiedOverlayView::liveCornerColor(ScreenCorner corner) const {
    const bool left = corner == ScreenCorner::topLeft;
    Color c;
    if (settings_.isHueDriftEffective()) {
        c = settings_.hueDrift().variant == OverlayHueDrift::Variant::uniform
                ? drift_.color(drift_.phase().value())
                : drift_.scrollColor(left ? 0.0 : 1.0);
    } else {
        c = left ? feed_.liveLeftCornerColor() : feed_.liveRightCornerColor();
    }
    return settings_.corners().color(corner, c);
}

Color UnifiedOverlayView::earFill(ScreenCorner corner, const std::optional<RevealColorHold>& hold) const {
    if (settings_.isHueDriftEffective() || !hold) return liveCornerColor(corner);
    return settings_.corners().color(corner,
                                     corner == ScreenCorner::topLeft ? hold->leftCorner : hold->rightCorner);
}

Color UnifiedOverlayView::earInk(const Color& fill, ScreenCorner corner, bool holding) const {
    std::optional<Color> candidate;
    if (isEmptyDesktop()) {
        if (settings_.emptyDesktopMode() == EmptyDesktopMode::black) candidate = Color::black();
    } else if (!(settings_.corners().opacity(corner, settings_.overlayOpacity()) < 1) &&
               !settings_.isHueDriftEffective()) {
        candidate = fill;
    }
    const std::optional<bool> tie = holding ? std::nullopt : std::optional(feed_.strokeInkIsDark());
    if (candidate)
        if (const auto luminance = opaqueLuminance(*candidate))
            return contrastShade(inkIsDark(*luminance, tie), darkScheme_, *luminance);
    return schemeInk(darkScheme_);
}

RevealColorHold UnifiedOverlayView::freezeColors() const {
    return RevealColorHold{feed_.dominantColor(), feed_.zoneColors(), feed_.liveLine(),
                           feed_.liveLeftCornerColor(), feed_.liveRightCornerColor()};
}

void UnifiedOverlayView::hold(std::optional<MenuBarOverlayView>& bar,
                              const std::optional<RevealColorHold>& colors) {
    bar.reset();
    if (!colors) return;
    bar.emplace(settings_, feed_, drift_, loop_, colors);
    bar->setDarkScheme(darkScheme_);
    bar->setOnNeedsDisplay([this] { changed(); });
}

void UnifiedOverlayView::refresh() {
    liveBar_.refresh();
    if (revealBar_) revealBar_->refresh();
    if (memoryBar_) memoryBar_->refresh();
    const auto animation =
        recolorAnimation(loop_.uptime(), feed_.recolorSnapUntil(), settings_.isHueDriftEffective());
    leftEarFill_.set(earFill(ScreenCorner::topLeft, reveal_.hold()), animation);
    rightEarFill_.set(earFill(ScreenCorner::topRight, reveal_.hold()), animation);
    emptyDesktopMix_.set(isEmptyDesktop() ? 1.0 : 0.0, kEase25);
    changed();
}

void UnifiedOverlayView::memoryGenerationChanged() {
    hold(memoryBar_, presenter_.memoryHold);
    scheduleMemoryTick();
    changed();
}

void UnifiedOverlayView::scheduleMemoryTick() {
    const int g = ++memoryTickGeneration_;
    const double delay = std::max(feed_.recolorSnapUntil() - loop_.uptime(), 0.0) + kMemoryTickSlack;
    memoryTick_ = loop_.postAfter(delay, [this, g] { memoryTick(g); });
}

void UnifiedOverlayView::memoryTick(int generation) {
    if (generation != memoryTickGeneration_) return;
    // The window's end was moved later: wait for the new end.
    if (recolorWindowActive()) {
        scheduleMemoryTick();
        return;
    }
    // The memory layer goes and the live layers come back: their colours may have moved meanwhile.
    refresh();
}

std::optional<PillGeometry> UnifiedOverlayView::pillClip() const {
    const auto& pills = settings_.pillGeometryByScreen();
    const auto found = pills.find(metrics_.screenID);
    const std::optional<PillGeometry> geometry =
        found == pills.end() ? std::nullopt : std::optional(found->second);
    if (!pillClipApplies(settings_.corners().shapeMode == ShapeMode::pill, geometry)) return std::nullopt;
    return geometry;
}

void UnifiedOverlayView::paint(QPainter& p, Size size) {
    if (!(size.width > 0) || !(size.height > 0)) return;
    const double band = bandHeight();
    const double menuBar = metrics_.menuBarHeight ? metrics_.menuBarHeight() : band;
    const auto pills = pillClip();
    p.save();
    paintRevealMasked(p, size, revealMaskProgress(), settings_.animationKind(), [&](QPainter& q) {
        // Cut to pills, the band keeps only its fill: its edge stroke outlines the whole band, and its curved
        // ends would cross a pill that reaches the screen's edge. The pills draw their own hairline.
        paintPillClipped(q, size, pills.has_value(), pills, settings_.corners(), menuBar,
                         [&](QPainter& r) { paintLayers(r, size.width, band, !pills); });
    });
    p.restore();
}

std::vector<Rect> UnifiedOverlayView::opaqueArea(Size size) const {
    if (clampRevealProgress(revealMaskProgress()) < 1 || pillClip()) return {};
    // A remembered appearance or the reveal's frozen colours are laid over the live band, never under it.
    if (liveOpacity() < 1 || !liveBar_.paintsOpaque()) return {};
    return {Rect(0, 0, size.width, std::min(bandHeight(), size.height))};
}

std::vector<Rect> UnifiedOverlayView::repeatedArea(Size size) const {
    if (clampRevealProgress(revealMaskProgress()) < 1 || pillClip() || !(liveOpacity() > 0)) return {};
    // The reveal's held colours and a remembered appearance are bands of their own, laid over the live one.
    if (revealBar_ && reveal_.hold() && reveal_.holdOpacity() > 0) return {};
    if (recolorWindowActive() && presenter_.memoryHold && memoryBar_) return {};
    return liveBar_.repeatedArea(Size{size.width, std::min(bandHeight(), size.height)});
}

std::vector<Rect> UnifiedOverlayView::paintedArea(Size size) const {
    const double band = std::min(bandHeight(), size.height);
    std::vector<Rect> area{Rect(0, 0, size.width, band)};
    const double below = size.height - band;
    for (const ScreenCorner corner : {ScreenCorner::topLeft, ScreenCorner::topRight}) {
        const double r = std::min({topRadius(corner), below, size.width});
        if (r > 0) area.push_back(Rect(corner == ScreenCorner::topLeft ? 0 : size.width - r, band, r, r));
    }
    return area;
}

void UnifiedOverlayView::paintLayers(QPainter& p, double width, double band, bool outline) {
    const double live = liveOpacity();
    if (live > 0) {
        p.save();
        p.setOpacity(p.opacity() * live);
        liveBar_.paint(p, Size{width, band}, outline);
        if (revealBar_ && reveal_.hold() && reveal_.holdOpacity() > 0) {
            p.save();
            p.setOpacity(p.opacity() * reveal_.holdOpacity());
            revealBar_->paint(p, Size{width, band}, outline);
            p.restore();
        }
        paintEar(p, ScreenCorner::topLeft, band, width, leftEarFill_.value(), reveal_.hold());
        paintEar(p, ScreenCorner::topRight, band, width, rightEarFill_.value(), reveal_.hold());
        p.restore();
    }
    if (recolorWindowActive() && presenter_.memoryHold && memoryBar_) {
        const auto& hold = presenter_.memoryHold;
        memoryBar_->paint(p, Size{width, band}, outline);
        paintEar(p, ScreenCorner::topLeft, band, width, earFill(ScreenCorner::topLeft, hold), hold);
        paintEar(p, ScreenCorner::topRight, band, width, earFill(ScreenCorner::topRight, hold), hold);
    }
}

void UnifiedOverlayView::paintEar(QPainter& p, ScreenCorner corner, double band, double width,
                                  const Color& fill, const std::optional<RevealColorHold>& hold) {
    const double r = topRadius(corner);
    if (!(r > 0)) return;
    const bool left = corner == ScreenCorner::topLeft;
    const QRectF frame(left ? 0.0 : width - r, band, r, r);
    const double opacity =
        std::clamp(settings_.corners().opacity(corner, settings_.overlayOpacity()), 0.0, 1.0);
    const double empty = emptyDesktopMix_.value();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double fillOpacity = opacity * (1 - empty);
    const QPointF origin = p.deviceTransform().map(frame.topLeft());
    if (empty <= 0 && mapsToWholePixels(p) &&
        origin == QPointF(std::round(origin.x()), std::round(origin.y()))) {
        // The ear repaints with every change of the live colours: clipping to its curve rasterises the curve
        // each time, where blending a picture of the ear in its colour (made once per shape and colour) lays
        // down the same pixels.
        if (fillOpacity > 0) {
            const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
            const QColor colour = toQColor(fill);
            thread_local PathCache<std::tuple<ScreenCorner, double, double>, QImage> coverages;
            thread_local PathCache<std::tuple<ScreenCorner, double, double, QRgb>, QImage> ears;
            const QImage ear = ears.get({corner, r, dpr, colour.rgba()}, [&] {
                const QImage coverage = coverages.get({corner, r, dpr}, [&] {
                    return coveragePicture(cornerNotchPath(corner, QRectF(0, 0, r, r), r), Size{r, r}, dpr);
                });
                return tintedPicture(coverage, colour);
            });
            p.save();
            p.setOpacity(p.opacity() * fillOpacity);
            p.drawImage(frame.topLeft(), ear);
            p.restore();
        }
    } else {
        p.save();
        p.setClipPath(cornerNotchPath(corner, frame, r), Qt::IntersectClip);
        if (fillOpacity > 0) {
            p.save();
            p.setOpacity(p.opacity() * fillOpacity);
            p.fillRect(frame, toQColor(fill));
            p.restore();
        }
        if (empty > 0) {
            p.save();
            p.setOpacity(p.opacity() * empty);
            paintEmptyDesktopBackdrop(p, frame, settings_.emptyDesktopMode(), feed_.blurredBackdropImage());
            p.restore();
        }
        p.restore();
    }
    if (settings_.strokeEnabled()) {
        p.setOpacity(p.opacity() * opacity);
        paintFadingSideLine(p, left ? frame.left() + 0.5 : frame.right() - 0.5, frame.top(), frame.bottom(),
                            earInk(fill, corner, hold.has_value()), settings_.strokeFadeLength());
    }
    p.restore();
}

}  // namespace velaro
