// The visualizer's frame step as plain arithmetic: gain, bar smoothing, wave settings, colour crossfades,
// glow, the bar layout, palette parsing and input that is out of range or not a number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "music/VizFrameStep.h"
#include "support/AllocationCounter.h"

namespace velaro {
namespace {

constexpr double kDt = 1.0 / 60;

std::vector<float> flat(float level) {
    return std::vector<float>(kVizBandCount, level);
}

class VizFrameStepTest : public ::testing::Test {
protected:
    VizFrameStepTest() { step.layoutBars(1920, 2, 1, 3840); }

    // `seconds` of frames at 60 per second over the same bands; the result of the last.
    bool run(double seconds, const std::vector<float>& bands) {
        return frames(int(std::lround(seconds / kDt)), bands);
    }
    bool frames(int count, const std::vector<float>& bands) {
        bool drew = false;
        for (int i = 0; i < count; ++i) drew = step.step(kDt, bands, settings, 1, 1920, 80);
        return drew;
    }
    float height(int bar) const { return step.frame().heights[bar]; }
    // What the renderers draw from: u0.w the ink's crossfade, u2.x the style crossfade, u3.y the waves' hue,
    // u4.x the palette's mix, u4.y its size.
    const VizUniforms& uniforms() const { return *step.frame().uniforms; }

