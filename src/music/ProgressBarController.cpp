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
#include "platform/DesktopAppearance.h"
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
// A tick may run this much early or late to share its wake-up with a step of the fill due about then: the
// fill's speed does not depend on when the ticks come, only on the track.
constexpr double kTickShare = 0.05;
// The fill's end steps from pixel to pixel at most at the display's rate, each step a little after the end
// reached its pixel (timers keep whole milliseconds).
constexpr double kStepInterval = 1.0 / 60;
constexpr double kStepSlack = 0.001;
// Colours that moved less than half a step of 8-bit colour round to the same.
constexpr double kUnseenColorChange = 0.5 / 255;

double finiteOr(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

// What the window shows, rounded to what can be seen: the fill's end to whole device pixels (it steps from
// one to the next), the line to a quarter of one, colours to a 255th.
ProgressBarLook visiblePart(ProgressBarLook look, double scale) {
    auto round = [](double v, double steps) { return std::round(finiteOr(v, 0) * steps) / steps; };
    look.fillWidth = round(look.fillWidth, scale);
    look.line = round(look.line, 4 * scale);
    look.armedMix = round(look.armedMix, 255);
    for (Color& c : look.fillStops)
        c = {round(c.red, 255), round(c.green, 255), round(c.blue, 255), round(c.alpha, 255)};
    return look;
}

}  // namespace

ProgressBarServices ProgressBarServices::make(MainLoop& loop, OverlayWindowHost& host, const Screens& screens,
                                              PointerSource& pointer, Hotkeys& hotkeys,
                                              MusicProgressEngine& engine, ScreenSampler& sampler,
                                              const DesktopAppearance* appearance) {
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
        .menuBar = MenuBarInkSources::make(sampler, appearance),
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
      lightness_(services_.menuBar),
      fillStops_(services_.loop, std::vector<Color>{}),
      line_(services_.loop, kProgressLinePixels),
      armedMix_(services_.loop, 0.0),
      activeModifier_(settings.progressModifier()),
      lastTrackSkip_(-std::numeric_limits<double>::infinity()) {
    lastTick_ = pauseAnchor_ = services_.loop.uptime();
    for (auto* value : {&line_, &armedMix_}) value->setOnChange([this] { lookChanged(); });
    fillStops_.setOnChange([this] { lookChanged(); });
    buildWindow();
    subscriptions_.push_back(services_.screens.parametersChanged().sink([this](int) { screensChanged(); }));
    // The desktop turning light or dark: the ink eases over at the next ticks, not at the next visibility
    // check.
    if (const DesktopAppearance* appearance = lightness_.appearance())
        subscriptions_.push_back(
            appearance->colorScheme().changes().receiveOn(services_.loop).sink([this](ColorSchemePreference) {
                updateBackdropLight();
            }));
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
    wake_.cancel();
    tickDue_.reset();
    stepDue_.reset();
    cancelPendingSeek();
    flashEnd_.cancel();
    unregisterHotKeys();
    if (hotKeyHandler_) services_.hotkeys.removeHandler(std::exchange(hotKeyHandler_, 0));
    if (services_.setOnChange) services_.setOnChange({});
    subscriptions_.clear();
    if (window_) window_->orderOut();
    window_.reset();
    // Ends their frame timers.
    fill_ = {.from = fill_.to, .to = fill_.to};
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
    options.level = OverlayWindowLevel::belowPanel;
    options.alpha = 0;
    options.content = [this](QPainter& painter, Size size) {
        // What was last marked for display, up to date: the host paints it whole when its translucency
        // changes, as its windows are made anew.
        if (!painted_ || painted_->backdrop != services_.host.supportsTranslucency())
            painted_ = visiblePart(look(), backingScale_);
        paintProgressBar(painter, size, *painted_);
        changed_.reset();
    };
    window_ = services_.host.makeWindow(options);
    window_->setPaintedArea([this](Size) { return changedArea(); });
    window_->setMouseHandler([this](const OverlayMouseEvent& event) { mouse(event); });
    fill_ = {};
    stepDue_.reset();
    changed_.reset();
    wholeFillWidth_ = 0;
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
    look.fillWidth = fill_.at(services_.loop.uptime());
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
    noteChange(now);
    painted_ = now;
    window_->setNeedsDisplay();
}

void ProgressBarController::noteChange(const ProgressBarLook& now) {
    const Size size = window_->frame().size;
    Rect part(0, 0, size.width, size.height);
    const ProgressBarLook* before = painted_ ? &*painted_ : nullptr;
    if (before && before->line == now.line && before->armedMix == now.armedMix &&
        before->trackInkDark == now.trackInkDark && before->backdrop == now.backdrop) {
        // The line keeps its look: only the fill's columns change, between its old end and its new one.
        // Its gradient is stretched over its width, so as the fill grows or shrinks the rest of it shifts
        // too; once that would show, or the colours changed, the whole fill is painted again.
        const double shorter = std::min(before->fillWidth, now.fillWidth);
        const double longer = std::max(before->fillWidth, now.fillWidth);
        const bool whole =
            before->fillStops != now.fillStops ||
            gradientStretchChange(now.fillStops, wholeFillWidth_, now.fillWidth) > kUnseenColorChange;
        const double left = whole ? 0 : shorter;
        part = Rect(left, 0, longer - left, now.line);
    }
    if (part.minX() <= 0) wholeFillWidth_ = now.fillWidth;
    changed_ = changed_ ? changed_->united(part) : part;
}

std::vector<Rect> ProgressBarController::changedArea() const {
    if (!changed_ || changed_->isEmpty()) return {};
    return {*changed_};
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
        if (!tickDue_) tickDue_ = services_.loop.uptime() + kTickInterval;
    } else {
        tickDue_.reset();
    }
    planWake();
}

