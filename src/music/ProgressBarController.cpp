// The progress bar's display side: the window, the tick, the fill and its colours, visibility and fades,
// auto-hide, the desktop overview and staying in front of the visualizer.
#include "music/ProgressBarController.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/MainLoop.h"
#include "music/MenuBarBackdrop.h"
#include "music/MusicProgressEngine.h"
#include "music/VizBarWindow.h"
#include "platform/PointerSource.h"
#include "platform/Screens.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr double kTickInterval = 0.1;
constexpr double kMaxTickStep = 0.5;
constexpr double kFillAnimation = 0.3;
constexpr double kScrubAnimation = 0.08;
constexpr double kColorMixRate = 4;  // a full swing of the ink takes a quarter of a second
constexpr double kFadeIn = 0.3;
constexpr double kFadeOut = 0.5;
constexpr double kFastFadeOut = 0.2;  // with the panel gone
constexpr double kHoverStrip = 24;    // points at the top of the screen that keep a paused bar shown
constexpr double kLightAbove = 0.6, kDarkBelow = 0.4;

double finiteOr(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

// What the window shows, rounded to what can be seen: a quarter of a device pixel, a 255th of a colour.
ProgressBarLook visiblePart(ProgressBarLook look, double scale) {
    auto round = [](double v, double steps) { return std::round(finiteOr(v, 0) * steps) / steps; };
    look.fillWidth = round(look.fillWidth, 4 * scale);
    look.line = round(look.line, 4 * scale);
    look.armedMix = round(look.armedMix, 255);
    for (Color& c : look.fillStops)
        c = {round(c.red, 255), round(c.green, 255), round(c.blue, 255), round(c.alpha, 255)};
    return look;
}

}  // namespace

ProgressBarServices ProgressBarServices::make(MainLoop& loop, OverlayWindowHost& host, const Screens& screens,
                                              PointerSource& pointer, Hotkeys& hotkeys,
                                              MusicProgressEngine& engine, ScreenSampler& sampler) {
    return {
        .loop = loop,
        .host = host,
        .screens = screens,
        .pointer = pointer,
        .hotkeys = hotkeys,
        .snapshot = [&engine] { return engine.snapshot(); },
        .setOnChange =
            [&engine](std::function<void(const ProgressSnapshot&)> onChange) {
                engine.setOnChange(std::move(onChange));
            },
        .seek = [&engine](double seconds, double settle) { engine.seek(seconds, settle); },
        .keySeek = [&engine](double step, double settle,
                             double debounce) { engine.keySeek(step, settle, debounce); },
        .sendCommand = [&engine](int number, const std::string& label) { engine.sendCommand(number, label); },
        .filledWindowColor = [&sampler] { return menuBarBackdropColor(sampler); },
        .doubleClickInterval =
            [] {
                const auto* hints = QGuiApplication::instance() ? QGuiApplication::styleHints() : nullptr;
                return hints ? hints->mouseDoubleClickInterval() / 1000.0 : 0.4;
            },
    };
}

ProgressBarController::ProgressBarController(ProgressBarServices services, OverlaySettings& settings)
    : services_(std::move(services)),
      settings_(settings),
      fillWidth_(services_.loop, 0.0),
      fillStops_(services_.loop, std::vector<Color>{}),
      line_(services_.loop, kProgressLinePixels),
      armedMix_(services_.loop, 0.0),
      activeModifier_(settings.progressModifier()),
      lastTrackSkip_(-std::numeric_limits<double>::infinity()) {
    lastTick_ = pauseAnchor_ = services_.loop.uptime();
    for (auto* value : {&fillWidth_, &line_, &armedMix_}) value->setOnChange([this] { lookChanged(); });
    fillStops_.setOnChange([this] { lookChanged(); });
    buildWindow();
    subscriptions_.push_back(services_.screens.parametersChanged().sink([this](int) { screensChanged(); }));
    if (services_.setOnChange)
        services_.setOnChange(lifetime_.guard([this](const ProgressSnapshot&) {
            if (!stopped_) engineChanged();
        }));
    // The engine may know a track already: look at it once everything is in place.
    services_.loop.post(lifetime_.guard([this] {
        if (!stopped_) engineChanged();
    }));
}

ProgressBarController::~ProgressBarController() {
    lifetime_.end();
    stop();
}

void ProgressBarController::stop() {
    if (stopped_) return;
    stopped_ = true;
    tickTimer_.cancel();
    cancelPendingSeek();
    flashEnd_.cancel();
    unregisterHotKeys();
    if (hotKeyHandler_) services_.hotkeys.removeHandler(std::exchange(hotKeyHandler_, 0));
    if (services_.setOnChange) services_.setOnChange({});
    subscriptions_.clear();
    if (window_) window_->orderOut();
    window_.reset();
    // Ends their frame timers.
    fillWidth_.snapTo(fillWidth_.target());
    fillStops_.snapTo(fillStops_.target());
    line_.snapTo(line_.target());
    armedMix_.snapTo(armedMix_.target());
}

// MARK: the window

