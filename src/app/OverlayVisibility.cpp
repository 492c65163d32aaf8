// The overlay's show/hide rule with its deferred show.
#include "app/OverlayVisibility.h"

#include "overlay/OverlayControllerPort.h"

namespace velaro {

OverlayVisibility::OverlayVisibility(MainLoop& loop, std::function<OverlayControllerPort*()> controller)
    : loop_(loop), controller_(std::move(controller)) {}

OverlayVisibility::~OverlayVisibility() = default;

bool OverlayVisibility::wanted(const Inputs& in) {
    if (!in.masterEnabled) return false;
    if (!in.overlayEnabled) return false;
    if (in.excludedAppCovering) return false;
    if (in.slideGateOpen) return false;
    return in.keepOverlayAlwaysOn || in.filledWindowActive;
}

void OverlayVisibility::update(const Inputs& in) {
    OverlayControllerPort* controller = controller_ ? controller_() : nullptr;
    const bool visibleNow = controller && controller->isVisible();

    if (wanted(in)) {
        if (visibleNow) {
            cancelPendingShow();
            controller->show(false);
            return;
        }
        const double now = loop_.uptime();
        const bool defer = now - lastUnfillTime_ < unfillWindow && now - lastAppSwitchTime_ >= switchWindow &&
                           now - lastSpaceChangeTime_ >= switchWindow;
        if (defer) {
            // Later requests during the wait keep the first one's time.
            if (pendingShow_.isActive()) return;
            pendingShow_ = loop_.postAfter(showDelay, [this] {
                // Handing the handle out first: the show may re-enter update(), which must see no pending
                // show.
                Cancellable done = std::move(pendingShow_);
                hidUnderSlideGate_ = false;
                if (auto* c = controller_ ? controller_() : nullptr) c->show(false);
            });
            return;
        }
        cancelPendingShow();
        const bool immediate = hidUnderSlideGate_;
        if (controller) controller->show(immediate);
        hidUnderSlideGate_ = false;
        return;
    }

    cancelPendingShow();
    if (!visibleNow) {
        if (!in.slideGateOpen && !in.pendingFilledState.value_or(false)) {
            hidUnderSlideGate_ = false;
            lastUnfillTime_ = loop_.uptime();
        }
        return;
    }
    if (!in.slideGateOpen) {
        lastUnfillTime_ = loop_.uptime();
        hidUnderSlideGate_ = false;
    } else {
        hidUnderSlideGate_ = true;
    }
    controller->hide(in.slideGateOpen);
}

}  // namespace velaro
