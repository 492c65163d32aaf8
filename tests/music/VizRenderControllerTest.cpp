// The visualizer controller on the virtual loop, with the recording window host, a renderer that records
// what it is given and scripted bands: when music counts as playing, fades and the overview, rebuilds,
// keeping above the app's other windows, ink, and the dark paths.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/Log.h"
#include "music/VizRenderController.h"
#include "music/WakeCountingLoop.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeDesktopAppearance.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

constexpr double kFrame = 1.0 / 60;

// What the controller hands its renderers, across rebuilds.
struct RenderLog {
    std::vector<double> dts;
    std::vector<float> alphas;
    std::vector<double> sigmas;
    std::vector<std::size_t> barCounts;
    VizUniforms last{};  // the uniforms of the last frame drawn
    int trailClears = 0;
    int made = 0;
    bool usable = true;
};

class RecordingRenderer final : public VizRenderer {
public:
    explicit RecordingRenderer(std::shared_ptr<RenderLog> log) : log_(std::move(log)) {}
    void encodeFrame(const VizFrame& frame) override {
        log_->dts.push_back(frame.dt);
        log_->alphas.push_back(frame.uniforms->u0.x);
        log_->last = *frame.uniforms;
    }
    void setBloomSigma(double points) override { log_->sigmas.push_back(points); }
    void setNeedsTrailClear() override { ++log_->trailClears; }
    bool isUsable() const override { return log_->usable; }

private:
    std::shared_ptr<RenderLog> log_;
};

class VizRenderControllerTest : public ::testing::Test {
protected:
    VizRenderControllerTest() {
        screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)});
        previousSink = setLogSink([this](std::string_view tag, std::string_view message) {
            if (tag == "VIZ") vizLines.emplace_back(message);
        });
    }
    ~VizRenderControllerTest() override {
        controller.reset();
        setLogSink(previousSink);
    }

    void make(std::optional<VizRenderPath> path = std::nullopt) {
        VizRenderServices services{
            .loop = controllerLoop,
            .host = host,
            .screens = screens,
            .bands = [this] { return std::span<const float>(bands); },
            .bandsReadInterval = [this](double seconds) { readIntervals.push_back(seconds); },
            .menuBar = {.filledWindowColor = [this] { return filled; },
                        .sampledColor = [this] { return sampled; },
                        .appearance = &appearance},
            .artworkColor = [this] { return artwork; },
            .makeRenderer = [this](OverlayWindow&,
                                   const std::vector<VizBarSlot>& bars) -> std::unique_ptr<VizRenderer> {
                ++log->made;
                log->barCounts.push_back(bars.size());
                if (!rendererWorks) return nullptr;
                return std::make_unique<RecordingRenderer>(log);
            }};
        if (path)
            services.renderPath = [this, path](OverlayWindow& glWindow) {
                ++pathQuestions;
                EXPECT_NE(glWindow.glSurface(), nullptr) << "the path is read from a GL window";
                return *path;
            };
        controller = std::make_unique<VizRenderController>(std::move(services), settings);
    }

    // Moves time on in small steps with bands at `level` that change a little every step, as music does.
    void play(double seconds, float level) {
        for (double t = 0; t < seconds - 1e-9; t += 0.05) {
            bands.assign(kVizBandCount, level);
            bands[5] += float(++wiggle % 7) * 1e-4f;
            loop.advance(0.05);
        }
    }
    // Moves time on with the bands as they are.
    void hold(double seconds) { loop.advance(seconds); }
    // Moves time on, a millisecond at a time with the bands as they are, to the first frame that fades the
    // bars out.
    void untilHidden() {
        for (int i = 0; i < 10000 && drawnAlpha() >= 1; ++i) loop.advance(0.001);
        ASSERT_LT(drawnAlpha(), 1);
    }
    // The fade as the renderer is handed it: the alpha of the last frame drawn, 0 before the first. A fade
    // draws every frame, so while the bars are on screen this is where the fade stands.
    float drawnAlpha() const { return log->alphas.empty() ? 0.0f : log->alphas.back(); }

    const FakeOverlayWindow* window() const {
        return static_cast<const FakeOverlayWindow*>(controller->window());
    }
    bool shown() const { return window() && window()->isVisible(); }

    VirtualLoop loop;
    WakeCountingLoop controllerLoop{loop};
    FakeDefaultsStore store;
    OverlaySettings settings{store, loop};
    FakeOverlayWindowHost host{loop};
    FakeScreens screens;
    std::vector<float> bands = std::vector<float>(kVizBandCount, 0.0f);
    std::optional<Color> filled;
    std::optional<Color> sampled;
    FakeDesktopAppearance appearance;
    std::optional<Color> artwork;
    bool rendererWorks = true;
    std::shared_ptr<RenderLog> log = std::make_shared<RenderLog>();
    std::unique_ptr<VizRenderController> controller;
    std::vector<std::string> vizLines;
    LogSink previousSink;
    int wiggle = 0;
    int pathQuestions = 0;
    std::vector<double> readIntervals;  // what the analysis was told of the frames' reads
};

