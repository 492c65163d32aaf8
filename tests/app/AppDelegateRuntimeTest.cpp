// The running shell: the master switch tearing everything down and restoring it, the light-beam sync
// coalescing, the visualizer's failure path, capture demand, the visibility streams and the slide gate.
#include <gtest/gtest.h>

#include "music/MusicProgressEngine.h"
#include "music/ProgressBarController.h"
#include "music/ProgressBarView.h"
#include "music/VizBarWindow.h"
#include "music/VizRenderController.h"
#include "overlay/LightBeam.h"
#include "support/AppDelegateRig.h"

namespace velaro {
namespace {

using test::AppDelegateRig;

constexpr std::int32_t kEditorPID = 100;
constexpr const char* kBeam = "overlay-beam";
constexpr const char* kVizBar = kVizBarWindowName;

struct AppDelegateRuntime : ::testing::Test {
    AppDelegateRig rig;
    AppDelegate* d = nullptr;

    void SetUp() override {
        rig.storeStep(OnboardingStep::completed);
        rig.workspace.running.push_back(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    }
    // Launched, and past the start-up: the streams' first values count as an unfill, which would defer the
    // first show by 0.3 s.
    void launch() {
        d = &rig.launch();
        rig.loop.advance(OverlayVisibility::unfillWindow);
    }
    // A window of another app over the whole screen below the panel, or none, as the sampler's refresh sees
    // it.
    void fillTop(bool on) {
        if (on)
            rig.windows.setWindows({test::FakeWindowList::window(kEditorPID, Rect{0, 24, 1512, 982 - 24},
                                                                 WindowLevel::normal, "Editor", 7)});
        else
            rig.windows.setWindows({});
        rig.sampler().refresh();
        rig.loop.advance(0.1);  // the filled state is confirmed by a second look
        ASSERT_EQ(rig.sampler().isFilledWindowActive(), on);
    }
    void beamBand(bool in) {
        rig.sampler().pointerInBeamBand = in;
        rig.loop.runUntilIdle();
    }
};

TEST_F(AppDelegateRuntime, MasterSwitchTearsEverythingDownAndRestoresItByEachOwnSwitch) {
    rig.defaults.set("vizEnabled", PlistValue(true));
    rig.defaults.set("progressEnabled", PlistValue(true));
    rig.defaults.set("lightReflectionsEnabled", PlistValue(true));
    launch();
    fillTop(true);
    beamBand(true);
    auto& c = rig.controller();
    ASSERT_TRUE(c.visible);
    ASSERT_NE(rig.hostWindow(kBeam), nullptr);
    EXPECT_TRUE(rig.hostWindow(kBeam)->isVisible());
    ASSERT_NE(rig.hostWindow(kVizBar), nullptr);
    ASSERT_NE(rig.hostWindow(kProgressBarWindowName), nullptr);
    EXPECT_TRUE(rig.progressEngine.isRunning());
    EXPECT_TRUE(rig.progressEngine.isRunning());
    rig.readyCapture();
    EXPECT_TRUE(rig.capturing());
    EXPECT_EQ(rig.capturedStripHeight(), 36) << "the strip reaches down for the reflections";

    rig.settings().masterEnabled = false;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.capturing());
    EXPECT_FALSE(c.visible);
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr);
    EXPECT_EQ(rig.hostWindow(kVizBar), nullptr);
    EXPECT_FALSE(rig.holdsVizEngine());
    EXPECT_EQ(rig.vizCaptureCloses(), 1);
    EXPECT_EQ(rig.hostWindow(kProgressBarWindowName), nullptr);
    EXPECT_FALSE(rig.progressEngine.isRunning());

    rig.settings().masterEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capturing());
    EXPECT_FALSE(c.visible) << "switching off hid it: the show waits as after an unfill";
    rig.loop.advance(OverlayVisibility::showDelay);
    EXPECT_TRUE(c.visible);
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr) << "the band forgot the pointer while sampling was off";
    beamBand(true);
    EXPECT_NE(rig.hostWindow(kBeam), nullptr) << "a new beam window for the new showing";
    EXPECT_NE(rig.hostWindow(kVizBar), nullptr);
    EXPECT_NE(rig.hostWindow(kProgressBarWindowName), nullptr);
    EXPECT_TRUE(rig.progressEngine.isRunning());
    EXPECT_EQ(rig.vizEnginesMade, 2);

    // Each feature's own switch still counts: with the visualizer off, master on brings back only the bar.
    rig.settings().masterEnabled = false;
    rig.loop.runUntilIdle();
    rig.settings().vizEnabled = false;
    rig.settings().masterEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.hostWindow(kVizBar), nullptr);
    EXPECT_NE(rig.hostWindow(kProgressBarWindowName), nullptr);

    rig.delegate.reset();
    EXPECT_FALSE(rig.progressEngine.isRunning()) << "the engine is not left running";
}

