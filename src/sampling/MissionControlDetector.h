// Tells whether the desktop's overview (the workspace/window overview of the shell) is showing, from the
// large windows the shell puts up over the screen.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/Cancellable.h"
#include "base/Published.h"

namespace velaro {

class MainLoop;
class Screens;
class WindowList;
class Workspace;

// The process that shows a desktop's overview as windows of its own. Desktops differ, so it is chosen per
// desktop; one without an overview has none, and the detector then never fires.
struct OverviewShell {
    // How the workspace names the shell's process (`RunningApp::bundleID`).
    std::string bundleID;
    // How the window list names the owner of the shell's windows; used while the process is not known.
    // Compared without regard to case, since window classes are capitalised inconsistently.
    std::string ownerName;

    friend bool operator==(const OverviewShell&, const OverviewShell&) = default;
};

// The shell of a desktop as XDG_CURRENT_DESKTOP names it (a colon-separated list, "ubuntu:GNOME");
// absent for desktops with no overview of that kind (openbox and other plain window managers).
std::optional<OverviewShell> overviewShellForDesktop(std::string_view xdgCurrentDesktop);

class MissionControlDetector {
public:
    MissionControlDetector(WindowList& windows, const Screens& screens, const Workspace& workspace,
                           MainLoop& loop, std::optional<OverviewShell> shell);
    MissionControlDetector(const MissionControlDetector&) = delete;
    MissionControlDetector& operator=(const MissionControlDetector&) = delete;

    Published<bool> isOverviewActive{false};

    // Detection runs while at least one client tag holds it; the first acquire takes the baseline.
    void acquire(const std::string& tag);
    void release(const std::string& tag);

    const std::set<std::string>& demand() const { return demand_; }
    bool isProbing() const { return timer_.isActive(); }

    struct ShellWindows {
        std::set<std::int64_t> windows;
        // Every window of the list, the shell's or not.
        int totalCount = 0;
    };
    // The shell's process, looked up once and kept while it still runs under the same identity.
    std::optional<std::int32_t> shellProcessID();
    ShellWindows shellWindowSnapshot(std::optional<std::int32_t> shellPID);
    // The members of `numbers` whose windows cover at least half of the main screen.
    std::set<std::int64_t> largeWindows(const std::set<std::int64_t>& numbers);
    // One probe; the timer runs it every 0.15 s while demanded.
    void poll();

private:
    void setActive(bool active);
    void resetDifference();

    WindowList& windows_;
    const Screens& screens_;
    const Workspace& workspace_;
    MainLoop& loop_;
    const std::optional<OverviewShell> shell_;

    std::set<std::string> demand_;
    Cancellable timer_;
    std::set<std::int64_t> baseline_;
    std::optional<std::int32_t> baselineShellPID_;
    int lastTotalCount_ = -1;
    bool lastDiffEmpty_ = true;
    std::optional<double> emptyDiffSince_;
    std::optional<double> activeSince_;
    std::optional<std::int32_t> cachedShellPID_;
};

}  // namespace velaro
