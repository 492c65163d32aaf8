// The overlay controller over a sampler with fake screens, window list and capture, an in-memory settings
// store, the recording window host and a detector, all on the virtual loop.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "overlay/MenuBarOverlayController.h"
#include "sampling/OverviewDetector.h"
#include "sampling/ScreenSamplerTestRig.h"
#include "settings/OverlaySettings.h"
#include "support/BandOnlyUnifiedMode.h"
#include "support/FakeDesktopOverview.h"
#include "support/FakeOverlayWindowHost.h"

namespace velaro::test {

class OverlayControllerTest : public ::testing::Test {
protected:
    explicit OverlayControllerTest(
        std::vector<ScreenInfo> screens = {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)})
        // Only what the tests set decides the sampler's values: with nothing on screen its poll parks after
        // the first check and wakes only when the window list changes.
        : rig(std::move(screens)) {}

    // Unified windows are band-only stand-ins, revealed through `reveal` (none: at once) unless the test
    // hands in another unified mode.
    void makeController(UnifiedRevealHooks reveal = {}, UnifiedModeFactory unifiedMode = nullptr) {
        controller = std::make_unique<MenuBarOverlayController>(
            *rig.sampler, settings, nullptr, services(),
            unifiedMode ? unifiedMode : bandOnlyUnifiedMode(host, rig.loop, settings, std::move(reveal)));
        rig.loop.runUntilIdle();
    }
    OverlayControllerServices services(WindowList* windows = nullptr) {
        return OverlayControllerServices{rig.loop, host, rig.screens, rig.workspace, windows};
    }
    void makeSeparate() {
        settings.manualSeparateCorners = true;
        makeController();
    }
    void settle() { rig.loop.runUntilIdle(); }
    // With the top filled the sampler streams every screen with a panel: the configuration of the running
    // stream of the display numbered `display`, if there is one.
    std::optional<StreamConfiguration> streamOf(std::uint32_t display) {
        if (!rig.sampler->isFilledWindowActive()) rig.fillTop();
        settle();
        for (const auto& s : rig.capture.runningStreams())
            if (s->contentFilter().display.displayID == display) return s->configuration();
        return std::nullopt;
    }

    const MenuBarOverlayController::ScreenWindows& screen(const std::string& id = "A") {
        auto* s = controller->windowsOf(id);
        EXPECT_NE(s, nullptr) << id;
        return *s;
    }
    OverlayWindow& band(const std::string& id = "A") { return screen(id).band->window(); }
    // The mode the windows were built in: only a unified band window comes with a presenter.
    OverlayRenderMode renderMode(const std::string& id = "A") {
        return screen(id).band->presenter() ? OverlayRenderMode::unified : OverlayRenderMode::separate;
    }
    OverlayWindow& corner(ScreenCorner c, const std::string& id = "A") {
        for (const auto& w : screen(id).corners)
            if (w->corner() == c) return w->window();
        ADD_FAILURE() << "no corner window";
        return screen(id).corners.front()->window();
    }
    // The monitor of the corners set below the active window runs as its repeating 0.15 s check.
    bool belowActiveMonitorRuns() const { return rig.loop.repeatingTimersEvery(0.15) > 0; }
    static FakeOverlayWindow& fake(OverlayWindow& w) { return dynamic_cast<FakeOverlayWindow&>(w); }
    void editCorners(const std::function<void(CornerSettings&)>& edit) {
        auto c = settings.corners();
        edit(c);
        settings.corners = c;
        settle();
    }

    SamplerRig rig;
    FakeDefaultsStore settingsStore;
    OverlaySettings settings{settingsStore, rig.loop};
    FakeOverlayWindowHost host{rig.loop};
    // Publishes nothing until a test says the overview shows; the detector follows it only while demanded.
    FakeDesktopOverview desktop;
    OverviewDetector detector{rig.windows, rig.screens, rig.workspace, rig.loop, std::nullopt, &desktop};
    std::unique_ptr<MenuBarOverlayController> controller;  // last: goes before what it uses
};

}  // namespace velaro::test