TEST_F(AppDelegateRuntime, BeamTriggersOfOneTurnShareOneSync) {
    rig.defaults.set("lightReflectionsEnabled", PlistValue(true));
    launch();
    fillTop(true);
    beamBand(true);
    OverlayWindow* beam = rig.hostWindow(kBeam);
    ASSERT_NE(beam, nullptr);
    const auto paints = [&] {
        const auto& log = rig.host.log();
        return std::count(log.begin(), log.end(), std::string("paint ") + kBeam);
    };
    const auto before = paints();
    // The overlay hiding and showing again and the pointer leaving and entering the band, all in one turn:
    // a sync for each would let the beam go and make a new one.
    rig.controller().setVisible(false);
    rig.sampler().pointerInBeamBand = false;
    rig.sampler().pointerInBeamBand = true;
    rig.controller().setVisible(true);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.hostWindow(kBeam), beam) << "the same beam window";
    EXPECT_EQ(paints(), before + 1) << "placed and painted once";
    EXPECT_TRUE(beam->isVisible());
    EXPECT_EQ(beam->frame(), (Rect{0, 982 - 64, 1512, 64}));
    EXPECT_EQ(beam->level(), OverlayWindowLevel::belowPanel);
}

TEST_F(AppDelegateRuntime, BeamFollowsTheOverviewAndTheLightReflectionSwitch) {
    rig.defaults.set("lightReflectionsEnabled", PlistValue(true));
    launch();
    fillTop(true);
    beamBand(true);
    ASSERT_NE(rig.hostWindow(kBeam), nullptr);
    rig.readyCapture();
    ASSERT_TRUE(rig.capturing());
    const double reflectionStrip = rig.capturedStripHeight();
    rig.settings().lightReflectionsEnabled = false;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr);
    ASSERT_TRUE(rig.capturing());
    EXPECT_LT(rig.capturedStripHeight(), reflectionStrip) << "the stream no longer captures the reflections";
    rig.settings().lightReflectionsEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr) << "the band forgot the pointer while reflections were off";
    beamBand(true);
    ASSERT_NE(rig.hostWindow(kBeam), nullptr);

    rig.desktopOverview.state = true;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr) << "no beam while the overview shows";
    EXPECT_TRUE(rig.sampler().isSamplingFrozen()) << "the sampler holds its colours under the overview";
}

TEST_F(AppDelegateRuntime, VisualizerThatCannotStartLeavesNoEngineAndSaysWhySwitchingOffClearsIt) {
    rig.vizEngineWorks = false;
    launch();
    rig.settings().vizEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.holdsVizEngine());
    EXPECT_EQ(rig.hostWindow(kVizBar), nullptr);
    EXPECT_EQ(rig.settings().vizStatus(), std::optional<std::string>(AppDelegate::vizStartFailure));
    EXPECT_TRUE(rig.progressEngine.isRunning())
        << "the now-playing engine does not depend on the audio engine";

    rig.settings().vizEnabled = false;
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings().vizStatus(), std::nullopt);
    EXPECT_FALSE(rig.progressEngine.isRunning());

    // Retrying by switching it on again tries a new engine.
    rig.vizEngineWorks = true;
    rig.settings().vizEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.holdsVizEngine());
    EXPECT_EQ(rig.vizEnginesMade, 2);
}

