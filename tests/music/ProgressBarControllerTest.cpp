// The progress bar's display side on the virtual loop: the window and its line, the fill's animation and its
// steps from pixel to pixel with the parts they repaint, the colour modes and the ink, fades with the panel,
// the overview and auto-hide, staying in front of the visualizer, an idle tick, and what a stopped bar
// leaves behind.
#include <gtest/gtest.h>

#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cmath>

#include "music/ProgressBarRig.h"
#include "music/ProgressBarView.h"
#include "music/VizBarWindow.h"

namespace velaro::test {
namespace {

class ProgressBarTest : public ::testing::Test, public ProgressBarRig {};

TEST_F(ProgressBarTest, AThinLineAlongTheTopOfTheMainScreenUnderThePanel) {
    screens.setScreens({FakeScreens::make("left", Rect(-1440, 0, 1440, 900), 28),
                        FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)},
                       1);
    makePlaying(0.5);
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(host.allWindows().size(), 1u) << "only the main screen gets a bar";
    EXPECT_EQ(window()->name(), "progress-bar");
    EXPECT_EQ(window()->frame(), Rect(0, 1064, 1920, 16));
    EXPECT_EQ(window()->level(), OverlayWindowLevel::belowPanel);
    EXPECT_FALSE(window()->takesMouse());
    EXPECT_TRUE(shown());

    const QImage image = render();
    EXPECT_GT(qAlpha(image.pixel(500, 0)), 0);
    EXPECT_GT(qAlpha(image.pixel(500, 1)), 0);
    EXPECT_EQ(qAlpha(image.pixel(500, 2)), 0) << "2 device pixels at a ratio of 1";
    EXPECT_GT(qAlpha(image.pixel(950, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(970, 0)), 0) << "half of 1920 points is filled";
    EXPECT_LT(qAlpha(image.pixel(5, 0)), qAlpha(image.pixel(900, 0))) << "it fades in from the left";
    EXPECT_EQ(qRed(qUnpremultiply(image.pixel(900, 0))), 255) << "white on a dark menu bar";

    // At a ratio of 2 the line is still 2 device pixels: 1 point.
    screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)});
    auto retina = screens.screens();
    retina[0].backingScale = 2;
    screens.setScreens(retina);
    screens.sendParametersChanged();
    loop.advance(1);
    EXPECT_NEAR(bar->look().line, 1.0, 1e-9);
}

TEST_F(ProgressBarTest, TheFillMovesToProgressTimesWidthOverAThirdOfASecond) {
    makePlaying(0.5);
    EXPECT_NEAR(fillWidth(), 960, 1e-6);
    engine.show(0.75, 200, true);
    loop.runUntilIdle();  // the engine's change starts the move from 960
    const double start = loop.uptime();
    loop.advance(0.15);
    EXPECT_NEAR(fillWidth(), 960 + 480 * 0.5, 20) << "half way after 0.15 s";
    loop.advance(0.2);
    EXPECT_NEAR(fillWidth(), 1440, 1e-6) << "there by 0.3 s";
    EXPECT_GE(loop.uptime() - start, 0.3);
}

// What a host that repaints only the parts the window names shows after each paint, against a paint of the
// whole window: the largest difference of any colour component, in 255ths.
int partialRepaintError(FakeOverlayWindow& window, QImage& screen) {
    const Size size = window.frame().size;
    QRegion parts;
    for (const Rect& r : window.paintedArea(size))
        parts += QRectF(r.x(), r.y(), r.width(), r.height()).toAlignedRect();
    if (parts.isEmpty()) parts = QRect(0, 0, screen.width(), screen.height());
    {
        QPainter painter(&screen);
        painter.setClipRegion(parts);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(screen.rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing);
        window.content()(painter, size);
    }
    const QImage whole = FakeOverlayWindowHost::render(window);
    int worst = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x) {
            const QRgb a = screen.pixel(x, y), b = whole.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    return worst;
}

