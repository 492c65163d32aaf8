// Tells whether the desktop's overview (the workspace/window overview of the shell) is showing: from the
// desktop's own published state where it has one, else from the large windows a shell puts up over the
// screen where its overview is made of windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/Cancellable.h"
#include "base/Published.h"

namespace velaro {

class MainLoop;
class DesktopOverview;
class Screens;
class WindowList;
class Workspace;

// The process that shows a desktop's overview as windows of its own. Desktops differ, so it is chosen per
// desktop; shells that draw their overview inside the compositor put up no such window and have none.
struct OverviewShell {
    // How the workspace names the shell's process (`RunningApp::appId`).
    std::string appId;
    // How the window list names the owner of the shell's windows; used while the process is not known.
    // Compared without regard to case, since window classes are capitalised inconsistently.
    std::string ownerName;
    // How many new windows covering at least half the main screen make an overview.
    std::size_t largeWindows = 2;

    friend bool operator==(const OverviewShell&, const OverviewShell&) = default;
};

// The shell of a desktop as XDG_CURRENT_DESKTOP names it (a colon-separated list, "XFCE:xfdashboard");
// absent for desktops with no overview made of windows (openbox, and GNOME Shell and KWin, which draw
// theirs inside the compositor).
std::optional<OverviewShell> overviewShellForDesktop(std::string_view xdgCurrentDesktop);

class OverviewDetector {
public:
    // `desktop`, when given and while it publishes a state, is followed instead of the windows; with neither
    // it nor a shell the detector never fires, and says so once when detection is first asked for.
    OverviewDetector(WindowList& windows, const Screens& screens, const Workspace& workspace, MainLoop& loop,
                     std::optional<OverviewShell> shell, const DesktopOverview* desktop = nullptr);
    OverviewDetector(const OverviewDetector&) = delete;
    OverviewDetector& operator=(const OverviewDetector&) = delete;

    Published<bool> isOverviewActive{false};

    // Detection runs while at least one client tag holds it; the first acquire takes the baseline (or reads
    // the desktop's published state).
    void acquire(const std::string& tag);
    void release(const std::string& tag);

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
    // One probe; the timer runs it every 0.15 s while demanded. While the list's generation and the shell's
    // process stay, it answers from what the last probe found instead of reading the list again.
    void poll();

private:
    void setActive(bool active);
    void resetDifference();
    // Starts whichever source serves now: the desktop's `published` state, else the window probe.
    void startDetection(std::optional<bool> published);
    void startProbe();
    void desktopReported(std::optional<bool> active);
    // The shell's windows as the list shows them now, read again only when the list or the shell changed.
    std::shared_ptr<const ShellWindows> probedShellWindows(std::optional<std::int32_t> shellPID);

    WindowList& windows_;
    const Screens& screens_;
    const Workspace& workspace_;
    MainLoop& loop_;
    const std::optional<OverviewShell> shell_;
    const DesktopOverview* desktop_;
    Subscription desktopReports_;
    bool unavailableLogged_ = false;

    std::set<std::string> demand_;
    Cancellable timer_;
    std::set<std::int64_t> baseline_;
    std::optional<std::int32_t> baselineShellPID_;
    int lastTotalCount_ = -1;
    bool lastDiffEmpty_ = true;
    std::optional<double> emptyDiffSince_;
    std::optional<double> activeSince_;
    std::optional<std::int32_t> cachedShellPID_;

    // What the last probe found and what from: the list's generation (taken before the list) and the shell.
    struct ProbeMemo {
        std::uint64_t generation = 0;
        std::optional<std::int32_t> shellPID;
        std::shared_ptr<const ShellWindows> found;
    };
    std::optional<ProbeMemo> probeMemo_;
};

}  // namespace velaro
