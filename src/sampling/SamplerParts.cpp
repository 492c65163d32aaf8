// The menu poll, the slide gate, the seam and the freezes of the sampler's refresh.
#include "sampling/SamplerParts.h"

#include <algorithm>

#include "platform/DefaultsStore.h"
#include "sampling/WindowListScans.h"
#include "settings/SettingsKeys.h"

namespace velaro {

namespace {

// Another app's menu hold ends this long after the refresh that first saw it closed.
constexpr double kMenuResumeSeconds = 0.4;
// Half a second after taking the watch over, the overlay is told once that no menu is open.
constexpr double kResyncSeconds = 0.5;
constexpr double kSeamReleaseSeconds = 0.4;
// A share of off-screen windows at or above this means the desktop is sliding to another workspace.
constexpr double kSlideRatio = 0.5;
constexpr double kSlideGateSeconds = 2.0;
// `ownedSince_` = 0 means "not owning". The loop's uptime may itself be 0 at the first refresh, which would
// read as not owning and restart the takeover at every tick; the smallest positive time stands in.
constexpr double kEarliestOwnership = 1e-9;

}  // namespace

// ---- menu poll ----

void MenuPoll::track(bool streamRunning, bool open, double now,
                     const std::function<void(double)>& activityEnded) {
    if (streamRunning) {
        ownedSince_ = 0;
        resyncDone_ = false;
        if (notifyPending_) {
            notifyPending_ = false;
            if (!menuOpen_) activityEnded(std::max(resumeAfter_ - now, 0.0));
        }
        return;
    }
    if (ownedSince_ == 0) {
        ownedSince_ = std::max(now, kEarliestOwnership);
        resyncDone_ = false;
        menuOpen_ = sawOpen_ = open;
        resumeAfter_ = 0;
        notifyPending_ = false;
        return;
    }
    if (!resyncDone_ && now - ownedSince_ >= kResyncSeconds && !open && !sawOpen_) {
        resyncDone_ = true;
        activityEnded(0);
    }
    if (open != menuOpen_) {
        menuOpen_ = open;
        if (open) {
            sawOpen_ = true;
            return;
        }
        resumeAfter_ = now + kMenuResumeSeconds;
        notifyPending_ = true;
    }
    if (menuOpen_ || !notifyPending_ || resumeAfter_ > now) return;
    notifyPending_ = false;
    activityEnded(0);
}

void MenuPoll::release() {
    ownedSince_ = 0;
    resyncDone_ = false;
}

// ---- slide gate ----

SlideGate::SlideGate(MainLoop& loop, std::function<void()> changed, std::function<void()> republish)
    : loop_(loop), changed_(std::move(changed)), republish_(std::move(republish)) {}

void SlideGate::open() {
    if (open_) return;
    open_ = true;
    const std::int64_t g = ++generation_;
    // The handle is the gate's own, so the timeout never runs after the sampler is gone.
    timer_ = loop_.postAfter(kSlideGateSeconds, [this, g] { timedOut(g); });
    changed_();
}

void SlideGate::timedOut(std::int64_t generation) {
    if (!open_ || generation_ != generation) return;
    distrusted_ = true;
    open_ = false;
    generation_ = generation + 1;
    republish_();
    changed_();
}

void SlideGate::update(const WindowScanResult& r) {
    const int n = r.consideredWindowCount;
    const int k = r.offscreenWindowCount;
    // With more than one screen the scan cannot tell a slide from windows on the other screens.
    if (n >= 0) {
        bool slide = false;
        if (n > 0 && k >= 2) {
            const double ratio = static_cast<double>(k) / n;
            if (!r.hadPreviousPositions)
                slide = ratio >= kSlideRatio;
            else
                slide = ratio >= kSlideRatio && (open_ || r.maxSlideMoves >= 2);
        }
        if (slide) {
            if (!distrusted_) open();
        } else {
            distrusted_ = false;
            if (open_) {
                open_ = false;
                ++generation_;
                closePending_ = true;
            }
        }
    }
    previousMinX_ = r.windowPositions;
}

bool SlideGate::takePendingClose() {
    return std::exchange(closePending_, false);
}

// ---- seam ----

void SeamHider::update(bool glassSurface, const DefaultsStore& defaults) {
    glassSurface_ = glassSurface;
    // Only a stored boolean true turns the hiding on; a number or string there is not a choice the user made.
    // Read again only when the store changed: this runs in every 0.5 s check.
    if (&defaults != autoHideFrom_ || defaults.revision() != autoHideRevision_) {
        autoHideFrom_ = &defaults;
        autoHideRevision_ = defaults.revision();
        autoHide_ = defaults.boolValue(settings_keys::seamAutoHide.key)
                        .value_or(settings_keys::seamAutoHide.defaultValue);
    }
    if (!autoHide_) {
        releaseTimer_.cancel();
        if (suppressed_()) suppressed_ = false;
        return;
    }
    if (glassSurface_) {
        releaseTimer_.cancel();
        if (!suppressed_()) suppressed_ = true;
        return;
    }
    if (!suppressed_() || releaseTimer_.isActive()) return;
    releaseTimer_ = loop_.postAfter(kSeamReleaseSeconds, [this] {
        releaseTimer_ = Cancellable();
        suppressed_ = false;
    });
}

// ---- freezes ----

void SamplingFreezes::set(bool on, const std::string& reason) {
    if (on)
        reasons_.insert(reason);
    else
        reasons_.erase(reason);
    const bool frozen = !reasons_.empty();
    if (frozen == frozen_()) return;
    frozen_ = frozen;
    apply_(frozen);
}

void SamplingFreezes::clearAll() {
    reasons_.clear();
    if (frozen_()) frozen_ = false;
}

}  // namespace velaro
