// The light beam's geometry, drawing, opening animation and window.
#include "overlay/LightBeam.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

#include "overlay/BarFillStyles.h"
#include "platform/Screens.h"
#include "settings/OverlaySettings.h"

namespace velaro {

BeamSettings BeamSettings::from(const OverlaySettings& s) {
    BeamSettings b;
    b.brightness = s.beamBrightness();
    b.glowBrightness = s.beamGlowBrightness();
    b.coreBrightness = s.beamCoreBrightness();
    b.length = s.beamLength();
    b.width = s.beamWidth();
    b.height = s.beamHeight();
    b.topStreakHotspot = s.beamTopStreakHotspot();
    b.topStreakHeight = s.beamTopStreakHeight();
    b.glowEnabled = s.beamGlowEnabled();
    b.bloomEnabled = s.beamBloomEnabled();
    b.entryAnimation = s.beamEntryAnimation();
    b.coreFollowsSampled = s.beamCoreFollowsSampled();
    b.coreColor = s.beamCoreColor();
    return b;
}

BeamLayout beamLayout(const BeamSettings& s, double alpha, const Color& vivid, double x, double spread,
                      double coreThickness) {
    BeamLayout out;
    const double glowStrength = std::min((s.brightness * 0.9 + 0.3) * s.glowBrightness, 1.0);
    out.glowOpacity = alpha * glowStrength;
    const double glowWidth = (s.length * 320 + 120) * spread;
    const double glowHeight = s.height * 64 + 12;
    if (s.bloomEnabled && glowWidth > 1 && alpha > 0.01)
        out.bloom = BeamLayer{{x, 0}, {glowWidth * 1.7, glowHeight * 1.5}};
    if (s.glowEnabled && glowWidth > 1) out.glow = BeamLayer{{x, 0}, {glowWidth, glowHeight}};

    out.coreLine = BeamLayer{{x, 0}, {(s.length * 120 + 40) * spread, coreThickness}};
    out.coreOpacity = alpha * (s.brightness * 0.8 + 0.2);

    const double streakLength = (s.width * 240 + 40) * spread;
    if (streakLength > 0) {
        const double hot = std::min(s.topStreakHotspot * 80 + 4, streakLength);
        out.topStreakHotHalfWidth = std::min(hot / streakLength * 0.5, 0.49);
    }
    out.topStreakOpacity = alpha * std::min(s.coreBrightness, 1.0);
    out.topStreakColor = s.coreFollowsSampled ? vivid : s.coreColor;
    if (s.topStreakHeight > 0)
        out.topStreak = BeamLayer{{x, s.topStreakHeight / 2}, {streakLength, s.topStreakHeight}};
    return out;
}

namespace {

QRectF rectOf(const BeamLayer& layer) {
    return QRectF(layer.centre.x - layer.size.width / 2, layer.centre.y - layer.size.height / 2,
                  layer.size.width, layer.size.height);
}

// An elliptical gradient inscribed in the layer: full at the centre, clear at the rectangle's edges.
void paintEllipse(QPainter& p, const BeamLayer& layer, const Color& color, double opacity) {
    if (layer.size.width <= 0 || layer.size.height <= 0) return;
    p.save();
    p.translate(layer.centre.x, layer.centre.y);
    p.scale(layer.size.width / 2, layer.size.height / 2);
    QRadialGradient gradient(QPointF(0, 0), 1.0);
    gradient.setColorAt(0, toQColor(color.withAlpha(opacity)));
    gradient.setColorAt(1, toQColor(color.withAlpha(0)));
    p.fillRect(QRectF(-1, -1, 2, 2), gradient);
    p.restore();
}

void paintCapsule(QPainter& p, const BeamLayer& layer, const QLinearGradient& gradient) {
    const QRectF rect = rectOf(layer);
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, gradient);
}

}  // namespace

LightBeamView::LightBeamView(MainLoop& loop, const OverlaySettings& settings, BeamFeed feed,
                             double coreThickness)
    : settings_(settings),
      feed_(feed),
      coreThickness_(coreThickness),
      spread_(loop, 0.0),
      normalizedX_(loop, feed.beamNormalizedX ? feed.beamNormalizedX->value() : 0.5) {
    // The first evaluation opens the beam at once when it is already visible.
    visible_ = feed_.beamColor && feed_.beamColor->value().alpha > visibleAlpha;
    spread_.snapTo(visible_ ? 1.0 : 0.0);
    spread_.setOnChange([this] { needsDisplay(); });
    normalizedX_.setOnChange([this] { needsDisplay(); });

    if (feed_.beamColor)
        subscriptions_.push_back(
            feed_.beamColor->changes().sink([this](const Color& next) { beamColorWillChange(next); }));
    if (feed_.beamVividColor)
        subscriptions_.push_back(
            feed_.beamVividColor->changes().sink([this](const Color&) { needsDisplay(); }));
    if (feed_.beamNormalizedX)
        subscriptions_.push_back(feed_.beamNormalizedX->changes().sink([this](double x) {
            normalizedX_.set(x, OverlayAnimation{glideDuration, TimingCurve::linear});
        }));
    // Any beam setting may change the drawing.
    subscriptions_.push_back(
        settings.objectWillChange().sink([this](const std::monostate&) { needsDisplay(); }));
}