// A track of 192 s moves the line ten pixels a second along 1920 points.
TEST_F(ProgressBarTest, APlayingLineStepsPixelByPixelRepaintingOnlyWhatChangedAndRestsWhenPaused) {
    for (const char* mode : {"mono", "rainbow"}) {
        SCOPED_TRACE(mode);
        settings.progressColorMode = std::string(mode);
        engine.show(0.4, 192, true);
        make();
        loop.advance(0.5);
        QImage screen = render();
        const int paintsBefore = window()->paintCount();
        int seen = paintsBefore, narrow = 0, worst = 0;
        barLoop.clear();
        const double start = loop.uptime();
        while (loop.uptime() - start < 3) {
            engine.snap.progress01 = 0.4 + (loop.uptime() - start) / 192;
            loop.advance(0.01);
            if (window()->paintCount() == seen) continue;
            seen = window()->paintCount();
            const auto area = window()->paintedArea(window()->frame().size);
            narrow += area.size() == 1 && area.front().width() <= 2;
            worst = std::max(worst, partialRepaintError(*window(), screen));
        }
        const int paints = seen - paintsBefore;
        EXPECT_NEAR(fillWidth(), 768 + 10 * 2.7, 1) << "gliding 0.3 s behind the track";
        if (std::string(mode) == "mono") {
            EXPECT_NEAR(paints, std::lround(fillWidth()) - 768, 1) << "a paint for each pixel the end moves";
            EXPECT_GT(narrow, paints / 2) << "mostly the end's columns alone";
        } else {
            EXPECT_LE(paints, 33) << "the turning colours are painted a tick at a time";
        }
        EXPECT_LE(barLoop.wakes(), 33u) << "the ticks share their wake-ups with the steps";
        EXPECT_LE(worst, 1) << "the parts repainted leave the window as a whole paint would";

        // Paused, the line rests: the tick goes on, nothing else wakes and nothing is painted.
        engine.show(*engine.snap.progress01, 192, false);
        loop.advance(0.5);
        const int resting = window()->paintCount();
        barLoop.clear();
        loop.advance(3);
        EXPECT_EQ(window()->paintCount(), resting);
        EXPECT_LE(barLoop.wakes(), 31u);
        bar.reset();
    }
}

TEST(ProgressBarFill, StepsToWholeDevicePixelsAndKnowsWhenItsGradientShifts) {
    const FillGlide up{.from = 100, .to = 110, .start = 1, .duration = 0.3};
    EXPECT_DOUBLE_EQ(up.at(1.15), 105);
    EXPECT_DOUBLE_EQ(up.at(2), 110);
    EXPECT_NEAR(*up.nextPixelTime(1, 1), 1.015, 1e-9) << "half way to the next pixel, it shows that one";
    EXPECT_NEAR(*up.nextPixelTime(1, 2), 1.0075, 1e-9) << "a point is two pixels at a ratio of 2";
    EXPECT_FALSE(up.nextPixelTime(1.29, 1)) << "on the last pixel already";
    const FillGlide down{.from = 110, .to = 100, .start = 0, .duration = 0.3};
    EXPECT_NEAR(*down.nextPixelTime(0, 1), 0.015, 1e-9);
    EXPECT_FALSE((FillGlide{.from = 5, .to = 5, .duration = 1}.nextPixelTime(0, 1)));

    const auto mono = progressGradient({.mode = ProgressColorMode::mono});  // opacity from 0.25 to 1
    EXPECT_NEAR(gradientStretchChange(mono, 750, 760), 0.75 * 10 / 760, 1e-12);
    EXPECT_EQ(gradientStretchChange(mono, 0, 760), 0) << "an empty fill leaves nothing to shift";
    EXPECT_EQ(gradientStretchChange({Color::white()}, 750, 760), 0);
}

TEST_F(ProgressBarTest, AnInvalidPictureHidesTheBarAndFreezesTheFill) {
    makePlaying(0.5);
    engine.show(std::nullopt, 0, false);
    loop.advance(0.05);
    EXPECT_LT(window()->alphaValue(), 1) << "fading out";
    loop.advance(0.6);
    EXPECT_FALSE(window()->isVisible()) << "ordered out after the fade";
    EXPECT_NEAR(fillWidth(), 960, 1e-6);
}

TEST_F(ProgressBarTest, TheRainbowTurnsTwelveDegreesASecondOnlyWhilePlaying) {
    settings.progressColorMode = std::string("rainbow");
    makePlaying();
    // How far the rainbow has turned: the hue its first stop starts at, in degrees.
    const auto turn = [&] { return toHsb(bar->look().fillStops.front()).hue * 360; };
    const double before = turn();
    loop.advance(10);
    EXPECT_NEAR(std::fmod(turn() - before + 360, 360), 120, 1.5);
    engine.show(0.3, 200, false);
    loop.advance(0.2);
    const std::vector<Color> paused = bar->look().fillStops;
    loop.advance(3);
    EXPECT_EQ(bar->look().fillStops, paused);
    EXPECT_EQ(bar->look().fillStops.size(), 8u);
}

