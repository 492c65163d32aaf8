// Own-menu freeze: on at once when tracking begins, off 0.35 s after it ends unless a menu opened again.
#include "sampling/OwnMenuTracker.h"

#include "base/MainLoop.h"
#include "platform/MenuTracking.h"

namespace velaro {

namespace {
// A closing menu fades out over the strip; frames taken meanwhile would still show it.
constexpr double kLiftDelaySeconds = 0.35;
}  // namespace

OwnMenuTracker::OwnMenuTracker(MenuTracking& menus, MainLoop& loop,
                               std::function<void(bool frozen)> setFreeze)
    : loop_(loop), setFreeze_(std::move(setFreeze)) {
    subscription_ = menus.events().sink([this](MenuTrackingEvent e) {
        if (e == MenuTrackingEvent::began)
            began();
        else
            ended();
    });
}

void OwnMenuTracker::began() {
    ++token_;
    pendingLift_.cancel();
    setFreeze_(true);
}

void OwnMenuTracker::ended() {
    // The handle is owned here, so a lift never runs after the tracker is gone; the token makes a lift
    // that a later begin superseded a no-op even if its timer already fired into the queue.
    const auto token = ++token_;
    pendingLift_ = loop_.postAfter(kLiftDelaySeconds, [this, token] {
        if (token != token_) return;
        setFreeze_(false);
    });
}

}  // namespace velaro