void LightBeamView::beamColorWillChange(const Color& next) {
    const bool visible = next.alpha > visibleAlpha;
    if (visible != visible_) {
        visible_ = visible;
        if (!visible) {
            spread_.snapTo(0.0);
        } else if (settings_.beamEntryAnimation()) {
            spread_.snapTo(0.0);
            spread_.set(1.0, OverlayAnimation{entryDuration, TimingCurve::easeOut});
        } else {
            spread_.snapTo(1.0);
        }
    }
    needsDisplay();
}

BeamLayout LightBeamView::layout(double width) const {
    const double alpha = feed_.beamColor ? feed_.beamColor->value().alpha : 0;
    const Color vivid = feed_.beamVividColor ? feed_.beamVividColor->value() : Color::white();
    return beamLayout(BeamSettings::from(settings_), alpha, vivid, width * normalizedX_.value(),
                      spread_.value(), coreThickness_);
}

void LightBeamView::paint(QPainter& p, Size size) const {
    paintBeam(p, layout(size.width), feed_.beamVividColor ? feed_.beamVividColor->value() : Color::white());
}

void paintBeam(QPainter& p, const BeamLayout& l, const Color& vivid) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // The layers add up: the beam only ever brightens.
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    if (l.bloom) paintEllipse(p, *l.bloom, vivid, l.glowOpacity * 0.55);
    if (l.glow) paintEllipse(p, *l.glow, vivid, l.glowOpacity);

    const QRectF core = rectOf(l.coreLine);
    QLinearGradient coreFill(core.topLeft(), core.topRight());
    coreFill.setColorAt(0, toQColor(vivid.withAlpha(0)));
    coreFill.setColorAt(0.5, toQColor(vivid.withAlpha(std::clamp(l.coreOpacity, 0.0, 1.0))));
    coreFill.setColorAt(1, toQColor(vivid.withAlpha(0)));
    paintCapsule(p, l.coreLine, coreFill);

    if (l.topStreak) {
        const QRectF streak = rectOf(*l.topStreak);
        const Color c = l.topStreakColor;
        const double o = std::clamp(l.topStreakOpacity, 0.0, 1.0);
        QLinearGradient fill(streak.topLeft(), streak.topRight());
        fill.setColorAt(0, toQColor(c.withAlpha(0)));
        fill.setColorAt(0.5 - l.topStreakHotHalfWidth, toQColor(c.withAlpha(o)));
        fill.setColorAt(0.5 + l.topStreakHotHalfWidth, toQColor(c.withAlpha(o)));
        fill.setColorAt(1, toQColor(c.withAlpha(0)));
        paintCapsule(p, *l.topStreak, fill);
    }
    p.restore();
}

Rect LightBeamWindow::frameOver(const ScreenInfo& screen) {
    return Rect{screen.frame.minX(), screen.frame.maxY() - height, screen.frame.width(), height};
}

std::unique_ptr<LightBeamWindow> LightBeamWindow::make(OverlayWindowHost& host, MainLoop& loop,
                                                       const ScreenInfo& screen, BeamFeed feed,
                                                       const OverlaySettings& settings) {
    std::unique_ptr<LightBeamWindow> beam(new LightBeamWindow());
    beam->view_ = std::make_unique<LightBeamView>(loop, settings, feed, 1.0);
    LightBeamView* view = beam->view_.get();
    beam->window_ = host.makeWindow({"overlay-beam", frameOver(screen), OverlayWindowLevel::belowPanel, 1.0,
                                     [view](QPainter& p, Size size) { view->paint(p, size); }});
    OverlayWindow* window = beam->window_.get();
    view->setOnNeedsDisplay([window] { window->setNeedsDisplay(); });
    return beam;
}

LightBeamWindow::~LightBeamWindow() {
    // The window goes first: it paints through the view.
    window_.reset();
}

}  // namespace velaro
