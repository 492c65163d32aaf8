// Menu poll, slide-gate decision and seam of the sampler's refresh.
#include "sampling/SamplerRefresh.h"

#include <algorithm>

#include "platform/DefaultsStore.h"
#include "sampling/ScreenSampler.h"
#include "sampling/WindowListScans.h"

namespace velaro {

namespace {

// Another app's menu hold ends this long after the refresh that first saw it closed.
constexpr double kMenuResumeSeconds = 0.4;
// Half a second after taking the watch over, the overlay is told once that no menu is open.
constexpr double kResyncSeconds = 0.5;
constexpr double kSeamReleaseSeconds = 0.4;
// A share of off-screen windows at or above this means the desktop is sliding to another workspace.
constexpr double kSlideRatio = 0.5;
// `pollOwnedSince` = 0 means "not owning". The loop's uptime may itself be 0 at the first refresh, which
// would read as not owning and restart the takeover at every tick; the smallest positive time stands in.
constexpr double kEarliestOwnership = 1e-9;

}  // namespace

void pollMenuTracking(ScreenSampler& s, bool open, double now) {
    if (s.hasActiveStream()) {
        s.pollOwnedSince = 0;
        s.pollResyncDone = false;
        if (s.pollNotifyPending) {
            s.pollNotifyPending = false;
            if (!s.pollMenuOpen) s.notifyMenuBarActivityEnded(std::max(s.pollResumeAfter - now, 0.0));
        }
        return;
    }
    if (s.pollOwnedSince == 0) {
        s.pollOwnedSince = std::max(now, kEarliestOwnership);
        s.pollResyncDone = false;
        s.pollMenuOpen = s.pollSawOpen = open;
        s.pollResumeAfter = 0;
        s.pollNotifyPending = false;
        return;
    }
    if (!s.pollResyncDone && now - s.pollOwnedSince >= kResyncSeconds && !open && !s.pollSawOpen) {
        s.pollResyncDone = true;
        s.notifyMenuBarActivityEnded(0);
    }
    if (open != s.pollMenuOpen) {
        s.pollMenuOpen = open;
        if (open) {
            s.pollSawOpen = true;
            return;
        }
        s.pollResumeAfter = now + kMenuResumeSeconds;
        s.pollNotifyPending = true;
    }
    if (s.pollMenuOpen || !s.pollNotifyPending || s.pollResumeAfter > now) return;
    s.pollNotifyPending = false;
    s.notifyMenuBarActivityEnded(0);
}

void updateSlideGate(ScreenSampler& s, const WindowScanResult& r) {
    const int n = r.consideredWindowCount;
    const int k = r.offscreenWindowCount;
    // With more than one screen the scan cannot tell a slide from windows on the other screens.
    if (n >= 0) {
        bool open = false;
        if (n > 0 && k >= 2) {
            const double ratio = static_cast<double>(k) / n;
            if (!r.hadPreviousPositions)
                open = ratio >= kSlideRatio;
            else
                open = ratio >= kSlideRatio && (s.isSlideGateOpen || r.maxSlideMoves >= 2);
        }
        if (open) {
            if (!s.slideSignatureDistrusted) s.openSlideGate();
        } else {
            s.slideSignatureDistrusted = false;
            if (s.isSlideGateOpen) {
                s.isSlideGateOpen = false;
                ++s.slideGateGeneration;
                s.slideGateCloseNotifyPending = true;
            }
        }
    }
    s.slidePrevMinX = r.windowPositions;
}

void updateSeam(ScreenSampler& s, const DefaultsStore& defaults) {
    // Only a stored boolean true turns the hiding on; a number or string there is not a choice the user made.
    if (!defaults.boolValue(kSeamAutoHideKey).value_or(false)) {
        s.seamReleaseTimer.cancel();
        if (s.seamSuppressed()) s.seamSuppressed = false;
        return;
    }
    if (s.glassSurfaceOverTopStrip) {
        s.seamReleaseTimer.cancel();
        if (!s.seamSuppressed()) s.seamSuppressed = true;
        return;
    }
    if (!s.seamSuppressed() || s.seamReleaseTimer.isActive()) return;
    // The handle is the sampler's, so the release never runs after the sampler is gone.
    s.seamReleaseTimer = s.loop().postAfter(kSeamReleaseSeconds, [&s] {
        s.seamReleaseTimer = Cancellable();
        s.seamSuppressed = false;
    });
}

}  // namespace velaro