void ProgressBarController::buildWindow() {
    if (window_) window_->orderOut();
    window_.reset();
    ++windowGeneration_;
    painted_.reset();
    seekArmed_ = scrubbing_ = false;
    targetVisible_ = false;
    const auto screen = services_.screens.mainScreen();
    if (!screen) {
        builtFor_.reset();
        return;
    }
    builtFor_ = *screen;
    backingScale_ =
        screen->backingScale > 0 && std::isfinite(screen->backingScale) ? screen->backingScale : 1;
    OverlayWindowOptions options;
    options.name = kProgressBarWindowName;
    options.frame = {screen->frame.minX(), screen->frame.maxY() - kProgressBarHeight, screen->frame.width(),
                     kProgressBarHeight};
    options.level = OverlayWindowLevel::mainMenu;
    options.alpha = 0;
    options.content = [this](QPainter& painter, Size size) { paintProgressBar(painter, size, look()); };
    window_ = services_.host.makeWindow(options);
    window_->setMouseHandler([this](const OverlayMouseEvent& event) { mouse(event); });
    fillWidth_.snapTo(0);
    line_.snapTo(kProgressLinePixels);
    armedMix_.snapTo(0);
}

void ProgressBarController::screensChanged() {
    if (stopped_) return;
    const auto screen = services_.screens.mainScreen();
    // The panel alone changed (its strut came or went): the window stays and the visibility check fades.
    const bool sameScreen = screen && builtFor_ && screen->frame == builtFor_->frame &&
                            screen->backingScale == builtFor_->backingScale;
    if (!(sameScreen && window_)) buildWindow();
    refreshVisibility();
}

ProgressBarLook ProgressBarController::look() const {
    ProgressBarLook look;
    look.fillWidth = fillWidth_.value();
    look.fillStops = fillStops_.value();
    look.line = line_.value() / backingScale_;
    look.armedMix = armedMix_.value();
    look.trackInkDark = backdropLight_;
    // Without a compositor the faint backdrop would be an opaque black strip; the input region catches
    // the clicks there.
    look.backdrop = services_.host.supportsTranslucency();
    return look;
}

void ProgressBarController::lookChanged() {
    if (!window_) return;
    // The animations step at the display's rate; repaint only when that shows.
    const ProgressBarLook now = visiblePart(look(), backingScale_);
    if (painted_ && *painted_ == now) return;
    painted_ = now;
    window_->setNeedsDisplay();
}

// MARK: the tick

ProgressSnapshot ProgressBarController::snapshot() const {
    return services_.snapshot ? services_.snapshot() : ProgressSnapshot{};
}

void ProgressBarController::engineChanged() {
    tick();
    refreshVisibility();
}

void ProgressBarController::tick() {
    if (stopped_) return;
    const double now = services_.loop.uptime();
    const double dt = std::clamp(now - lastTick_, 0.0, kMaxTickStep);
    lastTick_ = now;
    if (++tickCount_ % 3 == 0) refreshVisibility();
    const ProgressSnapshot snap = snapshot();
    updateHotKeys(snap.isValid && snap.duration > 0);
    applyAutoHide(snap.isPlaying, snap.isValid, snap.duration);
    if (window_ && (window_->alphaValue() > 0 || targetVisible_)) {
        updateArmedState(snap.isValid, snap.duration);
        if (snap.isValid && snap.progress01) {
            if (snap.isPlaying) {
                huePhase_ += finiteOr(settings_.progressHueSpeed(), 0) * dt;
                if (huePhase_ >= 360) huePhase_ -= 360;
            }
            const double target = backdropLight_ ? 1 : 0;
            const double step = dt * kColorMixRate;
            colorMix_ =
                colorMix_ < target ? std::min(colorMix_ + step, target) : std::max(colorMix_ - step, target);
            const double fraction =
                scrubbing_ ? scrubFraction_ : pendingSeekFraction_.value_or(*snap.progress01);
            layoutFill(scrubbing_, fraction);
        }
    }
    updateTicking(snap);
}

void ProgressBarController::updateTicking(const ProgressSnapshot& snap) {
    // Without a track, a bar on screen or input in progress there is nothing to poll: the engine's change
    // listener, the screens and the overview wake the controller.
    const bool busy = snap.isValid || targetVisible_ || (window_ && window_->alphaValue() > 0) ||
                      seekArmed_ || scrubbing_ || hotKeysRegistered_ || pendingSeek_.isActive();
    if (busy && !stopped_) {
        if (!tickTimer_.isActive()) tickTimer_ = services_.loop.every(kTickInterval, [this] { tick(); });
    } else {
        tickTimer_.cancel();
    }
}

void ProgressBarController::layoutFill(bool scrubbing, double fraction) {
    if (!window_) return;
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const OverlayAnimation animation{scrubbing ? kScrubAnimation : kFillAnimation, TimingCurve::linear};
    fillWidth_.set(f * window_->frame().width(), animation);
    fillStops_.set(gradientColors(), animation);
}