// The stored mode picks the colours; one the line does not know (a profile may hold any string) paints the
// solid colour, as it always did.
TEST_F(ProgressBarTest, TheStoredColourModePicksTheStopsAndAnUnknownOnePaintsTheSolidColour) {
    settings.progressSolidColor = Color::rgb(1.0, 0.451, 0.0);
    const auto stopsFor = [&](const char* mode) {
        settings.progressColorMode = std::string(mode);
        makePlaying();
        std::vector<Color> stops = bar->look().fillStops;
        bar.reset();
        return stops;
    };
    const auto solid = stopsFor("solid");
    ASSERT_EQ(solid.size(), 2u);
    EXPECT_EQ(solid.back(), Color::rgb(1.0, 0.451, 0.0));
    EXPECT_EQ(stopsFor("plaid"), solid);
    EXPECT_EQ(stopsFor("mono").back(), Color::white());
    EXPECT_EQ(stopsFor("rainbow").size(), 8u);
}

TEST_F(ProgressBarTest, TheInkFollowsAFilledWindowWithHysteresis) {
    // A track so long that the line's end stays on its pixel: nothing moves the ticks off their tenth of a
    // second.
    engine.show(0.25, 1e6, true);
    make();
    loop.advance(0.5);
    // The mono line's grey: 1 (white) on a dark menu bar, 0 (black) on a light one, between while the ink
    // eases. The line's colours glide a third of a second behind the ink.
    const auto grey = [&] { return bar->look().fillStops.back().red; };
    // Moves time on a hundredth of a second at a time until the ink is `light`, for at most 0.6 s.
    const auto untilInk = [&](bool light) {
        for (int i = 0; i < 60 && bar->look().trackInkDark != light; ++i) loop.advance(0.01);
    };
    struct Step {
        std::optional<double> gray;  // the filled window's colour; none: no filled window
        bool light;
    };
    // Between 0.4 and 0.6 the ink keeps what it had.
    const Step steps[] = {{0.9, true},  {0.55, true}, {0.45, true},         {0.3, false},
                          {0.5, false}, {0.61, true}, {std::nullopt, false}};
    for (const Step& s : steps) {
        filled = s.gray ? std::optional<Color>(Color::rgb(*s.gray, *s.gray, *s.gray)) : std::nullopt;
        untilInk(s.light);
        EXPECT_EQ(bar->look().trackInkDark, s.light) << (s.gray ? *s.gray : -1);
        loop.advance(0.25 + 0.3 + 0.01);
        EXPECT_EQ(bar->look().trackInkDark, s.light) << (s.gray ? *s.gray : -1);
        EXPECT_EQ(grey(), s.light ? 0.0 : 1.0) << "eased all the way within a quarter second";
    }
    filled = Color::white();
    untilInk(true);  // the visibility check sees it; this tick and the next ones ease
    ASSERT_TRUE(bar->look().trackInkDark);
    // Until the next tick the line heads for the mix this tick eased to, evenly over 0.3 s: how fast it
    // moves tells how far the mix went in a tick.
    const double turned = grey();
    loop.advance(0.05);
    EXPECT_NEAR((turned - grey()) / 0.05 * 0.3, 0.4, 1e-6) << "at most four times the tick's time";
    // So the ink takes three ticks (0.4, 0.8, 1), and the line's glide towards the last of them ends 0.3 s
    // after it: half a second after the ink turned, not before.
    loop.advance(0.39);
    EXPECT_GT(grey(), 0);
    loop.advance(0.07);
    EXPECT_EQ(grey(), 0) << "the ink was all the way dark by the third tick";
    EXPECT_EQ(bar->look().fillStops.back(), Color::rgb(0, 0, 0)) << "mono turns black on a light menu bar";
}

TEST_F(ProgressBarTest, TheInkFollowsTheDesktopsPreferenceAtOnce) {
    sampled = Color::rgb(0.2, 0.25, 0.3);
    makePlaying();
    loop.advance(0.02);
    EXPECT_FALSE(bar->look().trackInkDark) << "a white line on a dark desktop with no preference";
    appearance.scheme = ColorSchemePreference::light;
    loop.advance(0.01);
    EXPECT_TRUE(bar->look().trackInkDark) << "at once, not at the next visibility check";
    loop.advance(0.6);
    EXPECT_EQ(bar->look().fillStops.back(), Color::rgb(0, 0, 0));
}