TEST_F(VizRenderControllerTest, StartsPausedWithTheWindowOutAndABloomSigma) {
    settings.vizBloomRadius = 12.0;
    make();
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->name(), "viz-bar");
    EXPECT_FALSE(shown());
    EXPECT_EQ(log->made, 1);
    EXPECT_EQ(log->barCounts.front(), 640u) << "1920 pt at 2 pt bars and 1 pt gaps";
    EXPECT_EQ(log->sigmas, std::vector<double>{12.0});
    EXPECT_EQ(readIntervals, std::vector<double>{1.0 / 60}) << "the GPU path's frames read the bands";
    hold(2);
    EXPECT_TRUE(log->dts.empty()) << "no frames while nothing plays";
    EXPECT_EQ(log->made, 1) << "no rebuild of its own after creation";
}

TEST_F(VizRenderControllerTest, MusicStartsAtTheFirstTickWithSignalAndStopsAfterSilence) {
    struct Case {
        const char* name;
        float level;     // after the music
        bool frozen;     // the bands stop changing
        double stopsBy;  // seconds after the music ends
    };
    const Case cases[] = {{"silence", 0, false, 3.0}, {"frozen bands", 0.3f, true, 4.0}};
    for (const Case& c : cases) {
        controller.reset();
        make();
        play(0.2, 0.3f);
        EXPECT_FALSE(shown()) << c.name;
        play(0.1, 0.3f);  // the first tick, 0.25 s after creation
        EXPECT_TRUE(shown()) << c.name;
        play(1, 0.3f);
        if (c.frozen)
            hold(c.stopsBy - 0.3);
        else
            play(c.stopsBy - 0.3, c.level);
        EXPECT_EQ(drawnAlpha(), 1.0f) << c.name << ": too early";
        if (c.frozen)
            hold(0.5);
        else
            play(0.5, c.level);
        EXPECT_LT(drawnAlpha(), 1) << c.name << ": fading out";
    }
}

TEST_F(VizRenderControllerTest, FadesOutInHalfASecondOrAQuarterWithTheMenuBarHidden) {
    struct Case {
        bool menuBarHidden;
        double fade;
    };
    for (const Case& c : {Case{false, 0.5}, Case{true, 0.25}}) {
        controller.reset();
        screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)});
        make();
        play(1, 0.3f);
        ASSERT_EQ(drawnAlpha(), 1.0f) << "faded in within 0.3 s";
        if (c.menuBarHidden)  // a full-screen app: the visible frame reaches the top
            screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 0)});
        else
            play(2.8, 0);  // not yet three seconds of silence
        ASSERT_EQ(drawnAlpha(), 1.0f) << "still shown";
        untilHidden();
        const std::size_t framesBefore = log->dts.size();
        hold(c.fade - 0.05);
        EXPECT_NEAR(drawnAlpha(), (0.05 - kFrame) / c.fade, 0.5 * kFrame / c.fade) << "the fade's last steps";
        EXPECT_TRUE(shown());
        hold(0.1);
        EXPECT_LE(drawnAlpha(), kFrame / c.fade + 1e-6) << "the last frame drawn was the fade's last step";
        EXPECT_FALSE(shown()) << "ordered out when the fade ends";
        const std::size_t framesAtEnd = log->dts.size();
        EXPECT_NEAR(double(framesAtEnd - framesBefore), c.fade * 60, 3);
        hold(1);
        EXPECT_EQ(log->dts.size(), framesAtEnd) << "the display link pauses";
    }
}

