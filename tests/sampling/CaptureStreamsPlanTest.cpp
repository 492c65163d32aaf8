// The strip, pixel size, frame rate and line configuration a stream is given, and the content filter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sampling/CaptureStreams.h"

namespace velaro {
namespace {

StreamPlanInput baseInput(double width = 1512) {
    StreamPlanInput in;
    in.displayWidth = width;
    in.displayHeight = 982;
    in.geometry = CaptureGeometry{24, TopBlurGeometry{}};
    in.cornerRadius = 32;
    return in;
}

TEST(StreamPlan, StillCaptureTakesSixPointsBelowTheBarAtOnePixelPerPoint) {
    auto in = baseInput();
    in.backingScale = 2;  // ignored without live capture
    const auto plan = planStream(in);
    EXPECT_EQ(plan.sourceRect, (Rect{0, 24, 1512, 6}));
    EXPECT_EQ(plan.width, 1512);
    EXPECT_EQ(plan.height, 6);
    EXPECT_EQ(plan.framesPerSecond, 15);
    EXPECT_DOUBLE_EQ(plan.configuration().minimumFrameInterval, 1.0 / 15);
    EXPECT_EQ(plan.configuration().queueDepth, 4);
    EXPECT_EQ(plan.lineConfig.lineRowY, 3);
    EXPECT_NEAR(plan.lineConfig.smoothingAlpha, 0.51, 1e-12);
    EXPECT_FALSE(plan.lineConfig.publishesImage);
    EXPECT_FALSE(plan.lineConfig.unifiedBlur.has_value());
    EXPECT_EQ(plan.lineConfig.edgeInsetPixels, 40);
    EXPECT_DOUBLE_EQ(plan.lineConfig.imagePointWidth, 1512);
}

TEST(StreamPlan, LiveCaptureUsesTheBackingScaleAndTheChosenRate) {
    auto in = baseInput();
    in.liveCaptureEnabled = true;
    in.liveCaptureFPS = 60;
    in.backingScale = 2;
    const auto plan = planStream(in);
    EXPECT_EQ(plan.width, 3024);
    EXPECT_EQ(plan.height, 12);
    EXPECT_EQ(plan.lineConfig.lineRowY, 6);
    EXPECT_EQ(plan.lineConfig.lightBandHeightPx, 60);
    EXPECT_NEAR(plan.lineConfig.smoothingAlpha, 0.163, 0.001);
    EXPECT_TRUE(plan.lineConfig.publishesImage);
    EXPECT_EQ(plan.lineConfig.edgeInsetPixels, 80);
    EXPECT_DOUBLE_EQ(plan.configuration().minimumFrameInterval, 1.0 / 60);
}

TEST(StreamPlan, BlurCaptureTakesTheTopOfTheScreenDownToTheStrip) {
    auto in = baseInput();
    in.blurCaptureEnabled = true;
    in.geometry.topBlur = TopBlurGeometry{24, 10, 12};
    in.liveCaptureEnabled = true;
    in.backingScale = 2;
    const auto plan = planStream(in);
    EXPECT_EQ(plan.sourceRect, (Rect{0, 0, 1512, 36}));
    EXPECT_EQ(plan.lineConfig.lineRowY, 54);
    ASSERT_TRUE(plan.lineConfig.unifiedBlur.has_value());
    const auto& u = *plan.lineConfig.unifiedBlur;
    EXPECT_EQ(u.overlayHeightPixels, 48);
    EXPECT_EQ(u.leftRadiusPixels, 20);
    EXPECT_EQ(u.rightRadiusPixels, 24);
    EXPECT_EQ(u.overlayPointSize, (Size{1512, 24}));
    EXPECT_EQ(u.rightPointSize, (Size{12, 12}));

    in.lightReflectionsEnabled = true;
    in.geometry.topBlur = TopBlurGeometry{24, 0, 0};
    EXPECT_EQ(planStream(in).sourceRect.height(), 60);
}

TEST(StreamPlan, ReflectionsWidenTheStripAndPlaceTheBeamBand) {
    auto in = baseInput(1920);
    in.lightReflectionsEnabled = true;
    const auto plan = planStream(in);
    EXPECT_EQ(plan.sourceRect, (Rect{0, 24, 1920, 36}));
    EXPECT_EQ(plan.lineConfig.lightRowY, 21);
    EXPECT_DOUBLE_EQ(plan.lineConfig.beamActivationMinY, 30);
    EXPECT_DOUBLE_EQ(plan.lineConfig.beamActivationMaxY, 80);
    EXPECT_TRUE(plan.lineConfig.lightReflections);
}

TEST(StreamPlan, TheStripIsMadeWholeAndCutToTheDisplay) {
    auto in = baseInput(1000.5);
    in.displayHeight = 27;
    in.geometry.captureHeight = 23.4;
    const auto plan = planStream(in);
    // 23.4…29.4 made whole is 23…30, then cut at the display's 27 pt.
    EXPECT_EQ(plan.sourceRect, (Rect{0, 23, 1000.5, 4}));
    EXPECT_EQ(plan.width, 1000);
}

TEST(StreamPlan, ARateBelowOneCountsAsOneFramePerSecond) {
    EXPECT_EQ(streamFramesPerSecond(true, 0), 1);
    EXPECT_EQ(streamFramesPerSecond(true, -30), 1);
    EXPECT_EQ(streamFramesPerSecond(false, -30), 15);
    auto in = baseInput();
    in.liveCaptureEnabled = true;
    in.liveCaptureFPS = 0;
    const auto plan = planStream(in);
    EXPECT_DOUBLE_EQ(plan.configuration().minimumFrameInterval, 1.0);
    EXPECT_TRUE(std::isfinite(plan.lineConfig.smoothingAlpha));
}

TEST(StreamPlan, GeometryThatIsNotANumberGivesAStripAtTheTopNotGarbage) {
    auto in = baseInput();
    in.geometry.captureHeight = std::nan("");
    in.geometry.topBlur.overlayHeight = std::numeric_limits<double>::infinity();
    in.blurCaptureEnabled = true;
    in.lightReflectionsEnabled = true;
    const auto plan = planStream(in);
    EXPECT_EQ(plan.sourceRect, (Rect{0, 0, 1512, 36}));
    EXPECT_EQ(plan.lineConfig.lineRowY, 3);
    EXPECT_EQ(plan.lineConfig.lightRowY, 21);
    EXPECT_EQ(plan.lineConfig.unifiedBlur->overlayHeightPixels, 0);
}

TEST(StreamPlan, GuardZonesCoverEachBarAndFourPointsBelow) {
    ScreenInfo a{"A", "A", 1, Rect{0, 0, 1512, 982}, Rect{0, 0, 1512, 958}, 2};
    ScreenInfo b{"B", "B", 2, Rect{1512, 182, 1920, 1080}, Rect{1512, 182, 1920, 1080}, 1};
    const auto zones = menuBarGuardZones({a, b}, 22);
    ASSERT_EQ(zones.size(), 2u);
    EXPECT_EQ(zones[0], (Rect{0, 0, 1512, 28}));
    // B's top lies 280 pt above A's; it has no panel, so the status thickness stands in.
    EXPECT_EQ(zones[1], (Rect{1512, -280, 1920, 26}));
}

// ---- content filter ----

struct FilterFixture : ::testing::Test {
    CaptureDisplay display{1, Rect{0, 0, 1512, 982}};
    CaptureApplication own{10, "com.quornet.Velaro", "Velaro"};
    CaptureApplication player{20, "org.example.Player", "Player"};
    CaptureApplication editor{30, "org.example.Editor", "Editor"};
    ShareableContent content;
    void SetUp() override {
        content.displays = {display};
        content.applications = {editor, own, player};
        content.windows = {CaptureWindow{1, Rect{0, 0, 100, 30}, "bar", own, true, false},
                           CaptureWindow{2, Rect{0, 0, 800, 600}, "", player, true, false},
                           CaptureWindow{3, Rect{0, 0, 800, 600}, "", std::nullopt, true, false}};
    }
};

TEST_F(FilterFixture, LeavesOutOurAppAndTheSampleStopAppsFoundInTheContent) {
    const auto choice =
        makeContentFilter(content, display, own.appId, own.processID, {player.appId, "org.absent.App"});
    EXPECT_EQ(choice.filter.excludedApplications, (std::vector<CaptureApplication>{own, player}));
    EXPECT_TRUE(choice.filter.excludedWindows.empty());
    EXPECT_FALSE(choice.filter.includeMenuBar);
    // The absent app was not left out, so it does not count as applied.
    EXPECT_EQ(choice.appliedSampleStop, (std::set<std::string>{player.appId}));
}

TEST_F(FilterFixture, AnEmptySampleStopSetLeavesOutOnlyOurApp) {
    const auto choice = makeContentFilter(content, display, own.appId, own.processID, {});
    EXPECT_EQ(choice.filter.excludedApplications, (std::vector<CaptureApplication>{own}));
    EXPECT_TRUE(choice.appliedSampleStop.empty());
}

TEST_F(FilterFixture, OurAppIsLeftOutByItsProcessBeforeItHasAWindow) {
    content.applications = {editor, player};
    content.windows.erase(content.windows.begin());
    const auto choice = makeContentFilter(content, display, own.appId, own.processID, {});
    // An overlay window that shows after the stream started is ours, and stays out of the picture.
    EXPECT_TRUE(choice.filter.excludes(own.processID, 77, false));
    EXPECT_FALSE(choice.filter.excludes(editor.processID, 9, false));
}

TEST_F(FilterFixture, WithoutOurAppOrProcessTheSampleStopAppsAreStillLeftOut) {
    content.applications = {editor, player};
    content.windows[0].owningApplication.reset();
    const auto choice = makeContentFilter(content, display, own.appId, 0, {player.appId});
    EXPECT_TRUE(choice.filter.excludedWindows.empty());
    EXPECT_EQ(choice.filter.excludedApplications, (std::vector<CaptureApplication>{player}));
    EXPECT_TRUE(choice.filter.excludes(player.processID, 2, false));
    EXPECT_FALSE(choice.filter.excludes(editor.processID, 9, false));
    EXPECT_EQ(choice.appliedSampleStop, (std::set<std::string>{player.appId}));
}

TEST_F(FilterFixture, WithoutOurIdentifierTheWindowsOfNoAppAreLeftOut) {
    const auto choice = makeContentFilter(content, display, std::nullopt, own.processID, {});
    ASSERT_EQ(choice.filter.excludedWindows.size(), 1u);
    EXPECT_EQ(choice.filter.excludedWindows[0].windowID, 3u);
}

}  // namespace
}  // namespace velaro
