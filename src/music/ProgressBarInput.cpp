// The progress bar's input side: arming with the modifier key, click and drag seeking, double-click
// play/pause, touchpad swipes that skip tracks, and the four arrow hot keys.
#include <algorithm>
#include <cmath>

#include "base/MainLoop.h"
#include "music/ProgressBarController.h"
#include "platform/PointerSource.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr double kDragThreshold = 4;    // points
constexpr double kSwipeThreshold = 70;  // accumulated touchpad scroll
constexpr double kTrackSkipSpacing = 0.35;
constexpr double kFlash = 0.5;
constexpr double kArmAnimation = 0.15;
constexpr double kSeekSettle = 1.0;
constexpr double kKeySeekStep = 10;
constexpr double kKeySeekDebounce = 0.25;
constexpr double kFallbackDoubleClick = 0.4;
constexpr int kPlayToggle = 2, kNextTrack = 4, kPreviousTrack = 5;

// What each value of the modifier setting means; any other value counts as the last row.
struct ModifierRow {
    const char* setting;
    std::uint32_t eventFlag;
    std::uint32_t hotKeyMask;
};
constexpr ModifierRow kModifiers[] = {
    {"shift", ModifierFlag::shift, Hotkeys::shiftMask},
    {"control", ModifierFlag::control, Hotkeys::controlMask},
    {"command", ModifierFlag::command, Hotkeys::commandMask},
    {"option", ModifierFlag::option, Hotkeys::optionMask},
};

const ModifierRow& modifierRow(const std::string& setting) {
    for (const auto& row : kModifiers)
        if (setting == row.setting) return row;
    return kModifiers[std::size(kModifiers) - 1];
}

// The hot keys: back 10 s, forward 10 s, next track, previous track, on the arrow keys.
struct HotKeyRow {
    std::uint32_t id;
    std::uint32_t keyCode;
};
constexpr HotKeyRow kHotKeys[] = {{1, 123}, {2, 124}, {3, 126}, {4, 125}};

bool sameString(const std::shared_ptr<const std::string>& a, const std::shared_ptr<const std::string>& b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

}  // namespace

// MARK: arming

std::uint32_t ProgressBarController::requiredFlag() const {
    return modifierRow(settings_.progressModifier()).eventFlag;
}

bool ProgressBarController::modifierHeld() const {
    return (services_.pointer.modifierFlags() & requiredFlag()) != 0;
}

void ProgressBarController::setArmed(bool armed) {
    if (!window_) return;
    // A thick line with its track and a faint backdrop over the whole strip, or the thin line alone.
    const OverlayAnimation animation{kArmAnimation, TimingCurve::easeInEaseOut};
    line_.set(armed ? kProgressArmedLinePixels : kProgressLinePixels, animation);
    armedMix_.set(armed ? 1.0 : 0.0, animation);
}

void ProgressBarController::applyArmed(bool armed) {
    if (!window_) return;
    seekArmed_ = armed;
    window_->setTakesMouse(armed);
    setArmed(armed);
    if (armed) {
        // Above the panel, so that the clicks reach the bar.
        window_->setLevel(OverlayWindowLevel::panel);
        return;
    }
    window_->setLevel(OverlayWindowLevel::belowPanel);
    if (!overviewActive_) window_->orderFrontRegardless();
}

void ProgressBarController::disarm() {
    applyArmed(false);
}

void ProgressBarController::updateArmedState(bool isValid, double duration) {
    if (scrubbing_ || !window_) return;
    if (targetVisible_ && modifierHeld()) {
        const bool armed = isValid && duration > 0;
        if (armed != seekArmed_) applyArmed(armed);
    } else if (seekArmed_) {
        disarm();
    }
}

// MARK: the mouse

