// The overview detector: a baseline of the shell's windows, a 0.15 s probe that looks for two or more new
// large ones, and the timing rules that end or give up on an overview.
#include "sampling/OverviewDetector.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/DesktopOverview.h"
#include "platform/Screens.h"
#include "platform/WindowList.h"
#include "platform/Workspace.h"

namespace velaro {

namespace {

constexpr double kProbeSeconds = 0.15;
// The overview counts as closed once the difference has stayed empty this long; a single empty probe can
// come from a window list read while the overview's windows were being replaced.
constexpr double kCloseAfterSeconds = 0.5;
// Windows that stay up this long are not an overview but some long-lived surface of the shell.
constexpr double kGiveUpSeconds = 300;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<OverviewShell> overviewShellForDesktop(std::string_view desktops) {
    // Xfce's overview is xfdashboard, a program of its own that shows itself as one full-screen window per
    // monitor. GNOME Shell and KWin draw theirs inside the compositor: no window tells of it (GNOME Shell
    // publishes its state on the session bus instead). The first desktop of the list that has one decides.
    while (!desktops.empty()) {
        const auto colon = desktops.find(':');
        const std::string_view name = desktops.substr(0, colon);
        desktops = colon == std::string_view::npos ? std::string_view() : desktops.substr(colon + 1);
        if (equalsIgnoringCase(name, "XFCE")) return OverviewShell{"xfdashboard", "xfdashboard", 1};
    }
    return std::nullopt;
}

OverviewDetector::OverviewDetector(WindowList& windows, const Screens& screens, const Workspace& workspace,
                                   MainLoop& loop, std::optional<OverviewShell> shell,
                                   const DesktopOverview* desktop)
    : windows_(windows),
      screens_(screens),
      workspace_(workspace),
      loop_(loop),
      shell_(std::move(shell)),
      desktop_(desktop) {
    if (desktop_)
        desktopReports_ =
            desktop_->overviewActive().changes().sink([this](std::optional<bool> v) { desktopReported(v); });
}

void OverviewDetector::acquire(const std::string& tag) {
    const bool wasIdle = demand_.empty();
    demand_.insert(tag);
    if (wasIdle) startDetection(desktop_ ? desktop_->overviewActive().value() : std::nullopt);
}

void OverviewDetector::startDetection(std::optional<bool> published) {
    if (published) {
        isOverviewActive = *published;
        return;
    }
    if (shell_) {
        startProbe();
        return;
    }
    isOverviewActive = false;
    if (!std::exchange(unavailableLogged_, true))
        qCInfo(lcSampling) << tagged(
            "OVERVIEW",
            "this desktop publishes no overview state and shows no overview window; the overview is not "
            "detected");
}

void OverviewDetector::startProbe() {
    const auto pid = shellProcessID();
    baseline_ = shellWindowSnapshot(pid).windows;
    baselineShellPID_ = pid;
    resetDifference();
    // A new run of probes reads the list afresh.
    probeMemo_.reset();
    isOverviewActive = false;
    // The timer is owned here, so a probe never outlives the detector.
    timer_ = loop_.every(kProbeSeconds, [this] { poll(); });
}

void OverviewDetector::desktopReported(std::optional<bool> active) {
    if (demand_.empty()) return;
    if (active) {
        // The desktop's word replaces any probing.
        timer_.cancel();
        resetDifference();
        setActive(*active);
        return;
    }
    // The desktop stopped publishing (its shell left): what it said last no longer holds.
    setActive(false);
    // Told before the new state is stored: the absent value is handed on, not read back.
    if (!timer_.isActive()) startDetection(std::nullopt);
}

void OverviewDetector::release(const std::string& tag) {
    if (demand_.erase(tag) == 0 || !demand_.empty()) return;
    timer_.cancel();
    emptyDiffSince_.reset();
    activeSince_.reset();
    setActive(false);
}

std::optional<std::int32_t> OverviewDetector::shellProcessID() {
    if (!shell_) return std::nullopt;
    if (cachedShellPID_) {
        const auto app = workspace_.runningApplication(*cachedShellPID_);
        if (app && app->appId == shell_->appId) return cachedShellPID_;
    }
    cachedShellPID_.reset();
    for (const auto& app : workspace_.runningApplications()) {
        if (app.appId == shell_->appId) {
            cachedShellPID_ = app.pid;
            break;
        }
    }
    return cachedShellPID_;
}

OverviewDetector::ShellWindows OverviewDetector::shellWindowSnapshot(std::optional<std::int32_t> shellPID) {
    ShellWindows result;
    const auto list = windows_.snapshot();
    result.totalCount = static_cast<int>(list.size());
    if (!shell_) return result;
    for (const auto& w : list) {
        // Ordinary windows sit at level 0; the shell's own surfaces sit above them.
        if (!w.layer || *w.layer < 1 || !w.number) continue;
        const bool owned = shellPID && w.ownerPID ? *w.ownerPID == *shellPID
                                                  : equalsIgnoringCase(w.ownerName, shell_->ownerName);
        if (owned) result.windows.insert(*w.number);
    }
    return result;
}

std::set<std::int64_t> OverviewDetector::largeWindows(const std::set<std::int64_t>& numbers) {
    const auto main = screens_.mainScreen();
    const double area = main ? main->frame.width() * main->frame.height() : 0;
    // Without a screen to compare with, every candidate counts as large.
    if (!(area > 0)) return numbers;
    std::set<std::int64_t> large;
    for (const auto& w : windows_.snapshot()) {
        if (!w.number || !numbers.contains(*w.number) || !w.bounds) continue;
        if (w.bounds->width() * w.bounds->height() >= 0.5 * area) large.insert(*w.number);
    }
    return large;
}

std::shared_ptr<const OverviewDetector::ShellWindows> OverviewDetector::probedShellWindows(
    std::optional<std::int32_t> shellPID) {
    // The generation is taken before the list: a change in between is read again at the next probe.
    const auto generation = windows_.generation();
    if (!probeMemo_ || probeMemo_->generation != generation || probeMemo_->shellPID != shellPID)
        probeMemo_ = ProbeMemo{generation, shellPID,
                               std::make_shared<const ShellWindows>(shellWindowSnapshot(shellPID))};
    return probeMemo_->found;
}

void OverviewDetector::poll() {
    const auto pid = shellProcessID();
    // Shared, not borrowed: whoever hears of a change may start the probe afresh, which lets the memo go.
    const auto found = probedShellWindows(pid);
    const auto& [windows, total] = *found;

    // A restarted shell numbers its windows anew: what it shows now is its normal state.
    if (pid && baselineShellPID_ != pid) {
        baseline_ = windows;
        baselineShellPID_ = pid;
        resetDifference();
        setActive(false);
        return;
    }

    const double now = loop_.uptime();
    bool empty = lastDiffEmpty_;
    // The second, larger read is only worth it when something appeared or went away.
    if (total != lastTotalCount_) {
        lastTotalCount_ = total;
        std::set<std::int64_t> fresh;
        std::set_difference(windows.begin(), windows.end(), baseline_.begin(), baseline_.end(),
                            std::inserter(fresh, fresh.end()));
        const auto large = fresh.empty() ? fresh : largeWindows(fresh);
        empty = large.size() < (shell_ ? shell_->largeWindows : 2);
        lastDiffEmpty_ = empty;
        if (empty) {
            if (isOverviewActive() && !emptyDiffSince_) emptyDiffSince_ = now;
        } else {
            if (!isOverviewActive()) {
                isOverviewActive = true;
                activeSince_ = now;
            }
            emptyDiffSince_.reset();
        }
    }

    if (!isOverviewActive()) return;
    if (activeSince_ && now - *activeSince_ >= kGiveUpSeconds) {
        baseline_ = windows;
        resetDifference();
        isOverviewActive = false;
        return;
    }
    if (!empty || !emptyDiffSince_ || now - *emptyDiffSince_ < kCloseAfterSeconds) return;
    isOverviewActive = false;
    emptyDiffSince_.reset();
    activeSince_.reset();
}

void OverviewDetector::setActive(bool active) {
    if (isOverviewActive() != active) isOverviewActive = active;
}

void OverviewDetector::resetDifference() {
    lastTotalCount_ = -1;
    lastDiffEmpty_ = true;
    emptyDiffSince_.reset();
    activeSince_.reset();
}

}  // namespace velaro