TEST(ProgressBarColors, ModesAndTheBackdropCeiling) {
    const Color orange = Color::rgb(1.0, 0.451, 0.0);
    // Bright colours darken to the ceiling on a light menu bar, by the mix; near-white ones stay.
    EXPECT_EQ(adaptToBackdrop(orange, 0), orange);
    EXPECT_EQ(adaptToBackdrop(orange, 1), orange) << "already darker than the ceiling";
    EXPECT_NEAR(relativeLuminance(adaptToBackdrop(Color::rgb(1, 0.8, 0), 1)), 0.62, 1e-9);
    EXPECT_NEAR(relativeLuminance(adaptToBackdrop(Color::rgb(0, 1, 0), 1)), 0.62, 1e-9);
    EXPECT_EQ(adaptToBackdrop(Color::rgb(0.2, 0.1, 0.6), 1), Color::rgb(0.2, 0.1, 0.6)) << "already darker";
    EXPECT_EQ(adaptToBackdrop(Color::rgb(0.95, 0.95, 0.9), 1), Color::rgb(0.95, 0.95, 0.9));
    const double half = relativeLuminance(adaptToBackdrop(Color::rgb(0, 1, 0), 0.5));
    EXPECT_NEAR(half, 0.7152 + (0.62 - 0.7152) * 0.5, 1e-9);

    struct Case {
        ProgressColorMode mode;
        double opacity;
        Color first, last;
    };
    const Case cases[] = {
        {ProgressColorMode::mono, 1, Color::rgb(1, 1, 1, 0.25), Color::rgb(1, 1, 1, 1)},
        {ProgressColorMode::mono, 0.05, Color::rgb(1, 1, 1, 0.05), Color::rgb(1, 1, 1, 0.2)},  // floor 0.2
        {ProgressColorMode::solid, 0.8, orange.withAlpha(0.2), orange.withAlpha(0.8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toString(c.mode));
        const auto stops = progressGradient({.mode = c.mode, .opacity = c.opacity, .solid = orange});
        ASSERT_EQ(stops.size(), 2u);
        EXPECT_EQ(stops.front(), c.first);
        EXPECT_EQ(stops.back(), c.last);
    }
    // The rainbow spans 300 degrees from the phase, fading in from the left.
    const auto rainbow = progressGradient({.mode = ProgressColorMode::rainbow, .huePhase = 90});
    ASSERT_EQ(rainbow.size(), 8u);
    EXPECT_NEAR(toHsb(rainbow.front()).hue * 360, 90, 0.5);
    EXPECT_NEAR(toHsb(rainbow.back()).hue * 360, 30, 0.5);
    EXPECT_NEAR(rainbow.front().alpha, 0.25, 1e-9);
    EXPECT_NEAR(rainbow.back().alpha, 1, 1e-9);
}

TEST_F(ProgressBarTest, ThePanelGoingFadesTheBarInAFifthOfASecondAndTheOverviewHidesItAtOnce) {
    makePlaying();
    const OverlayWindow* before = bar->window();
    screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 0)});
    screens.sendParametersChanged();
    EXPECT_EQ(bar->window(), before) << "a panel change keeps the window";
    loop.advance(0.1);
    EXPECT_GT(window()->alphaValue(), 0);
    EXPECT_LT(window()->alphaValue(), 1);
    loop.advance(0.15);
    EXPECT_EQ(window()->alphaValue(), 0);
    EXPECT_FALSE(window()->isVisible());

    screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28)});
    screens.sendParametersChanged();
    loop.advance(0.5);
    EXPECT_TRUE(shown());

    bar->setOverviewActive(true);
    EXPECT_EQ(window()->alphaValue(), 0);
    EXPECT_FALSE(window()->isVisible()) << "hidden at once";
    loop.advance(2);
    EXPECT_FALSE(window()->isVisible());
    bar->setOverviewActive(false);
    loop.advance(0.15);
    EXPECT_GT(window()->alphaValue(), 0.1);
    EXPECT_LT(window()->alphaValue(), 0.9) << "it fades back";
    loop.advance(0.2);
    EXPECT_EQ(window()->alphaValue(), 1);
}