void ProgressBarController::mouse(const OverlayMouseEvent& event) {
    if (stopped_) return;
    switch (event.kind) {
        case OverlayMouseEvent::Kind::down:
            mouseDown(event);
            break;
        case OverlayMouseEvent::Kind::dragged:
            mouseDragged(event);
            break;
        case OverlayMouseEvent::Kind::up:
            mouseUp(event);
            break;
        case OverlayMouseEvent::Kind::scroll:
            scrollWheel(event);
            break;
    }
}

double ProgressBarController::fractionAt(double x) const {
    const double width = window_ ? window_->frame().width() : 0;
    const double f = width > 1 ? x / width : x;
    return std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
}

void ProgressBarController::mouseDown(const OverlayMouseEvent& event) {
    if (!window_ || event.button == OverlayMouseEvent::Button::other) return;
    // A right button counts only for "control": that is how a control-click arrives elsewhere.
    if (event.button == OverlayMouseEvent::Button::right &&
        std::string(modifierRow(settings_.progressModifier()).setting) != "control")
        return;
    const std::uint32_t flag = requiredFlag();
    if (!(event.modifiers & flag) && !(services_.pointer.modifierFlags() & flag)) {
        disarm();
        return;
    }
    const ProgressSnapshot snap = snapshot();
    if (!snap.isValid || !(snap.duration > 0)) return;
    cancelPendingSeek();
    scrubbing_ = true;
    didDrag_ = false;
    mouseDownX_ = event.location.x;
    scrubFraction_ = fractionAt(event.location.x);
    layoutFill(true, scrubFraction_);
}

void ProgressBarController::mouseDragged(const OverlayMouseEvent& event) {
    if (!scrubbing_) return;
    if (std::abs(event.location.x - mouseDownX_) > kDragThreshold) didDrag_ = true;
    if (!didDrag_) return;
    scrubFraction_ = fractionAt(event.location.x);
    layoutFill(true, scrubFraction_);
}

void ProgressBarController::mouseUp(const OverlayMouseEvent& event) {
    if (!scrubbing_ || !window_) return;
    scrubbing_ = false;
    scrubFraction_ = fractionAt(event.location.x);
    const ProgressSnapshot snap = snapshot();
    const bool canSeek = snap.isValid && snap.duration > 0;
    const double target = snap.duration * scrubFraction_;

    if (didDrag_) {
        cancelPendingSeek();
        if (canSeek) services_.seek(target, kSeekSettle);
    } else if (event.clickCount == 1) {
        // A click seeks once the double-click interval has passed, so that a second click can toggle play
        // instead; the bar shows where it will go meanwhile.
        cancelPendingSeek();
        if (canSeek) {
            pendingSeekFraction_ = scrubFraction_;
            double interval =
                services_.doubleClickInterval ? services_.doubleClickInterval() : kFallbackDoubleClick;
            if (!std::isfinite(interval) || interval < 0) interval = kFallbackDoubleClick;
            pendingSeek_ = services_.loop.postAfter(
                interval, lifetime_.guard([this, player = snap.appId, duration = snap.duration, target] {
                    if (stopped_) return;
                    pendingSeek_ = Cancellable();
                    pendingSeekFraction_.reset();
                    // Dropped when the track changed meanwhile: another player or another length.
                    const ProgressSnapshot now = snapshot();
                    if (now.isValid && sameString(now.appId, player) && now.duration == duration)
                        services_.seek(target, kSeekSettle);
                }));
        }
    } else if (event.clickCount == 2) {
        cancelPendingSeek();
        services_.sendCommand(kPlayToggle, "play-toggle");
        flash();
    }

    // The modifier may have been let go during the press.
    if (!(event.modifiers & requiredFlag()))
        disarm();
    else
        applyArmed(targetVisible_ && canSeek);
    updateTicking(snap);
}

void ProgressBarController::cancelPendingSeek() {
    pendingSeek_.cancel();
    pendingSeekFraction_.reset();
}

// MARK: feedback and track skips

void ProgressBarController::flash() {
    // The armed look for a moment: feedback for keyboard and gesture commands.
    setArmed(true);
    flashEnd_ = services_.loop.postAfter(kFlash, lifetime_.guard([this] {
        if (stopped_) return;
        if (!seekArmed_ && !scrubbing_) setArmed(false);
    }));
}