TEST_F(AppDelegateRuntime, AVisualizerEngineThatCannotRebuildIsDroppedWithTheStartFailureText) {
    launch();
    rig.settings().vizEnabled = true;
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.holdsVizEngine());
    ASSERT_NE(rig.hostWindow(kVizBar), nullptr);

    // The default output changes and the capture cannot be set up on it.
    rig.vizCapture->failure = AudioCapture::Failure{"aggregate-create", 5};
    rig.vizCapture->changeOutput();
    rig.loop.advance(MusicVisualizerAudioEngine::outputChangeDebounce);
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.holdsVizEngine());
    EXPECT_EQ(rig.hostWindow(kVizBar), nullptr);
    EXPECT_EQ(rig.settings().vizStatus(), std::optional<std::string>(AppDelegate::vizStartFailure));

    // Toggling off and on retries with a new engine.
    rig.settings().vizEnabled = false;
    rig.loop.runUntilIdle();
    rig.settings().vizEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.holdsVizEngine());
    EXPECT_EQ(rig.settings().vizStatus(), std::nullopt);
    EXPECT_EQ(rig.vizEnginesMade, 2);
}

TEST_F(AppDelegateRuntime, MusicControllersTakeTheOverviewStateAtCreationAndOnChange) {
    rig.adapterPresent = true;
    launch();
    rig.desktopOverview.state = true;
    rig.loop.runUntilIdle();
    rig.settings().progressEnabled = true;
    rig.settings().vizEnabled = true;
    rig.loop.runUntilIdle();
    rig.playTrack();
    rig.playAudio(1.0);
    OverlayWindow* bar = rig.hostWindow(kProgressBarWindowName);
    OverlayWindow* viz = rig.hostWindow(kVizBar);
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(viz, nullptr);
    EXPECT_FALSE(bar->isVisible()) << "made during the overview: hidden while it lasts";
    EXPECT_FALSE(viz->isVisible());

    rig.desktopOverview.state = false;
    rig.playAudio(1.0);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(viz->isVisible());
    rig.desktopOverview.state = true;
    rig.playAudio(0.1);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(viz->isVisible());
}

TEST_F(AppDelegateRuntime, CaptureDemandFollowsTheSettingsThePopoverAndAPendingReveal) {
    rig.defaults.set("menuBarStyle", PlistValue("solid"));
    rig.defaults.set("autoSample", PlistValue(false));
    rig.defaults.set("overlayEnabled", PlistValue(false));
    launch();
    ASSERT_FALSE(rig.settings().needsScreenCapture());
    rig.readyCapture();
    EXPECT_FALSE(rig.capturing());

    d->setPopoverOpen(true);
    EXPECT_TRUE(rig.capturing()) << "the popover shows the live colour";
    d->setPopoverOpen(false);
    EXPECT_FALSE(rig.capturing());

    rig.controller().revealPending = true;
    rig.controller().onRevealPending();
    EXPECT_TRUE(rig.capturing());
    rig.controller().revealPending = false;
    rig.controller().onRevealPending();

    rig.settings().progressEnabled = true;
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capturing());
}

TEST_F(AppDelegateRuntime, FilledWindowShowsTheOverlayAndAnUnfillThenRefillWaitsUnlessTheAppSwitched) {
    launch();
    auto& c = rig.controller();
    EXPECT_FALSE(c.visible);
    fillTop(true);
    EXPECT_TRUE(c.visible);
    EXPECT_EQ(c.calls.back(), "show");
    fillTop(false);
    EXPECT_FALSE(c.visible);

    rig.loop.advance(0.2);
    fillTop(true);
    EXPECT_FALSE(c.visible) << "a refill within a second of the unfill waits";
    rig.loop.advance(0.29);
    EXPECT_FALSE(c.visible);
    rig.loop.advance(0.02);
    EXPECT_TRUE(c.visible);

    fillTop(false);
    rig.loop.advance(0.2);
    rig.workspace.activate(RunningApp{300, std::string("org.example.Other"), "Other"});
    fillTop(true);
    EXPECT_TRUE(c.visible) << "right after an app switch the overlay shows at once";
}

