// Holds the sampler's "ownMenu" freeze while one of our own menus is open and for a short while after it
// closed, so that the menu's own pixels never become the bar's colour.
#pragma once

#include <cstdint>
#include <functional>

#include "base/Cancellable.h"

namespace velaro {

class MainLoop;
class MenuTracking;

inline constexpr const char* kOwnMenuFreezeReason = "ownMenu";

class OwnMenuTracker {
public:
    // `setFreeze(true)` when a menu opens, `setFreeze(false)` once the lift delay after its close has passed.
    OwnMenuTracker(MenuTracking& menus, MainLoop& loop, std::function<void(bool frozen)> setFreeze);
    OwnMenuTracker(const OwnMenuTracker&) = delete;
    OwnMenuTracker& operator=(const OwnMenuTracker&) = delete;

private:
    void began();
    void ended();

    MainLoop& loop_;
    std::function<void(bool)> setFreeze_;
    // The lift scheduled by the last end. A begin drops it: a menu reopened within the delay must not be
    // unfrozen by the close of the one before.
    Cancellable pendingLift_;
    std::uint64_t token_ = 0;
    Subscription subscription_;
};

}  // namespace velaro