void ProgressBarController::skipTrack(bool next) {
    const double now = services_.loop.uptime();
    if (now - lastTrackSkip_ < kTrackSkipSpacing) return;
    lastTrackSkip_ = now;
    cancelPendingSeek();
    services_.sendCommand(next ? kNextTrack : kPreviousTrack, "track-skip");
    flash();
}

// MARK: swipes

void ProgressBarController::clearSwipe() {
    swipeActive_ = false;
    swipeAccum_ = 0;
    swipeLatched_ = false;
}

void ProgressBarController::scrollWheel(const OverlayMouseEvent& event) {
    // Mouse wheels and a swipe's coasting never skip.
    if (scrubbing_ || !event.hasPreciseDeltas || event.momentumPhase != ScrollPhase::none) return;
    switch (event.phase) {
        case ScrollPhase::began:
            swipeActive_ = true;
            swipeAccum_ = 0;
            swipeLatched_ = false;
            break;
        case ScrollPhase::changed:
            if (!swipeActive_ || swipeLatched_ || !std::isfinite(event.deltaX)) return;
            swipeAccum_ += event.directionInvertedFromDevice ? event.deltaX : -event.deltaX;
            // One skip per gesture.
            if (std::abs(swipeAccum_) > kSwipeThreshold) {
                swipeLatched_ = true;
                skipTrack(swipeAccum_ > 0);
            }
            break;
        case ScrollPhase::ended:
        case ScrollPhase::cancelled:
            clearSwipe();
            break;
        case ScrollPhase::none:
            break;
    }
}

// MARK: hot keys

void ProgressBarController::updateHotKeys(bool canSeek) {
    const bool want = settings_.progressKeySeekEnabled() && canSeek && !settings_.shortcutRecordingActive();
    bool modifierChanged = false;
    if (settings_.progressModifier() != activeModifier_) {
        activeModifier_ = settings_.progressModifier();
        modifierChanged = true;
    }
    if (!((want && modifierChanged) || want != hotKeysRegistered_)) return;
    if (hotKeysRegistered_ || !hotKeyRefs_.empty()) unregisterHotKeys();
    if (want) registerHotKeys();
}

void ProgressBarController::registerHotKeys() {
    Hotkeys& hotkeys = services_.hotkeys;
    if (!hotKeyHandler_)
        hotKeyHandler_ = hotkeys.installHandler([this, token = lifetime_.token()](const HotKeyID& id) {
            if (!token.aliveHere() || stopped_) return HotKeyStatus::notHandled;
            return handleHotKey(id);
        });
    const std::uint32_t mask = modifierRow(activeModifier_).hotKeyMask;
    for (const auto& key : kHotKeys) {
        // A combination another program holds is left out; the others still work.
        const auto registration = hotkeys.registerHotKey(key.keyCode, mask, {hotKeySignature, key.id});
        if (registration) hotKeyRefs_.push_back(registration.ref);
    }
    hotKeysRegistered_ = true;
}

void ProgressBarController::unregisterHotKeys() {
    for (auto ref : hotKeyRefs_) services_.hotkeys.unregisterHotKey(ref);
    hotKeyRefs_.clear();
    hotKeysRegistered_ = false;
}

HotKeyStatus ProgressBarController::handleHotKey(const HotKeyID& id) {
    // The app's other hot keys carry their own signature.
    if (id.signature != hotKeySignature) return HotKeyStatus::notHandled;
    switch (id.id) {
        case 1:
        case 2:
            cancelPendingSeek();
            services_.keySeek(id.id == 1 ? -kKeySeekStep : kKeySeekStep, kSeekSettle, kKeySeekDebounce);
            flash();
            break;
        case 3:
        case 4:
            skipTrack(id.id == 3);
            break;
        default:
            break;
    }
    return HotKeyStatus::handled;
}

}  // namespace velaro