void ProgressBarController::planWake() {
    std::optional<double> at;
    if (!stopped_) {
        constexpr double never = std::numeric_limits<double>::infinity();
        if (tickDue_ && stepDue_ && std::abs(*tickDue_ - *stepDue_) <= kTickShare)
            at = *stepDue_;
        else if (tickDue_ || stepDue_)
            at = std::min(tickDue_.value_or(never), stepDue_.value_or(never));
    }
    if (!at) {
        wake_.cancel();
        return;
    }
    if (wake_.isActive() && wakeAt_ == *at) return;
    wakeAt_ = *at;
    wake_ = services_.loop.postAfter(std::max(0.0, *at - services_.loop.uptime()), [this] { wake(); });
}

void ProgressBarController::wake() {
    wake_ = Cancellable();
    if (stopped_) return;
    const double now = services_.loop.uptime();
    const bool step = stepDue_ && *stepDue_ <= now + kStepSlack;
    if (tickDue_ && *tickDue_ <= now + kTickShare) {
        // The ticks keep their pace: one run early or late does not move the next.
        do {
            *tickDue_ += kTickInterval;
        } while (*tickDue_ <= now);
        tick();
    }
    if (step) stepFill();
    planWake();
}

void ProgressBarController::layoutFill(bool scrubbing, double fraction) {
    if (!window_) return;
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const double duration = scrubbing ? kScrubAnimation : kFillAnimation;
    const double now = services_.loop.uptime();
    const double target = f * window_->frame().width();
    if (target != fill_.to) fill_ = {.from = fill_.at(now), .to = target, .start = now, .duration = duration};
    // The rainbow's steady turn is a motion of its own: the stops follow it tick by tick. A change of mode,
    // colour, opacity or ink glides with the fill.
    ProgressColorInput colors{
        // A mode the line does not know (a profile may hold any string) paints the solid colour.
        .mode =
            fromString<ProgressColorMode>(settings_.progressColorMode()).value_or(ProgressColorMode::solid),
        .opacity = settings_.progressOpacity(),
        .solid = settings_.progressSolidColor(),
        .huePhase = 0,
        .colorMix = colorMix_,
    };
    const bool glide = fillColors_ && *fillColors_ != colors;
    fillColors_ = colors;
    colors.huePhase = huePhase_;
    fillStops_.set(progressGradient(colors),
                   glide ? std::optional<OverlayAnimation>({duration, TimingCurve::linear}) : std::nullopt);
    stepFill();
}

void ProgressBarController::stepFill() {
    // Shows the pixel the fill's end is on, and wakes when it reaches the next one.
    stepDue_.reset();
    const double now = services_.loop.uptime();
    const double before = painted_ ? painted_->fillWidth : -1;
    lookChanged();
    if (painted_ && painted_->fillWidth != before) lastStep_ = now;
    if (const auto next = fill_.nextPixelTime(now, backingScale_); next && window_)
        stepDue_ = std::max(*next + kStepSlack, lastStep_ + kStepInterval);
    planWake();
}

void ProgressBarController::updateBackdropLight() {
    backdropLight_ = lightness_.update();
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