TEST_F(VizRenderControllerTest, TheFirstFrameAfterAHideStepsOneSixtieth) {
    make();
    play(1, 0.3f);
    ASSERT_FALSE(log->dts.empty());
    EXPECT_DOUBLE_EQ(log->dts.front(), kFrame);
    play(4, 0);
    hold(1);
    ASSERT_FALSE(shown());
    const std::size_t hidden = log->dts.size();
    hold(10);
    play(0.5, 0.3f);
    ASSERT_GT(log->dts.size(), hidden);
    EXPECT_DOUBLE_EQ(log->dts[hidden], kFrame) << "not the ten seconds since the last frame shown";
}

TEST_F(VizRenderControllerTest, TheOverviewHidesAtOnceAndNoFadeResumesWhileItLasts) {
    make();
    play(1, 0.3f);
    bands.assign(kVizBandCount, 0);
    untilHidden();
    hold(0.2);
    ASSERT_TRUE(shown());
    ASSERT_GT(drawnAlpha(), 0);
    ASSERT_LT(drawnAlpha(), 1) << "fading out";
    controller->setOverviewActive(true);
    EXPECT_FALSE(shown());
    const std::size_t frames = log->dts.size();
    play(2, 0.3f);  // music again, still in the overview
    EXPECT_FALSE(shown());
    EXPECT_EQ(log->dts.size(), frames);
    controller->setOverviewActive(false);
    EXPECT_TRUE(shown()) << "at once: the music was heard meanwhile";
    play(0.5, 0.3f);
    ASSERT_GT(log->alphas.size(), frames);
    // The overview left the fade at nothing: the bars fade in from there, over 0.3 s, a display frame's worth
    // first.
    EXPECT_NEAR(log->alphas[frames], kFrame / 0.3, 1e-3) << "the fade starts over from nothing";
    EXPECT_EQ(drawnAlpha(), 1.0f);

    // Entering it while fully shown hides at once too, and the fade is back at nothing.
    controller->setOverviewActive(true);
    EXPECT_FALSE(shown());
    const std::size_t shownFrames = log->alphas.size();
    controller->setOverviewActive(false);
    play(0.1, 0.3f);
    ASSERT_GT(log->alphas.size(), shownFrames);
    EXPECT_NEAR(log->alphas[shownFrames], kFrame / 0.3, 1e-3) << "the fade starts over from nothing";
}

TEST_F(VizRenderControllerTest, SettingsChangesRebuildOnceAfterAQuarterSecond) {
    make();
    settings.vizBarThickness = 4.0;
    hold(0.1);
    settings.vizBarGap = 4.0;
    hold(0.2);
    EXPECT_EQ(log->made, 1) << "still within 250 ms of the last change";
    hold(0.1);
    EXPECT_EQ(log->made, 2) << "one rebuild for two changes";
    EXPECT_EQ(log->barCounts.back(), 240u) << "1920 pt at an 8 pt pitch";

    settings.vizBloomRadius = 6.0;
    settings.vizBloomRadius = 8.0;
    hold(0.3);
    EXPECT_EQ(log->sigmas.back(), 8.0);
    EXPECT_EQ(log->sigmas.size(), 3u) << "one at each start, one for the two changes";

    screens.setScreens({FakeScreens::make("narrow", Rect(0, 0, 20, 600), 28)});
    screens.sendParametersChanged();
    EXPECT_EQ(log->made, 3);
    EXPECT_EQ(log->barCounts.back(), 8u) << "a narrow screen still gets 8 bars";
}

TEST_F(VizRenderControllerTest, StaysAboveTheAppsWindowsOfItsLevelButUnderTheProgressBar) {
    make();
    play(1, 0.3f);
    OverlayWindowOptions band{
        "overlay-bar", Rect(0, 1052, 1920, 28), OverlayWindowLevel::belowPanel, 1.0, {}};
    auto other = host.makeWindow(band);
    other->orderFrontRegardless();
    ASSERT_EQ(host.lastStack().front(), "overlay-bar");
    play(0.25, 0.3f);
    EXPECT_EQ(host.lastStack().front(), "viz-bar");

    band.name = "progress-bar";
    auto progress = host.makeWindow(band);
    progress->orderFrontRegardless();
    play(0.5, 0.3f);
    EXPECT_EQ(host.lastStack().front(), "progress-bar") << "the progress bar stays in front";
    EXPECT_EQ(host.lastStack()[1], "viz-bar");
}

