// The sampler's context cycle as far as the streams depend on it: the filled top and its owner, capture-stop
// screens and their last good colours, the filter update after the sample-stop set changed, and the
// reactions to session events.
#include <gtest/gtest.h>

#include "sampling/ScreenSamplerTestRig.h"

namespace velaro::test {
namespace {

using Call = FakeCaptureService::Call;
using K = WorkspaceEvent::Kind;

TEST(SamplerRefresh, TellsTheOwnerOfTheFilledWindowOnEveryRefresh) {
    SamplerRig rig;
    std::vector<std::optional<std::string>> ticks;
    rig.sampler->setOnOwnerTick([&](const std::optional<std::string>& owner) { ticks.push_back(owner); });
    rig.fillTop();
    rig.sampler->refresh();
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(ticks.front(), std::nullopt) << "not filled yet at the first sight";
    EXPECT_EQ(ticks.back(), std::optional<std::string>("org.example.Editor"));
    EXPECT_EQ(rig.sampler->filledOwnerAppId(), std::optional<std::string>("org.example.Editor"));
}

TEST(SamplerRefresh, AnActivationRefreshesThreeTimesAndAHideTwice) {
    SamplerRig rig;
    int ticks = 0;
    rig.sampler->setOnOwnerTick([&](const std::optional<std::string>&) { ++ticks; });
    // Both counts end before the first 0.5 s check of the poll.
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    rig.loop.advance(0.2);
    EXPECT_EQ(ticks, 3);
    ticks = 0;
    rig.workspace.send(K::didHideApplication);
    rig.loop.advance(0.2);
    EXPECT_EQ(ticks, 2);
}

TEST(SamplerRefresh, ACoverageDipThatDoesNotHoldStartsNoFill) {
    SamplerRig rig;
    rig.sampler->enable();
    rig.setGeometry();
    rig.windows.setWindows({FakeWindowList::window(kEditorPID, Rect{0, 24, 1512, 958})});
    rig.sampler->refresh();
    EXPECT_EQ(rig.sampler->pendingFilledState(), std::optional<bool>(true));
    rig.windows.setWindows({FakeWindowList::window(kEditorPID, Rect{0, 24, 1512, 700})});
    rig.sampler->refresh();
    EXPECT_FALSE(rig.sampler->pendingFilledState().has_value());
    rig.loop.advance(0.2);
    EXPECT_FALSE(rig.sampler->isFilledWindowActive());
}

TEST(SamplerRefresh, AReleasedCaptureStopScreenGetsItsLastGoodColourBack) {
    SamplerRig rig;
    auto channel = rig.sampler->channel("A");
    rig.workspace.running.push_back(RunningApp{200, std::string("org.example.Vault"), "Vault"});
    rig.defaults.seed(kExcludedCaptureStopKey, PlistValue::array({"org.example.Vault"}));
    rig.startStreaming();
    rig.deliverSolid("A", Rgb{255, 255, 255});
    const Color good = rig.sampler->dominantColor();
    ASSERT_NE(good, Color::black());
    rig.sampler->refresh();  // notes the last good colour

    const auto vault = FakeWindowList::window(200, Rect{0, 24, 1512, 958}, WindowLevel::normal, "Vault", 9);
    const auto editor =
        FakeWindowList::window(kEditorPID, Rect{0, 24, 1512, 958}, WindowLevel::normal, "Editor", 7);
    rig.windows.setWindows({vault, editor});
    // A frame still in flight as the screen stops: its results are dropped.
    const auto stream = rig.streamOf("A");
    ASSERT_TRUE(stream->deliver(
        solidFrame(stream->configuration().width, stream->configuration().height, Rgb{0, 0, 0})));
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.sampler->captureStopScreens(), (std::set<ScreenID>{"A"}));
    EXPECT_FALSE(rig.sampler->hasActiveStream());
    EXPECT_EQ(rig.sampler->dominantColor(), good);
    const auto pulse = rig.sampler->colorPulse();

    rig.windows.setWindows({editor});
    rig.sampler->refresh();
    EXPECT_TRUE(rig.sampler->captureStopScreens().empty());
    EXPECT_EQ(rig.sampler->colorPulse(), pulse + 1) << "the last good colour is published again";
    EXPECT_EQ(channel->dominantColor(), std::optional<Color>(good));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

// ---- the filter update ----

TEST(SamplerRefresh, ANewSampleStopAppReachesTheRunningStreamsFilter) {
    SamplerRig rig;
    rig.capture.content.applications.push_back(CaptureApplication{300, "org.example.Player", "Player"});
    rig.startStreaming();
    const auto stream = rig.capture.lastStream();
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array({"org.example.Player"}));
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    ASSERT_EQ(stream->filters().size(), 2u);
    const auto& apps = stream->contentFilter().excludedApplications;
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[1].appId, "org.example.Player");
    EXPECT_EQ(rig.capture.streams().size(), 1u) << "no restart for a filter change";

    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(stream->filters().size(), 2u) << "nothing more to apply";
    // No update is left in flight: taking the app off the list reaches the filter as well.
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array());
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    ASSERT_EQ(stream->filters().size(), 3u);
    EXPECT_EQ(stream->contentFilter().excludedApplications.size(), 1u);
}

TEST(SamplerRefresh, ASampleStopAppThatIsNotRunningYetIsLeftOutOnceItRuns) {
    SamplerRig rig;
    rig.startStreaming();
    const auto stream = rig.capture.lastStream();
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array({"org.example.Player"}));
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(stream->contentFilter().excludedApplications.size(), 1u)
        << "nothing was left out, so nothing counts as applied";

    rig.capture.content.applications.push_back(CaptureApplication{300, "org.example.Player", "Player"});
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    const auto& apps = stream->contentFilter().excludedApplications;
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[1].processID, 300);
}