TEST_F(ProgressBarTest, APausedBarHidesAfterItsSecondsUnlessThePointerRestsInTheTopStrip) {
    makePlaying();
    engine.show(0.3, 200, false);
    loop.advance(4.8);
    EXPECT_EQ(window()->alphaValue(), 1);
    loop.advance(0.4);
    EXPECT_LT(window()->alphaValue(), 1)
        << "hidden for the pause alone: the track and the panel are still there";
    loop.advance(0.6);
    EXPECT_FALSE(window()->isVisible());

    struct Return {
        const char* name;
        std::function<void(ProgressBarRig&)> act;
    };
    const Return returns[] = {
        {"pointing at the top strip",
         [](ProgressBarRig& r) {
             r.pointer.moveTo({100, 1070});
         }},
        {"holding the modifier", [](ProgressBarRig& r) { r.pointer.holdModifiers(ModifierFlag::option); }},
        {"playing", [](ProgressBarRig& r) { r.engine.show(0.3, 200, true); }},
        {"a new track", [](ProgressBarRig& r) { r.engine.show(0.0, 180, false); }},
    };
    for (const Return& r : returns) {
        r.act(*this);
        loop.advance(0.4);
        EXPECT_TRUE(shown()) << r.name;
        // Back to a paused track with the pointer away: it hides again after its time.
        pointer.moveTo({960, 500});
        pointer.holdModifiers(0);
        engine.show(0.3, engine.snap.duration, false);
        loop.advance(5.5);
        EXPECT_LT(window()->alphaValue(), 1) << r.name;
        loop.advance(0.6);
        EXPECT_FALSE(window()->isVisible()) << r.name;
    }

    // Resting in the top strip keeps it.
    pointer.moveTo({1900, 1060});
    loop.advance(0.4);
    EXPECT_TRUE(shown());
    loop.advance(20);
    EXPECT_EQ(window()->alphaValue(), 1);
    // A pointer that cannot be read is outside; with auto-hide off nothing hides.
    pointer.forget();
    loop.advance(5.5);
    EXPECT_LT(window()->alphaValue(), 1);
    loop.advance(0.6);
    EXPECT_FALSE(window()->isVisible());
    settings.progressAutoHide = false;
    loop.advance(0.4);
    EXPECT_TRUE(shown());
}

TEST_F(ProgressBarTest, TheBarStaysInFrontOfTheVisualizer) {
    makePlaying();
    OverlayWindowOptions options;
    options.name = kVizBarWindowName;
    options.frame = Rect(0, 1000, 1920, 80);
    options.level = OverlayWindowLevel::belowPanel;
    auto viz = host.makeWindow(options);
    viz->orderFrontRegardless();
    EXPECT_EQ(host.lastStack().front(), "viz-bar");
    loop.advance(0.35);
    EXPECT_EQ(host.lastStack(), (std::vector<std::string>{"progress-bar", "viz-bar"}));
}

TEST_F(ProgressBarTest, WithoutATrackNothingTicksAndNothingPaints) {
    make();
    loop.advance(1);
    host.clearLog();
    barLoop.clear();
    loop.advance(10);
    EXPECT_EQ(barLoop.wakes(), 0u) << "no tick";
    EXPECT_TRUE(host.log().empty());
    EXPECT_EQ(pointer.modifierReads(), 0) << "the modifier keys are read only while the bar shows";
    // A track wakes it through the engine's listener.
    engine.show(0.1, 100, true);
    loop.advance(0.5);
    EXPECT_TRUE(shown());
    barLoop.clear();
    loop.advance(1);
    EXPECT_GE(barLoop.wakes(), 9u) << "the tenth-of-a-second tick runs";
}

TEST_F(ProgressBarTest, NoMainScreenMeansNoWindowUntilTheScreensChange) {
    screens.setScreens({}, -1);
    engine.show(0.5, 200, true);
    make();
    loop.advance(1);
    EXPECT_EQ(bar->window(), nullptr);
    EXPECT_FALSE(hotkeys.registered().empty()) << "the hot keys do not need a window";
    screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1280, 800), 28)});
    screens.sendParametersChanged();
    loop.advance(0.5);
    ASSERT_NE(bar->window(), nullptr);
    EXPECT_EQ(window()->frame(), Rect(0, 784, 1280, 16));
    EXPECT_TRUE(shown());
}

TEST_F(ProgressBarTest, WorkQueuedBeforeAStopFindsTheBarGone) {
    makePlaying();
    holdModifier();
    ASSERT_TRUE(click(480));                  // a click seek waits for the double-click interval
    hotkeys.press(124, Hotkeys::optionMask);  // a flash waits half a second
    const auto listener = engine.onChange;
    bar->stop();
    EXPECT_EQ(bar->window(), nullptr);
    EXPECT_TRUE(hotkeys.registered().empty());
    EXPECT_EQ(hotkeys.handlerCount(), 0u);
    EXPECT_FALSE(engine.onChange);
    listener(engine.snap);  // a change the engine had queued
    loop.advance(2);
    EXPECT_TRUE(engine.seeks.empty());
    EXPECT_EQ(host.allWindows().size(), 0u);
    barLoop.clear();
    loop.advance(1);
    EXPECT_EQ(barLoop.wakes(), 0u) << "a stopped bar has no tick";

    // The same when the bar is dropped without a stop of its own.
    bar.reset();
    makePlaying();
    holdModifier();
    ASSERT_TRUE(click(480));
    const auto late = engine.onChange;
    bar.reset();
    late(engine.snap);
    loop.advance(2);
    EXPECT_TRUE(engine.seeks.empty());
}

}  // namespace
}  // namespace velaro::test