TEST_F(VizRenderControllerTest, InkFollowsTheDesktopAtOnceEvenWhileTheBarsRest) {
    settings.vizColorMode = std::string("mono");
    sampled = Color::rgb(0.2, 0.25, 0.3);  // a dark wallpaper, and no preference published
    make();
    play(1, 0.3f);
    EXPECT_EQ(log->last.u0.w, 0.0f) << "mono bars on a dark desktop are light";
    hold(2.6);  // the bands stand still: the bars settle and their frames are left out
    const std::size_t drawn = log->dts.size();
    hold(0.1);
    ASSERT_EQ(log->dts.size(), drawn) << "at rest";
    appearance.scheme = ColorSchemePreference::light;
    loop.advance(0.03);  // the next tick is 0.04 s away
    ASSERT_GT(log->dts.size(), drawn) << "the ink change wakes the bars at once, not at the next tick";
    EXPECT_GT(log->last.u0.w, 0.0f) << "towards dark ink";
    hold(0.3);
    EXPECT_EQ(log->last.u0.w, 1.0f) << "the crossfade to dark ink is drawn";
}

TEST_F(VizRenderControllerTest, ArtworkModesTakeTheCoverColourAndThePickedOneWithoutACover) {
    settings.vizColorMode = std::string("artwork");
    settings.vizWaveColorMode = std::string("artwork");
    settings.vizSolidColor = Color::rgb(0, 0, 1);
    make();
    // The hues the renderers draw the bars (u1.y) and the waves (u3.y) with.
    const auto uniforms = [&]() -> const VizUniforms& { return log->last; };
    play(2, 0.3f);
    EXPECT_NEAR(uniforms().u1.y, 240, 0.5) << "no cover yet: the picked colour";
    artwork = Color::rgb(0.1, 0.8, 0.1);
    play(2, 0.3f);
    EXPECT_NEAR(uniforms().u1.y, 120, 0.5) << "the cover's green";
    EXPECT_NEAR(uniforms().u3.y, 120, 0.5);
    artwork.reset();  // the next track, its cover not fetched yet
    play(2, 0.3f);
    EXPECT_NEAR(uniforms().u1.y, 240, 0.5);
}

TEST_F(VizRenderControllerTest, WithoutACompositorItRunsDarkAndSaysWhyOnce) {
    host.setSupportsTranslucency(false);
    make();
    EXPECT_EQ(controller->window(), nullptr);
    play(2, 0.3f);
    settings.vizBarThickness = 3.0;
    hold(0.5);
    EXPECT_EQ(log->made, 0);
    ASSERT_EQ(vizLines.size(), 1u);
    EXPECT_NE(vizLines.front().find("compositor"), std::string::npos);

    host.setSupportsTranslucency(true);
    play(0.25, 0.3f);
    ASSERT_NE(controller->window(), nullptr) << "the next tick brings the window";
    play(0.5, 0.3f);
    EXPECT_TRUE(shown());
}

TEST_F(VizRenderControllerTest, NoMainScreenOrNoRendererKeepNothing) {
    screens.setScreens({}, -1);
    make();
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_EQ(log->made, 0);
    play(1, 0.3f);

    rendererWorks = false;
    screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)});
    screens.sendParametersChanged();
    EXPECT_EQ(log->made, 1);
    EXPECT_EQ(controller->window(), nullptr) << "no window without its renderer";
    EXPECT_TRUE(host.allWindows().empty());
    play(1, 0.3f);
    EXPECT_EQ(log->made, 1) << "a failed renderer is not retried every tick";
}

TEST_F(VizRenderControllerTest, ALostRendererIsBuiltAnew) {
    make();
    play(1, 0.3f);
    ASSERT_TRUE(shown());
    log->usable = false;
    hold(kFrame * 2);
    log->usable = true;
    EXPECT_EQ(log->made, 2);
    play(1, 0.3f);
    EXPECT_TRUE(shown()) << "the next tick shows it again";
    EXPECT_EQ(drawnAlpha(), 1.0f);
}

