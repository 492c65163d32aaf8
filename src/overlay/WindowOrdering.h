// Keeps the corners placed below the active window directly below the front app's window: a monitor that
// runs while such a corner exists, an ordering shortly after each app activation, and a 0.15 s check.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "overlay/BelowActiveCornerPass.h"

namespace velaro {

class MainLoop;
class OverlaySettings;
class ScreenSampler;
class WindowList;
class Workspace;

struct WindowOrderingServices {
    MainLoop& loop;
    Workspace& workspace;
    WindowList* windowList = nullptr;  // none: no target is ever found
    // The host's own check of where our windows lie against the others, repairing only what moved. Used for
    // corners the window list does not show (see checkBelowActiveOrder()); may be empty.
    std::function<void()> reassertStack;
};

class WindowOrdering {
public:
    // Every corner window of every screen, asked afresh each time (the window set is rebuilt at times).
    using CornerWindows = std::function<std::vector<PlacedCorner>()>;

    // The settings and the sampler outlive this object; the corner windows are only reached through
    // `corners`, during calls and while the monitor runs.
    WindowOrdering(const OverlaySettings& settings, const ScreenSampler& sampler,
                   WindowOrderingServices services, CornerWindows corners,
                   std::function<bool()> overviewActive);
    ~WindowOrdering();
    WindowOrdering(const WindowOrdering&) = delete;
    WindowOrdering& operator=(const WindowOrdering&) = delete;

    // The master switch is on, the screens are awake and some corner is below-active.
    bool needsBelowActiveOrdering() const;
    // Starts the monitor when it is needed and not running, stops it (forgetting the target) when it runs
    // and is no longer needed.
    void scheduleBelowActiveRepair();
    // Runs the pass 0.1 s from now, replacing a pending run.
    void scheduleBelowActiveAssert(const std::string& reason);
    // The pass itself, when ordering is needed.
    void assertBelowActiveOrder();
    // The periodic check: re-runs the pass only when the corners are not where it put them.
    void checkBelowActiveOrder();

    bool monitorRunning() const { return repairTimer_.isActive(); }

private:
    std::vector<PlacedCorner> belowActiveCorners() const;

    const OverlaySettings& settings_;
    const ScreenSampler& sampler_;
    WindowOrderingServices services_;
    CornerWindows corners_;
    std::function<bool()> overviewActive_;
    BelowActiveCornerPass pass_;
    Subscription activationObserver_;
    Cancellable repairTimer_;
    Cancellable pendingAssert_;
    Lifetime lifetime_;
};

}  // namespace velaro
