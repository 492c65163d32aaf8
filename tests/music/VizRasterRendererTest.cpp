// The visualizer's CPU renderer beyond the pixels both renderers share (those are checked side by side with
// the GL one in the desktop tests): the rows it reports painted, which bound what the window repaints, a
// trail that dies out to nothing, and frames that allocate nothing.
#include <gtest/gtest.h>

#include <vector>

#include "music/VizRasterRenderer.h"
#include "support/AllocationCounter.h"

namespace velaro::test {
namespace {

struct Rig {
    explicit Rig(bool trail, double glow) : renderer(200, 80, 1.0, {{0.45f, 0.05f}}) {
        uniforms.u0 = {1, 200, 80, 0};
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
        if (c.glow > 0) EXPECT_GT(lit, 24) << c.name << ": the glow reaches below the bar";
        // The bar goes; its trail falls and fades, its glow with it, until nothing is left.
        for (int i = 0; i < 60; ++i) {
            rig.draw(0);
            ASSERT_GE(rig.renderer.paintedRows(), rig.lastLitRow()) << c.name << " frame " << i;
        }
        EXPECT_EQ(rig.lastLitRow(), 0) << c.name << ": light lingers two seconds later";
        EXPECT_EQ(rig.renderer.paintedRows(), 0) << c.name;
    }
}

TEST(VizRasterRenderer, WideGlowsWorkOnASmallerImage) {
    VizRasterRenderer renderer(1920, 80, 1.0, {{0.5f, 0.001f}});
    // The narrowest glow is worked on whole; the widest (24 pt) on an image an eighth of the size each way.
    renderer.setBloomSigma(2);
    EXPECT_EQ(renderer.glowDownsample(), 1);
    renderer.setBloomSigma(24);
    EXPECT_EQ(renderer.glowDownsample(), 8);
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

}  // namespace
}  // namespace velaro::test
