// The visualizer's CPU renderer beyond the pixels both renderers share (those are checked side by side with
// the GL one in the desktop tests): the rows it reports painted, which bound what the window repaints, a
// trail that dies out to nothing, frames that allocate nothing, many overlapping waves summed as the shader
// sums them at every pixel, composite kernels that agree, and shortcuts that draw what the plain way does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "music/VizFrameStep.h"
#include "music/VizRasterRenderer.h"
#include "support/AllocationCounter.h"

namespace velaro::test {
namespace {

struct Rig {
    explicit Rig(bool trail, double glow, int width = 200, VizBarSlot bar = {0.45f, 0.05f})
        : renderer(width, 80, 1.0, {bar}) {
        uniforms.u0 = {1, float(width), 80, 0};
        uniforms.u2 = {0, 1, 1, 0.75f};
        uniforms.u6 = {1, 0, 1, 0};
        frame.uniforms = &uniforms;
        frame.trail = trail;
        frame.bloomIntensity = glow;
        frame.dt = 1.0 / 30;
        renderer.setBloomSigma(8);
    }
    void draw(float height) {
        heights = {height};
        frame.heights = heights;
        renderer.encode(frame);
    }
    // The last row with anything in it, plus one.
    int lastLitRow() const {
        const QImage& image = renderer.image();
        for (int y = image.height() - 1; y >= 0; --y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0) return y + 1;
        return 0;
    }

    VizRasterRenderer renderer;
    std::vector<float> heights;
    VizUniforms uniforms{};
    VizFrame frame;
};

TEST(VizRasterRenderer, PaintedRowsCoverEverythingDrawnAndTheTrailDiesOutToNothing) {
    struct Case {
        const char* name;
        bool trail;
        double glow;
    };
    for (const Case& c : {Case{"direct", false, 0}, Case{"trail", true, 0}, Case{"glow", false, 1},
                          Case{"trail and glow", true, 1}}) {
        Rig rig(c.trail, c.glow);
        rig.draw(0.25f);  // 20 px
        const int lit = rig.lastLitRow();
        EXPECT_GE(lit, 19) << c.name;
        EXPECT_GE(rig.renderer.paintedRows(), lit) << c.name << ": a lit row outside the painted ones";
        if (c.glow > 0) {
            EXPECT_GT(lit, 24) << c.name << ": the glow reaches below the bar";
        }
        // The bar goes; its trail falls and fades, its glow with it, until nothing is left.
        for (int i = 0; i < 60; ++i) {
            rig.draw(0);
            ASSERT_GE(rig.renderer.paintedRows(), rig.lastLitRow()) << c.name << " frame " << i;
        }
        EXPECT_EQ(rig.lastLitRow(), 0) << c.name << ": light lingers two seconds later";
        EXPECT_EQ(rig.renderer.paintedRows(), 0) << c.name;
    }
}

// A thin bar starting `offset` pixels into a 400-pixel drawable, at full height, with a bright glow.
QImage glowBelowABar(double sigma, int offset) {
    constexpr float width = 400, barWidth = 2;
    Rig rig(false, 20, int(width), {(160 + float(offset) + barWidth / 2) / width, barWidth / width});
    rig.renderer.setBloomSigma(sigma);
    rig.draw(1);
    return rig.renderer.image();
}

// The largest difference between the glow of a bar moved `shift` pixels right and the first glow moved with it.
int shiftMismatch(double sigma, int shift) {
    const QImage here = glowBelowABar(sigma, 0), there = glowBelowABar(sigma, shift);
    int worst = 0;
    for (int y = 0; y < here.height(); ++y)
        for (int x = 0; x + shift < here.width(); ++x) {
            const QRgb a = here.pixel(x, y), b = there.pixel(x + shift, y);
            for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b), qAlpha(a) - qAlpha(b)})
                worst = std::max(worst, std::abs(d));
        }
    return worst;
}

TEST(VizRasterRenderer, WideGlowsWorkOnASmallerImage) {
    // Worked on whole, the glow follows its bar pixel by pixel. Worked on an image an eighth of the size each
    // way, it follows only moves of whole eighths: a bar moved by less stays in the same reduced pixel.
    const QImage narrow = glowBelowABar(2, 0);
    int litBeside = 0;
    for (int y = 0; y < narrow.height(); ++y) litBeside = std::max(litBeside, qAlpha(narrow.pixel(165, y)));
    EXPECT_GT(litBeside, 8) << "the narrow glow shows beside its bar";
    EXPECT_LE(shiftMismatch(2, 1), 1) << "the narrowest glow is worked on whole";
    EXPECT_LE(shiftMismatch(24, 8), 1);
    EXPECT_GT(shiftMismatch(24, 4), 8) << "the widest glow follows no move smaller than eight pixels";
}