    VizFrameStep step;
    VizStepSettings settings;
};

TEST_F(VizFrameStepTest, GainFollowsALouderPeakAtOnceAndDecaysByAQuarterPerSecond) {
    // The gain's reference is the level a full bar (0.4 of the height) stands for: a steady level below it
    // settles at 0.4 x (level / reference)^0.45.
    const auto settled = [](double level, double reference) {
        return 0.4 * std::pow(level / reference, 0.45);
    };
    ASSERT_TRUE(run(1, flat(0)));
    EXPECT_EQ(height(100), 0.0f);
    {
        VizFrameStep quiet = step;
        for (int i = 0; i < 60; ++i) quiet.step(kDt, flat(0.5e-5f), settings, 1, 1920, 80);
        EXPECT_NEAR(quiet.frame().heights[100], settled(0.5e-5, 1e-5), 1e-4) << "silence keeps the floor";
    }

    // One loud frame sets the reference at once; a second later it has come down by e^-0.25 (the bars
    // follow it within a thousandth).
    step.step(kDt, flat(2.0f), settings, 1, 1920, 80);
    run(1, flat(0.5f));
    EXPECT_NEAR(height(100), settled(0.5, 2.0 * std::exp(-0.25)), 0.002) << "e^-0.25 a second";
    EXPECT_LT(height(100), 0.4f * 0.9f);
    // Quieter music that follows recovers its full height as the reference comes down to it.
    run(8, flat(0.5f));
    EXPECT_NEAR(height(100), 0.4f, 1e-4);
}

TEST_F(VizFrameStepTest, BarsRiseInFiftyMillisecondsAndFallInThreeHundred) {
    struct Case {
        double dt;
        float before, band, after;
    };
    // One frame of dt from `before` (a steady level) toward the band's level.
    const Case cases[] = {{0.05, 0, 1, float(1 - std::exp(-1.0))},
                          {0.1, 0, 1, float(1 - std::exp(-2.0))},
                          {0.3, 1, 0, float(std::exp(-1.0))},
                          {0.15, 1, 0, float(std::exp(-0.5))}};
    for (const Case& c : cases) {
        VizFrameStep s;
        s.layoutBars(1920, 2, 1, 3840);
        for (int i = 0; i < 600; ++i) s.step(kDt, flat(c.before), settings, 1, 1920, 80);
        // The gain reference stays at 1 (a loud first band) so that the level is the band itself.
        auto bands = flat(c.band);
        bands[0] = 1;
        s.step(c.dt, bands, settings, 1, 1920, 80);
        EXPECT_NEAR(s.frame().heights[300], 0.4f * c.after, 2e-3) << "dt " << c.dt << " from " << c.before;
    }
}

TEST_F(VizFrameStepTest, WaveCountPeaksAndOpacityAreClampedIntoTheBlock) {
    struct Case {
        int count, peaks;
        float k, coverage;
    };
    const Case cases[] = {{60, 5, 50, 0},
                          {1, 2, 4, 0},
                          {4, 50, 4, 0.85f},
                          {10, 60, 10, 0.85f},
                          {50, 20, 50, 0.85f * std::pow(15 / 45.0f, 0.7f)}};
    for (const Case& c : cases) {
        settings.waveCount = c.count;
        settings.wavePeaks = c.peaks;
        step.step(kDt, flat(0.1f), settings, 1, 1920, 80);
        EXPECT_EQ(uniforms().u5.x, c.k) << c.count;
        EXPECT_NEAR(uniforms().u5.z, c.coverage, 1e-5) << c.peaks;
        EXPECT_NEAR(uniforms().u2.z, 0.8f * std::sqrt(4.0f / c.k), 1e-5);
    }
    settings.opacity = 0.05;
    step.step(kDt, flat(0.1f), settings, 1, 1920, 80);
    EXPECT_FLOAT_EQ(uniforms().u6.z, 0.2f) << "the user opacity never goes below 0.2";
}

TEST_F(VizFrameStepTest, PaletteFadesOutOverAQuarterSecondWhileTheHueTakesTheShorterArc) {
    step.setWaveColorMode(VizWaveColorMode::palette);
    run(0.5, flat(0.1f));
    ASSERT_FLOAT_EQ(uniforms().u4.x, 1);
    ASSERT_FLOAT_EQ(uniforms().u3.y, 0) << "the palette leaves the hue where it was";

    step.setWaveColorMode(VizWaveColorMode::solid);
    step.setWaveSolidColor(Color::rgb(1, 0, 1.0 / 6));  // hue 350
    frames(1, flat(0.1f));
    EXPECT_NEAR(uniforms().u3.y, 360 - 10 * 4 * kDt, 1e-3) << "down through 0, not up through 180";
    frames(6, flat(0.1f));
    EXPECT_NEAR(uniforms().u4.x, 1 - 7 * 4 * kDt, 1e-4) << "a linear fade";
    frames(8, flat(0.1f));
    EXPECT_NEAR(uniforms().u4.x, 0, 1e-6) << "gone after a quarter of a second";
    frames(1, flat(0.1f));
    EXPECT_EQ(uniforms().u4.x, 0) << "and never past it";
    run(2, flat(0.1f));
    EXPECT_NEAR(uniforms().u3.y, 350, 0.1) << "the waves' hue";
}

TEST_F(VizFrameStepTest, NoGlowForBlackMonoInk) {
    settings.bloomIntensity = 1;
    struct Case {
        VizBarsColorMode mode;
        bool dark, bloomOn, glows;
    };
    for (const Case& c :
         {Case{VizBarsColorMode::mono, true, true, false}, Case{VizBarsColorMode::mono, false, true, true},
          Case{VizBarsColorMode::rainbow, true, true, true},
          Case{VizBarsColorMode::rainbow, false, false, false}}) {
        VizFrameStep s;
        s.layoutBars(1920, 2, 1, 3840);
        s.setColorMode(c.mode);
        s.setBarsAreDark(c.dark);
        s.setBloomActive(c.bloomOn);
        for (int i = 0; i < 30; ++i) s.step(kDt, flat(0.1f), settings, 1, 1920, 80);
        EXPECT_EQ(s.frame().bloomIntensity > 0, c.glows) << int(c.mode) << " dark " << c.dark;
    }
}

TEST_F(VizFrameStepTest, BandsOfAnotherLengthSkipTheDrawWhileFadesAdvance) {
    step.setBarsAreDark(true);
    // The crossfade to dark ink (u0.w) moves 4 x dt in frames that draw and in those that do not.
    EXPECT_FALSE(step.step(0.125, std::vector<float>(63, 0.5f), settings, 1, 1920, 80));
    ASSERT_TRUE(step.step(kDt, flat(0.5f), settings, 1, 1920, 80));
    EXPECT_FLOAT_EQ(uniforms().u0.w, float(0.5 + 4 * kDt));
    EXPECT_FALSE(step.step(0.125, {}, settings, 1, 1920, 80));
    EXPECT_TRUE(step.step(kDt, flat(0.5f), settings, 1, 1920, 80));
    EXPECT_FLOAT_EQ(uniforms().u0.w, 1);
}

TEST_F(VizFrameStepTest, BandsThatAreNotNumbersCountAsSilence) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    auto bands = flat(0.5f);
    bands[3] = nan;
    bands[40] = inf;
    bands[41] = -inf;
    step.setStyle(true);
    run(1, bands);
    EXPECT_NEAR(height(100), 0.4f, 1e-4) << "0.5 is the loudest: its bars stand full";
    run(1, flat(0.25f));
    for (float h : step.frame().heights) ASSERT_TRUE(std::isfinite(h));
    for (const auto& wave : step.frame().waves->wp)
        ASSERT_TRUE(std::isfinite(wave.x) && std::isfinite(wave.y));
    EXPECT_GT(height(300), 0.3f) << "later bands still draw";
}

TEST_F(VizFrameStepTest, WavesRestWhileOnlyBarsShow) {
    step.setStyle(true);
    run(1, flat(0.3f));
    step.setStyle(false);
    run(0.5, flat(0.3f));
    ASSERT_FLOAT_EQ(uniforms().u2.x, 0) << "the style crossfade sits on the bars";
    const auto waves = step.frame().waves->wp;
    run(1, flat(0.6f));
    EXPECT_EQ(step.frame().waves->wp, waves) << "bars only: the wave state is frozen";
    step.setStyle(true);
    run(0.1, flat(0.6f));
    EXPECT_NE(step.frame().waves->wp[0], waves[0]);
    EXPECT_GT(step.frame().waves->wp[0].x, 0) << "lobes hang as the waves fade in";
}

TEST_F(VizFrameStepTest, FramesAllocateNothing) {
    if (!test::canCountAllocations()) GTEST_SKIP() << "allocations are counted in sanitizer builds";
    const auto loud = flat(0.6f), quiet = flat(0.1f);
    step.setStyle(true);
    step.setWaveColorMode(VizWaveColorMode::palette);
    step.setPalette({"#FF0000", "#00FF00"});
    settings.waveCount = 50;
    run(0.5, loud);
    test::AllocationCounter counter;
    for (int i = 0; i < 120; ++i) {
        step.setBarsAreDark(i / 10 % 2 == 0);
        step.setStyle(i / 7 % 2 == 0);
        step.step(kDt, i % 2 ? loud : quiet, settings, 1, 1920, 80);
    }
    EXPECT_EQ(counter.count(), 0);
}

TEST(VizBarLayoutTest, SpreadsBarsAndBandsAcrossTheWidth) {
    struct Case {
        double width, thickness, gap;
        int maxBars;
        std::size_t bars;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {1920, 2, 1, 3840, 640},                              // pitch 3
        {100, 8, 12, 200, 8},                                 // 5 fit; at least 8
        {1920, 0, 0, 3840, 960},                              // clamped to 1 and 1: no division by zero
        {1920, 100, 100, 3840, 96},                           // clamped to 8 and 12
        {1920, nan, nan, 3840, 640}, {1920, 2, 1, 100, 100},  // never more bars than device pixels
        {0, 2, 1, 100, 0},           {nan, 2, 1, 100, 0}};
    for (const Case& c : cases) {
        VizFrameStep step;
        const auto& slots = step.layoutBars(c.width, c.thickness, c.gap, c.maxBars);
        ASSERT_EQ(slots.size(), c.bars) << c.width << " " << c.thickness << " " << c.gap;
        EXPECT_EQ(step.frame().heights.size(), c.bars);
        if (slots.empty()) continue;
        // The leftover is split evenly: the first bar's left margin equals the last bar's right margin.
        const double left = slots.front().x, right = 1 - (slots.back().x + slots.back().width);
        EXPECT_NEAR(left, right, 1e-5);
    }
    VizFrameStep narrow;
    const auto& eight = narrow.layoutBars(20, 8, 12, 40);
    ASSERT_EQ(eight.size(), 8u) << "a narrow screen still has 8 bars";
    EXPECT_NEAR(eight[1].x - eight[0].x, 20.0 / 20, 1e-6) << "at the full pitch, overflowing both sides";
}

TEST(VizPaletteTest, StopsAreSixHexDigitsAfterTrimmingAndOneHash) {
    struct Case {
        const char* text;
        VizFloat4 stop;
    };
    const VizFloat4 white{1, 1, 1, 0};
    const Case cases[] = {{"#FF0000", {1, 0, 0, 0}},
                          {" \t00ff00\t ", {0, 1, 0, 0}},
                          {"#0000FF ", {0, 0, 1, 0}},
                          {"##0000FF", white},
                          {"0x0000FF", white},
                          {"+0000FF", white},
                          {"-0000FF", white},
                          {"00FF0", white},
                          {"00FF000", white},
                          {"\n00FF00", white},
                          {"00 FF00", white},
                          {"", white},
                          {"#", white},
                          {"GG0000", white}};
    for (const Case& c : cases) EXPECT_EQ(vizPaletteStop(c.text), c.stop) << '"' << c.text << '"';

    VizFrameStep step;
    std::vector<std::string> eleven(11, "#000000");
    eleven[9] = "#FFFFFF";
    step.setPalette(eleven);
    step.layoutBars(100, 2, 1, 100);
    step.step(kDt, flat(0), {}, 1, 100, 80);
    EXPECT_EQ(step.frame().uniforms->pal[9], (VizFloat4{1, 1, 1, 0}));
    EXPECT_EQ(step.frame().uniforms->u4.y, 10) << "at most ten colours count";
}

}  // namespace
}  // namespace velaro