TEST_F(AppDelegateRuntime, SettingsStreamsReachTheVisibilityRuleAndTheProfiles) {
    rig.defaults.set("keepOverlayAlwaysOn", PlistValue(true));
    // Profiles that tell which app's settings are in force.
    rig.defaults.set(ProfileManager::appIdsKey, PlistValue::array({"org.example.Other", "org.example.Filled"}));
    rig.defaults.set(ProfileManager::overrideKey("org.example.Other"), PlistValue{{"overlayOpacity", 0.3}});
    rig.defaults.set(ProfileManager::overrideKey("org.example.Filled"), PlistValue{{"overlayOpacity", 0.6}});
    launch();
    auto& c = rig.controller();
    EXPECT_TRUE(c.visible) << "always on: shown over an empty desktop";
    rig.settings().overlayEnabled = false;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(c.visible);
    rig.settings().overlayEnabled = true;
    rig.loop.advance(1.0);
    EXPECT_TRUE(c.visible);
    rig.sampler().excludedAppCovering = true;
    rig.loop.runUntilIdle();
    EXPECT_FALSE(c.visible);

    rig.workspace.activate(RunningApp{300, std::string("org.example.Other"), "Other"});
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings().overlayOpacity(), 0.3) << "the front app's profile is in force";
    rig.sampler().filledOwnerAppId = std::optional<std::string>("org.example.Filled");
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.settings().overlayOpacity(), 0.6) << "the filled top's owner's profile is in force";
}

TEST_F(AppDelegateRuntime, ClosingSlideGateReordersCornersAndShowsImmediatelyWhenHiddenUnderIt) {
    launch();
    auto& c = rig.controller();
    fillTop(true);
    ASSERT_TRUE(c.visible);
    // Windows moving in from off the screen's side: the desktop slides to another workspace.
    for (const double x : {1462.0, 1412.0}) {
        rig.windows.setWindows(
            {test::FakeWindowList::window(800, Rect{x, 100, 800, 600}, WindowLevel::normal, "Other", 5),
             test::FakeWindowList::window(800, Rect{x, 200, 800, 600}, WindowLevel::normal, "Other", 6)});
        rig.sampler().refresh();
    }
    ASSERT_TRUE(rig.sampler().isSlideGateOpen());
    EXPECT_EQ(c.calls.back(), "hide immediate");

    // The slide ends on the same filled top.
    fillTop(true);
    EXPECT_EQ(c.count("reset owner"), 1);
    EXPECT_EQ(c.count("corners front"), 1);
    EXPECT_EQ(c.calls.back(), "show immediate") << "hidden under the gate: it comes back at once";

    // Back from under the gate, the next hide and show are ordinary ones.
    fillTop(false);
    rig.loop.advance(OverlayVisibility::unfillWindow);
    fillTop(true);
    EXPECT_EQ(c.calls.back(), "show");
}

TEST_F(AppDelegateRuntime, PillGeometryOnStartAppSwitchesScreenChangesAndOnceAfterPillDrags) {
    int measures = 0;
    std::optional<Subscription> watch;
    rig.make();
    watch = rig.settings().pillGeometryByScreen.changes().sink([&](const auto&) { ++measures; });
    d = rig.delegate.get();
    d->applicationDidFinishLaunching();
    rig.loop.runUntilIdle();
    EXPECT_EQ(measures, 1) << "once right after the runtime starts";

    rig.workspace.activate(RunningApp{300, std::string("org.example.Other"), "Other"});
    rig.loop.runUntilIdle();
    EXPECT_EQ(measures, 2) << "a front-app change";
    rig.screens.sendParametersChanged();
    rig.loop.runUntilIdle();
    EXPECT_EQ(measures, 3) << "a screen change";

    // Dragging a pill slider: one measure 0.2 s after the last step.
    for (int step = 1; step <= 5; ++step) {
        CornerSettings corners = rig.settings().corners();
        corners.pillHPadding = step;
        rig.settings().corners = corners;
        rig.loop.advance(0.05);
    }
    EXPECT_EQ(measures, 3);
    rig.loop.advance(0.2);
    EXPECT_EQ(measures, 4);

    // Another corner field does not move the pills.
    CornerSettings corners = rig.settings().corners();
    corners.topRadius += 3;
    rig.settings().corners = corners;
    rig.loop.advance(1.0);
    EXPECT_EQ(measures, 4);
}

TEST_F(AppDelegateRuntime, RunsWithoutAnOverlayController) {
    rig.provideController = false;
    rig.defaults.set("lightReflectionsEnabled", PlistValue(true));
    launch();
    fillTop(true);
    beamBand(true);
    EXPECT_TRUE(rig.runtimeStarted());
    EXPECT_TRUE(rig.controllers.empty());
    EXPECT_EQ(rig.hostWindow(kBeam), nullptr) << "the beam follows the overlay, which is absent";
}

}  // namespace
}  // namespace velaro