TEST(VizRasterRenderer, FramesAllocateNothing) {
    if (!canCountAllocations())
        GTEST_SKIP() << "allocations are counted in sanitizer builds and the benchmark";
    Rig rig(true, 1);
    VizWaveParams waves{};
    for (int k = 0; k < 4; ++k) waves.wp[k] = {20, 0.2f * k, 0.2f, 0};
    rig.frame.waves = &waves;
    rig.uniforms.u5.x = 4;
    rig.draw(0.3f);  // the waves' columns are sized at the first frame that draws them
    rig.uniforms.u2.x = 0.5f;
    rig.draw(0.3f);
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int i = 0; i < 10; ++i) rig.draw(0.05f * float(i % 5));
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
}

// Waves whose lobes are flat (every column alike) at depths that overlap, touch and pass the bottom edge,
// with soft edges several rows wide: each pixel must be what the shader makes of it, every wave's coverage
// summed and multiplied in turn.
TEST(VizRasterRenderer, OverlappingWavesAreEveryWaveSummedAtEachPixel) {
    constexpr int kWidth = 40, kHeight = 80;
    struct Case {
        const char* name;
        std::vector<float> depths;
        float opacity, grey, softness;
    };
    const Case cases[] = {
        {"one", {17.3f}, 0.8f, 0.6f, 3},
        {"one, hard edge", {17.3f}, 0.8f, 0.6f, 0},
        {"edges crossing", {12.7f, 13.4f}, 0.6f, 0.4f, 3},
        {"past the bottom, and barely there", {120, 0.4f}, 0.5f, 0.5f, 1},
        {"many", {0.4f, 5.3f, 12.7f, 12.9f, 13.4f, 30.1f, 30.2f, 55, 79.6f, 2.2f, 40}, 0.25f, 0.08f, 3},
    };
    const float edgeBase = 0.75f;
    for (const Case& c : cases) {
        VizRasterRenderer renderer(kWidth, kHeight, 1.0, {{0, 0.05f}});
        VizUniforms u{};
        u.u0 = {1, kWidth, kHeight, 0};
        u.u2 = {1, c.softness, c.opacity, edgeBase};
        u.u6 = {1, 0, 1, 0};
        const int count = static_cast<int>(c.depths.size());
        u.u5 = {float(count), 0, 1, 0};  // lobes flat at their amplitude
        VizWaveParams waves{};
        for (int k = 0; k < count; ++k) {
            waves.wp[k] = {c.depths[k], 0.5f, 0.2f, std::numbers::pi_v<float> / 2};
            waves.wp[k + VIZ_MAX_WAVES] = {0, c.grey * (1 + 0.1f * float(k)), 0, 0};
        }
        std::vector<float> heights{0};
        VizFrame frame;
        frame.heights = heights;
        frame.uniforms = &u;
        frame.waves = &waves;
        renderer.encode(frame);

        auto smooth = [](float from, float to, float x) {
            const float t = std::clamp((x - from) / (to - from), 0.0f, 1.0f);
            return t * t * (3 - 2 * t);
        };
        const float edge = edgeBase + c.softness;
        const QImage& image = renderer.image();
        int lit = 0;
        for (int y = 0; y < kHeight; ++y) {
            float sum = 0, clear = 1;
            for (int k = 0; k < count; ++k) {
                const float a =
                    smooth(-edge, edge, c.depths[k] - (y + 0.5f)) * smooth(0, edge, c.depths[k]) * c.opacity;
                if (a <= 0) continue;
                sum += waves.wp[k + VIZ_MAX_WAVES].y * a;
                clear *= 1 - a;
            }
            const int grey = int(std::min(sum, 1.0f) * 255 + 0.5f), alpha = int((1 - clear) * 255 + 0.5f);
            if (alpha > 0) lit = y + 1;
            for (int x : {0, kWidth / 2, kWidth - 1}) {
                const QRgb pixel = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
                EXPECT_NEAR(qRed(pixel), grey, 1) << c.name << ", row " << y;
                EXPECT_NEAR(qBlue(pixel), grey, 1) << c.name << ", row " << y;
                EXPECT_NEAR(qAlpha(pixel), alpha, 1) << c.name << ", row " << y;
            }
        }
        EXPECT_GE(renderer.paintedRows(), lit) << c.name;
    }
}