TEST(SamplerRefresh, AFilterUpdateSkipsAContextReplacedWhileItWaited) {
    SamplerRig rig({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
                    FakeScreens::make("B", Rect{1512, 0, 800, 600}, 24, 2)});
    rig.startStreaming();
    const auto streamB = rig.streamOf("B");
    rig.capture.setAutoComplete(false);
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array({"org.example.Player"}));
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.capture.pending(Call::shareableContent), 1u) << "the update reads the content first";

    // B is unplugged while the content is read.
    rig.setScreens({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)});
    rig.loop.runUntilIdle();
    rig.capture.setAutoComplete(true);
    while (rig.capture.completeNext(Call::shareableContent) || rig.capture.completeNext(Call::stopCapture) ||
           rig.capture.completeNext(Call::startCapture) ||
           rig.capture.completeNext(Call::updateContentFilter))
        rig.loop.runUntilIdle();
    rig.loop.runUntilIdle();
    EXPECT_EQ(streamB->filters().size(), 1u) << "the retired context's stream is left alone";
    // The update is over: the sample-stop app starting to run reaches A's stream.
    const auto streamA = rig.streamOf("A");
    ASSERT_TRUE(streamA && streamA->isRunning());
    const auto filtersBefore = streamA->filters().size();
    rig.capture.content.applications.push_back(CaptureApplication{300, "org.example.Player", "Player"});
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(streamA->filters().size(), filtersBefore + 1);
}

TEST(SamplerRefresh, AFailedFilterUpdateRebuildsTheStreams) {
    SamplerRig rig;
    rig.startStreaming();
    const auto first = rig.capture.lastStream();
    rig.capture.scriptFailure(Call::updateContentFilter, CaptureError{CaptureErrorCode::failedToStart, "no"});
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array({"org.example.Player"}));
    rig.capture.content.applications.push_back(CaptureApplication{300, "org.example.Player", "Player"});
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_FALSE(first->isRunning());
    const auto second = rig.capture.lastStream();
    ASSERT_NE(second, first);
    EXPECT_EQ(second->contentFilter().excludedApplications.size(), 2u);
    // The failed update is over: the next change reaches the new stream.
    rig.defaults.seed(kExcludedSampleStopKey, PlistValue::array());
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(second->contentFilter().excludedApplications.size(), 1u);
}

// ---- session events ----

TEST(SamplerRefresh, SleepingDisplaysStopEverythingAndWakingWithMasterOffStartsNothing) {
    SamplerRig rig;
    rig.startStreaming();
    rig.workspace.send(K::screensDidSleep);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->screensAsleep());
    EXPECT_FALSE(rig.sampler->hasActiveStream());
    rig.setGeometry(30);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capture.runningStreams().empty()) << "a new geometry starts nothing while asleep";
    EXPECT_EQ(rig.checksDuring(1.0), 0) << "no check while the displays sleep";

    rig.sampler->setMasterEnabled(false);
    rig.workspace.send(K::screensDidWake);
    EXPECT_EQ(rig.checksDuring(2), 0);
    EXPECT_FALSE(rig.sampler->hasActiveStream());

    rig.workspace.send(K::screensDidSleep);
    rig.sampler->setMasterEnabled(true);
    rig.workspace.send(K::screensDidWake);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream());
    EXPECT_GE(rig.checksDuring(1.0), 2) << "the 0.5 s check runs again";
}

TEST(SamplerRefresh, NothingDelayedRunsOnceTheSamplerIsGone) {
    SamplerRig rig;
    rig.startStreaming();
    int activityEnds = 0;
    rig.sampler->setOnMenuBarActivityEnded([&] { ++activityEnds; });
    // Another app's menu hangs from the bar for ten frames (the analysis looks every tenth) and closes; ten
    // frames later the analysis sees it gone, and frames count again once the menu's fade-out is over.
    const auto editor =
        FakeWindowList::window(kEditorPID, Rect{0, 24, 1512, 958}, WindowLevel::normal, "Editor", 7);
    rig.windows.setWindows(
        {FakeWindowList::window(kEditorPID, Rect{300, 24, 200, 300}, WindowLevel::popUpMenu, "Menu", 9),
         editor});
    rig.deliverSolid("A", Rgb{255, 255, 255}, 10);
    rig.windows.setWindows({editor});
    rig.deliverSolid("A", Rgb{255, 255, 255}, 10);
    rig.loop.advance(0.5);
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    // Windows moving in from off the screen's side: the desktop slides to another workspace.
    for (const double x : {1462.0, 1412.0}) {
        rig.windows.setWindows(
            {FakeWindowList::window(800, Rect{x, 100, 800, 600}, WindowLevel::normal, "Other", 5),
             FakeWindowList::window(800, Rect{x, 200, 800, 600}, WindowLevel::normal, "Other", 6)});
        rig.sampler->refresh();
    }
    ASSERT_TRUE(rig.sampler->isSlideGateOpen());
    ASSERT_EQ(activityEnds, 0);
    // The first frame that counts tells of the activity's end, and refreshes follow it later.
    rig.deliverHeld("A", Rgb{0, 0, 0});
    rig.emptyTop();
    EXPECT_EQ(activityEnds, 1);
    rig.sampler.reset();
    rig.loop.advance(120);
    for (const auto& s : rig.capture.streams()) EXPECT_FALSE(s->isRunning());
}

}  // namespace
}  // namespace velaro::test
