// The below-active monitor, its deferred ordering and its periodic check.
#include "overlay/WindowOrdering.h"

#include "base/MainLoop.h"
#include "platform/WindowList.h"
#include "platform/Workspace.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr double kCheckInterval = 0.15;
// Lets the activated app bring its window forward before we look for it.
constexpr double kAssertDelay = 0.1;

}  // namespace

WindowOrdering::WindowOrdering(const OverlaySettings& settings, const ScreenSampler& sampler,
                               WindowOrderingServices services, CornerWindows corners,
                               std::function<bool()> overviewActive)
    : settings_(settings),
      sampler_(sampler),
      services_(std::move(services)),
      corners_(std::move(corners)),
      overviewActive_(std::move(overviewActive)),
      pass_(settings, services_.workspace, services_.windowList) {}

WindowOrdering::~WindowOrdering() {
    lifetime_.end();
    activationObserver_.cancel();
    repairTimer_.cancel();
    pendingAssert_.cancel();
}

bool WindowOrdering::needsBelowActiveOrdering() const {
    if (!settings_.masterEnabled()) return false;
    if (sampler_.screensAsleep()) return false;
    for (auto corner : {ScreenCorner::bottomLeft, ScreenCorner::bottomRight, ScreenCorner::screenTopLeft,
                        ScreenCorner::screenTopRight})
        if (isBelowActiveCorner(corner, settings_)) return true;
    return false;
}

void WindowOrdering::scheduleBelowActiveRepair() {
    const bool needed = needsBelowActiveOrdering();
    if (monitorRunning() && !needed) {
        activationObserver_.cancel();
        repairTimer_.cancel();
        pendingAssert_.cancel();
        pass_.forget();
    } else if (!monitorRunning() && needed) {
        activationObserver_ =
            services_.workspace.events().sink(lifetime_.guard([this](const WorkspaceEvent& event) {
                if (event.kind == WorkspaceEvent::Kind::didActivateApplication)
                    scheduleBelowActiveAssert("act");
            }));
        repairTimer_ =
            services_.loop.every(kCheckInterval, lifetime_.guard([this] { checkBelowActiveOrder(); }));
        scheduleBelowActiveAssert("start");
    }
}

void WindowOrdering::scheduleBelowActiveAssert(const std::string&) {
    // Assigning cancels the run still pending, so at most one is ever queued.
    pendingAssert_ = services_.loop.postAfter(kAssertDelay, lifetime_.guard([this] {
        pendingAssert_.cancel();  // it has run; the loops allow a block to end its own handle
        assertBelowActiveOrder();
    }));
}

void WindowOrdering::assertBelowActiveOrder() {
    if (!needsBelowActiveOrdering()) return;
    pass_.run(corners_ ? corners_() : std::vector<PlacedCorner>{}, sampler_.isSlideGateOpen(),
              overviewActive_ && overviewActive_());
}

std::vector<PlacedCorner> WindowOrdering::belowActiveCorners() const {
    std::vector<PlacedCorner> out;
    if (!corners_) return out;
    for (const auto& placed : corners_())
        if (placed.window && isBelowActiveCorner(placed.corner, settings_)) out.push_back(placed);
    return out;
}

// The check compares the window list with the order the last pass made. A corner the list shows is judged by
// its place there: in front of the target means misordered. A corner the list does not show is judged by the
// host, since a list may leave this process's own windows out, and reading "not listed" as "off screen" would
// then reorder on every tick. The host knows whether the corner is ordered in and what it was last ordered
// below; if that is the current target, the host's own stack check (reassertStack) compares the real stack
// with it and repairs only what another window moved. The X11 list does show our override-redirect windows,
// so there the comparison is made on the list, as the stack stands, and the host's check is not needed.
void WindowOrdering::checkBelowActiveOrder() {
    if (!needsBelowActiveOrdering()) return;
    const auto target = pass_.target();
    if (!target) {
        assertBelowActiveOrder();
        return;
    }
    const auto ours = belowActiveCorners();
    if (ours.empty() || !services_.windowList) return;
    const auto list = services_.windowList->snapshot();
    if (list.empty()) return;  // unreadable: judge nothing

    std::optional<std::size_t> targetIndex;
    std::vector<bool> listed(ours.size(), false);
    bool misordered = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!list[i].number) continue;
        const WindowNumber n = *list[i].number;
        if (n == *target) {
            targetIndex = i;
            continue;
        }
        for (std::size_t k = 0; k < ours.size(); ++k) {
            if (ours[k].window->windowNumber() != n) continue;
            listed[k] = true;
            if (!targetIndex) misordered = true;  // in front of the target
        }
    }
    bool missing = false, leftToHost = false;
    for (std::size_t k = 0; k < ours.size(); ++k) {
        if (listed[k]) continue;
        const OverlayWindow& w = *ours[k].window;
        if (!w.isVisible() || w.orderedBelowForeign() != target)
            missing = true;
        else
            leftToHost = true;
    }
    if (!targetIndex || misordered || missing) {
        assertBelowActiveOrder();
        return;
    }
    if (leftToHost && services_.reassertStack) services_.reassertStack();
}

}  // namespace velaro