// Every form of the composite's row loop writes the portable one's bytes (fused multiply-adds may round a
// byte the other way), over rows of every length and with or without a scene row.
TEST(VizRasterRenderer, EveryCompositeKernelWritesThePortableBytes) {
    const auto kernels = vizCompositeKernels();
    ASSERT_GE(kernels.size(), 1u);
    EXPECT_STREQ(kernels.front()->name, "portable");
    std::mt19937 random(7);
    std::uniform_real_distribution<float> glow(0, 0.8f);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const std::size_t pixels : {1, 7, 8, 9, 37, 1920}) {
        const std::size_t lanes = pixels * 4;
        std::vector<std::uint8_t> scene(lanes), expected(lanes), out(lanes);
        std::vector<float> g0(lanes), g1(lanes), dark(lanes, 0);
        for (std::size_t n = 0; n < lanes; ++n) {
            scene[n] = static_cast<std::uint8_t>(n % 5 == 0 ? 0 : byte(random));
            g0[n] = glow(random);
            g1[n] = glow(random);
        }
        struct Row {
            const std::uint8_t* scene;
            const float *g0, *g1;
            float gain;
        };
        for (const Row& row :
             {Row{scene.data(), g0.data(), g1.data(), 1.7f}, Row{nullptr, g0.data(), g1.data(), 0.9f},
              Row{nullptr, dark.data(), dark.data(), 1}}) {
            kernels.front()->row(row.scene, row.g0, row.g1, 0.3f, row.gain, 0.8f / 255, expected.data(),
                                 lanes);
            for (const auto* kernel : kernels) {
                std::fill(out.begin(), out.end(), 0xAB);  // every byte is written
                kernel->row(row.scene, row.g0, row.g1, 0.3f, row.gain, 0.8f / 255, out.data(), lanes);
                for (std::size_t n = 0; n < lanes; ++n)
                    ASSERT_NEAR(out[n], expected[n], 1)
                        << kernel->name << ", " << pixels << " pixels, byte " << n;
            }
        }
    }
}

// The shortcuts (bars laid whole above their rounded ends, the glow's vector loops) draw the plain way's
// bytes frame after frame, at one and two device pixels a point, over the looks that take them and those
// that do not: bars at full strength, faded in and at a lower opacity, with and without trail and glow,
// their crossfade to waves, and the waves.
TEST(VizRasterRenderer, TheShortcutsDrawThePlainWaysBytes) {
    for (const double scale : {1.0, 2.0}) {
        const int width = static_cast<int>(480 * scale), height = static_cast<int>(80 * scale);
        VizFrameStep step;
        const auto& bars = step.layoutBars(480, 2, 1, width);
        VizRasterRenderer fast(width, height, scale, bars);
        VizRasterRenderer plain(width, height, scale, bars, nullptr, VizRasterPath::plain);
        for (VizRasterRenderer* renderer : {&fast, &plain}) renderer->setBloomSigma(12);
        step.setBackingScale(scale);
        step.setColorMode(VizBarsColorMode::rainbow);
        step.setWaveColorMode(VizWaveColorMode::palette);
        step.setPalette({"#ff2d55", "#ffcc00", "#34c759", "#5ac8fa", "#af52de"});
        std::vector<float> bands(kVizBandCount);
        VizStepSettings settings;
        for (int i = 0; i < 150; ++i) {
            // A hump wandering over the spectrum with a beat in the bass, the glow and the trail switched
            // now and then, a fade in, a lower opacity, then the waves.
            for (int k = 0; k < kVizBandCount; ++k)
                bands[std::size_t(k)] = float(40 * std::exp(-std::pow((k - 30 - 20 * std::sin(i * 0.2)) / 8, 2)) +
                                              (k < 8 && i % 6 < 2 ? 70 : 4) + 6 * std::sin(k * 1.3 + i));
            step.setTrailActive(i % 50 < 35);
            step.setBloomActive(i % 40 >= 10);
            settings.opacity = i >= 60 && i < 80 ? 0.6 : 1.0;
            if (i == 100) step.setStyle(true);
            const double alpha = std::min(1.0, 0.2 + i / 25.0);
            if (!step.step(1.0 / 30, bands, settings, alpha, width, height)) continue;
            fast.encode(step.frame());
            plain.encode(step.frame());
            ASSERT_EQ(fast.paintedRows(), plain.paintedRows()) << "scale " << scale << ", frame " << i;
            ASSERT_EQ(fast.image(), plain.image()) << "scale " << scale << ", frame " << i;
        }
    }
}

}  // namespace
}  // namespace velaro::test
