// The window ordering over the recording host, a window list of its own, the fake workspace and a sampler,
// all on the virtual loop; one window per corner.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Log.h"

#include "overlay/WindowOrdering.h"
#include "sampling/ScreenSamplerTestRig.h"
#include "settings/OverlaySettings.h"
#include "support/FakeOverlayWindowHost.h"

namespace velaro::test {

inline constexpr std::int32_t kFrontPID = 700;
inline constexpr std::int32_t kOtherPID = 800;

// The reads of the list by one check of the below-active monitor (`check` runs it), shown `shown` in front
// of our `corners` and given no front app; the list and the front app are put back after it. The check
// holds `shown` as its target when it reads once and keeps reading once; any other target fails the check,
// and the pass that follows, finding no front app, drops it; with no target it goes straight to that pass,
// which reads nothing.
inline int belowActiveCheckReads(FakeWindowList& list, FakeWorkspace& workspace, WindowNumber shown,
                                 const std::vector<WindowInfo>& corners, const std::function<void()>& check) {
    const auto front = std::exchange(workspace.frontmost, std::nullopt);
    auto kept = list.snapshot();
    std::vector<WindowInfo> probe{FakeWindowList::window(kFrontPID, Rect{100, 100, 800, 600},
                                                         WindowLevel::normal, "App", shown)};
    probe.insert(probe.end(), corners.begin(), corners.end());
    list.setWindows(std::move(probe));
    const int before = list.snapshots;
    check();
    const int reads = list.snapshots - before;
    list.setWindows(std::move(kept));
    workspace.frontmost = front;
    return reads;
}

class WindowOrderingTest : public ::testing::Test {
protected:
    WindowOrderingTest() {
        for (auto c :
             {ScreenCorner::topLeft, ScreenCorner::topRight, ScreenCorner::bottomLeft,
              ScreenCorner::bottomRight, ScreenCorner::screenTopLeft, ScreenCorner::screenTopRight}) {
            auto w = host.makeWindow({std::string(toString(c)), Rect{0, 0, 28, 28}, 0, 1.0, {}});
            placed.push_back({c, w.get()});
            windows[c] = std::move(w);
        }
        ordering = std::make_unique<WindowOrdering>(
            settings, *rig.sampler,
            WindowOrderingServices{rig.loop, rig.workspace, &list, [this] { ++reasserts; }},
            [this] { return placed; }, [this] { return overview; });
        rig.workspace.frontmost = RunningApp{kFrontPID, std::string("org.example.Front"), "Front"};
    }

    OverlayWindow& corner(ScreenCorner c) { return *windows.at(c); }
    static WindowInfo window(std::int64_t number, std::int32_t pid, double w = 800, double h = 600,
                             int layer = WindowLevel::normal) {
        return FakeWindowList::window(pid, Rect{100, 100, w, h}, layer, "App", number);
    }
    // A listed entry for one of our corner windows, as a list that shows our own windows has it.
    WindowInfo listed(ScreenCorner c) {
        return window(corner(c).windowNumber(), rig.workspace.ownPID, 28, 28);
    }
    void placeBelowActive(ScreenCorner c) {
        switch (c) {
            case ScreenCorner::bottomLeft:
                settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
                break;
            case ScreenCorner::bottomRight:
                settings.cornerBottomRightZ = BottomCornerZ::belowActive;
                break;
            case ScreenCorner::screenTopLeft:
                settings.cornerScreenTopLeftZ = BottomCornerZ::belowActive;
                break;
            case ScreenCorner::screenTopRight:
                settings.cornerScreenTopRightZ = BottomCornerZ::belowActive;
                break;
            default:
                break;
        }
    }
    void editCorners(const std::function<void(CornerSettings&)>& edit) {
        auto c = settings.corners();
        edit(c);
        settings.corners = c;
    }
    // Reads of the list during `seconds` of virtual time.
    int readsDuring(double seconds) {
        const int before = list.snapshots;
        rig.loop.advance(seconds);
        return list.snapshots - before;
    }

    // Whether the check holds `candidate` as the window the corners were last ordered below, asked without
    // moving a thing (see belowActiveCheckReads).
    bool checkHoldsTarget(WindowNumber candidate) { return checkReads(candidate) == 1 && checkReads(candidate) == 1; }
    // With no target the check goes straight to the pass, which without a front app reads nothing.
    bool checkHoldsNoTarget() { return checkReads(kUnseenWindow) == 0; }

    // The passes that found no target to order under, as the log tells them.
    int deriveFailures() const {
        return int(std::count_if(logged.lines.begin(), logged.lines.end(), [](const std::string& line) {
            return line.find("below-active: the front app shows no window") != std::string::npos;
        }));
    }

    static constexpr WindowNumber kUnseenWindow = 9999;
    int checkReads(WindowNumber shown) {
        std::vector<WindowInfo> corners;
        for (const PlacedCorner& p : placed) corners.push_back(listed(p.corner));
        return belowActiveCheckReads(list, rig.workspace, shown, corners, [this] { ordering->checkBelowActiveOrder(); });
    }

    struct LoggedLines {
        std::vector<std::string> lines;
        LogSink previous = setLogSink([this](std::string_view tag, std::string_view message) {
            lines.push_back(std::string(tag) + " " + std::string(message));
        });
        ~LoggedLines() { setLogSink(previous); }
    } logged;
    SamplerRig rig;
    FakeDefaultsStore store;
    OverlaySettings settings{store, rig.loop};
    FakeOverlayWindowHost host{rig.loop};
    FakeWindowList list;
    std::map<ScreenCorner, std::unique_ptr<OverlayWindow>> windows;
    std::vector<PlacedCorner> placed;
    bool overview = false;
    int reasserts = 0;
    std::unique_ptr<WindowOrdering> ordering;  // last: goes before what it reaches
};

}  // namespace velaro::test