TEST_F(VizRenderControllerTest, ShowingAndStyleChangesStartTheTrailClean) {
    make();
    play(1, 0.3f);
    EXPECT_EQ(log->trailClears, 1) << "shown";
    settings.vizStyle = std::string("waves");
    play(0.25, 0.3f);
    EXPECT_EQ(log->trailClears, 2) << "style changed";
    play(0.5, 0.3f);
    EXPECT_EQ(log->trailClears, 2);
}

TEST_F(VizRenderControllerTest, OnACPURasteriserItPaintsAPaintedWindowThirtyTimesASecond) {
    make(VizRenderPath::raster);
    ASSERT_NE(controller->window(), nullptr);
    EXPECT_EQ(controller->window()->name(), kVizBarWindowName);
    EXPECT_EQ(const_cast<OverlayWindow*>(controller->window())->glSurface(), nullptr) << "a painted window";
    EXPECT_EQ(host.allWindows().size(), 1u) << "the GL window that told the path is gone";
    EXPECT_EQ(log->made, 0) << "no GPU renderer";
    play(1, 0.3f);
    ASSERT_TRUE(shown());
    EXPECT_EQ(readIntervals, std::vector<double>{1.0 / 30}) << "the analysis makes no sets it never draws";
    // Bands change 20 times a second here: every display frame that comes has new ones.
    const int paintsBefore = window()->paintCount();
    play(1, 0.3f);
    EXPECT_NEAR(window()->paintCount() - paintsBefore, 20, 2) << "a frame drawn and painted once for each";
    const QImage shot = FakeOverlayWindowHost::render(*controller->window());
    EXPECT_GT(qAlpha(shot.pixel(960, 2)), 200) << "the bars reach the window";

    // A rebuild keeps the path without asking again.
    const WindowNumber firstWindow = controller->window()->windowNumber();
    settings.vizBarThickness = 3.0;
    play(0.5, 0.3f);
    ASSERT_NE(controller->window(), nullptr);
    EXPECT_NE(controller->window()->windowNumber(), firstWindow) << "rebuilt with a window of its own";
    EXPECT_EQ(pathQuestions, 1);
    EXPECT_EQ(const_cast<OverlayWindow*>(controller->window())->glSurface(), nullptr);
}

TEST_F(VizRenderControllerTest, FramesThatWouldShowNothingNewAreLeftOut) {
    settings.vizColorMode = std::string("mono");
    make();
    play(1, 0.3f);
    ASSERT_EQ(drawnAlpha(), 1.0f);
    // New bands 20 times a second, frames 60: one frame each, which takes the time of those left out.
    std::size_t before = log->dts.size();
    play(1, 0.3f);
    EXPECT_NEAR(double(log->dts.size() - before), 20, 2);
    EXPECT_NEAR(log->dts.back(), 0.05, 1e-9);

    // Bands that stop: the bars settle and the trail fades frame by frame, then nothing is drawn until they
    // change again.
    hold(2.5);
    before = log->dts.size();
    const long displayFrames = controllerLoop.displayFrames();
    hold(1);
    EXPECT_EQ(log->dts.size(), before) << "a picture standing still is drawn again";
    EXPECT_GT(controllerLoop.displayFrames() - displayFrames, 50)
        << "the display link runs on, its frames left out";
    play(0.05, 0.3f);
    EXPECT_EQ(log->dts.size(), before + 1);

    // A fade draws every frame whatever the bands do.
    settings.vizColorMode = std::string("rainbow");
    play(0.25, 0.3f);
    bands.assign(kVizBandCount, 0);
    untilHidden();
    before = log->dts.size();
    hold(0.25);
    EXPECT_NEAR(double(log->dts.size() - before), 15, 1);
}

TEST_F(VizRenderControllerTest, StopEndsEverything) {
    make();
    play(1, 0.3f);
    controller->stop();
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_TRUE(host.allWindows().empty());
    const std::size_t frames = log->dts.size();
    settings.vizBarThickness = 5.0;
    screens.sendParametersChanged();
    play(2, 0.3f);
    EXPECT_EQ(log->dts.size(), frames);
    EXPECT_EQ(log->made, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

}  // namespace
}  // namespace velaro::test