std::vector<Color> ProgressBarController::gradientColors() const {
    return progressGradient({
        .mode = settings_.progressColorMode(),
        .opacity = settings_.progressOpacity(),
        .solid = settings_.progressSolidColor(),
        .huePhase = huePhase_,
        .colorMix = colorMix_,
    });
}

void ProgressBarController::updateBackdropLight() {
    const std::optional<Color> filled =
        services_.filledWindowColor ? services_.filledWindowColor() : std::nullopt;
    if (!filled) {
        // No desktop colour scheme answers here: neither a light nor a dark appearance matches.
        backdropLight_ = false;
        return;
    }
    const double l = relativeLuminance(*filled);
    if (l > kLightAbove) backdropLight_ = true;
    if (l < kDarkBelow) backdropLight_ = false;
}

// MARK: visibility

void ProgressBarController::refreshVisibility() {
    if (stopped_) return;
    if (const auto screen = services_.screens.mainScreen())
        menuBarVisible_ = screen->visibleFrame.maxY() < screen->frame.maxY() - 1;
    const ProgressSnapshot snap = snapshot();
    const bool showable = snap.isValid && menuBarVisible_ && !pausedHidden_;
    const bool desired = showable && !overviewActive_;
    if (desired != targetVisible_) {
        targetVisible_ = desired;
        animateVisibility(desired, !showable && !menuBarVisible_, overviewActive_);
    }
    keepOnTop();
    updateBackdropLight();
    updateTicking(snap);
}

void ProgressBarController::animateVisibility(bool show, bool fast, bool instant) {
    if (!window_) return;
    OverlayWindow* window = window_.get();
    if (show) {
        window->orderFrontRegardless();
        services_.host.animate({kFadeIn, TimingCurve::easeInEaseOut}, {{window, 1.0, std::nullopt}});
        return;
    }
    if (instant) {
        window->setAlphaValue(0);
        window->orderOut();
        return;
    }
    services_.host.animate({fast ? kFastFadeOut : kFadeOut, TimingCurve::easeInEaseOut},
                           {{window, 0.0, std::nullopt}},
                           lifetime_.guard([this, generation = windowGeneration_] {
                               if (stopped_ || generation != windowGeneration_ || !window_) return;
                               if (!targetVisible_) window_->orderOut();
                           }));
}

void ProgressBarController::keepOnTop() {
    if (seekArmed_ || !window_ || !targetVisible_ || window_->alphaValue() <= 0) return;
    // In front of the visualizer and of the app's other windows of its level.
    for (OverlayWindow* other : services_.host.orderedWindows()) {
        if (other == window_.get()) return;
        if (other->isVisible() &&
            (other->name() == kVizBarWindowName || other->level() == window_->level())) {
            window_->orderFrontRegardless();
            return;
        }
    }
}

void ProgressBarController::setOverviewActive(bool active) {
    if (active == overviewActive_ || stopped_) return;
    overviewActive_ = active;
    if (active && window_) {
        scrubbing_ = false;
        clearSwipe();
        cancelPendingSeek();
        if (seekArmed_) disarm();
        if (window_->alphaValue() > 0 || targetVisible_) {
            targetVisible_ = false;
            window_->setAlphaValue(0);
            window_->orderOut();
        }
    }
    // Shows the bar again, with a fade, when the overview ends.
    refreshVisibility();
}

// MARK: auto-hide

void ProgressBarController::applyAutoHide(bool isPlaying, bool isValid, double duration) {
    const double now = services_.loop.uptime();
    if ((wasPlayingTick_ && !isPlaying) || (!lastValidTick_ && isValid)) pauseAnchor_ = now;
    wasPlayingTick_ = isPlaying;
    lastValidTick_ = isValid;
    const double previousDuration = lastDurationTick_;
    lastDurationTick_ = duration;
    if (!settings_.progressAutoHide() || !isValid) {
        pausedHidden_ = false;
        return;
    }
    if (isPlaying) {
        if (pausedHidden_) {
            pausedHidden_ = false;
            pauseAnchor_ = now;
            refreshVisibility();
        }
        return;
    }
    const bool hovering = seekArmed_ || scrubbing_ || modifierHeld() || pointerInTopStrip();
    if (!pausedHidden_) {
        if (hovering) {
            pauseAnchor_ = now;
        } else if (now - pauseAnchor_ >= finiteOr(settings_.progressAutoHideSeconds(), 5.0)) {
            pausedHidden_ = true;
            refreshVisibility();
        }
        return;
    }
    // A new track (another length) brings a hidden bar back, as pointing at it does.
    if (hovering || duration != previousDuration) {
        pausedHidden_ = false;
        pauseAnchor_ = now;
        refreshVisibility();
    }
}

bool ProgressBarController::pointerInTopStrip() const {
    const auto screen = services_.screens.mainScreen();
    const auto p = services_.pointer.location();
    if (!screen || !p) return false;
    const Rect& f = screen->frame;
    return f.maxY() - kHoverStrip <= p->y && p->y <= f.maxY() && f.minX() <= p->x && p->x <= f.maxX();
}

}  // namespace velaro
