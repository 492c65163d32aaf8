// The visualizer's OpenGL renderer, read back: it draws into a framebuffer object on an offscreen surface of
// the test desktop's GL (Mesa), and the tests check the pixels of bars, trail, glow and waves.
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "e2e/E2eSupport.h"
#include "music/VizBarRenderer.h"
#include "platform/linux/QtOverlayGLSurface.h"

namespace velaro::e2e {
namespace {

// One read-back frame, top row first, premultiplied RGBA.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::array<int, 4>> data;
    const std::array<int, 4>& at(int x, int y) const { return data[std::size_t(y) * width + x]; }
    int alpha(int x, int y) const { return at(x, y)[3]; }
    bool rowIsClear(int y) const {
        for (int x = 0; x < width; ++x)
            if (alpha(x, y) != 0) return false;
        return true;
    }
};

// White mono bars, full opacity, on a dark backdrop.
VizUniforms barUniforms(int width, int height) {
    VizUniforms u{};
    u.u0 = {1, float(width), float(height), 0};
    u.u2 = {0, 1, 1, 0.75f};
    u.u6 = {1, 0, 1, 0};
    return u;
}

// The same, drawing only waves: K waves with a soft edge of one pixel.
VizUniforms waveUniforms(int width, int height, int waves) {
    VizUniforms u = barUniforms(width, height);
    u.u2.x = 1;
    u.u5 = {float(waves), 0, 0, 0};
    return u;
}

// A lobe at `centre` (0...1 of the width) hanging `amplitude` px deep, with a flat ripple.
void setWave(VizWaveParams& waves, int k, float amplitude, float centre, float width) {
    waves.wp[k] = {amplitude, centre, width, float(M_PI / 2)};
    waves.wp[k + VIZ_MAX_WAVES] = {0, 1, 0, 0};
}

class VizRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        surface.setFormat(VizBarRenderer::contextFormat());
        surface.create();
        context.setFormat(VizBarRenderer::contextFormat());
        ASSERT_TRUE(context.create()) << "no OpenGL context in the test desktop";
        ASSERT_TRUE(context.makeCurrent(&surface));
        keepGLDriverLoaded();  // as the app's GL windows do
    }
    void TearDown() override {
        if (!context.isValid()) return;
        context.makeCurrent(&surface);
        renderer.reset();
        target.reset();
        context.doneCurrent();
    }

    void make(int w, int h, std::vector<VizBarSlot> bars, double scale = 1.0) {
        width = w;
        height = h;
        target = std::make_unique<QOpenGLFramebufferObject>(w, h);
        renderer = VizBarRenderer::create(w, h, scale, bars);
        ASSERT_NE(renderer, nullptr);
        frame.heights = heights;
        frame.uniforms = &uniforms;
        frame.waves = &waves;
        uniforms = barUniforms(w, h);
    }

    // One bar per pixel rectangle [left, left + w) px.
    static VizBarSlot slot(int left, int w, int total) { return {float(left) / total, float(w) / total}; }

    Pixels draw() {
        frame.heights = heights;
        renderer->encode(frame, {target->handle(), width, height});
        return readBack();
    }

    Pixels readBack() {
        auto* f = context.extraFunctions();
        f->glBindFramebuffer(GL_FRAMEBUFFER, target->handle());
        std::vector<unsigned char> raw(std::size_t(width) * height * 4);
        f->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        f->glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
        Pixels p{width, height, std::vector<std::array<int, 4>>(std::size_t(width) * height)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned char* px = &raw[(std::size_t(height - 1 - y) * width + x) * 4];
                p.data[std::size_t(y) * width + x] = {px[0], px[1], px[2], px[3]};
            }
        return p;
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    std::unique_ptr<QOpenGLFramebufferObject> target;
    std::unique_ptr<VizBarRenderer> renderer;
    int width = 0, height = 0;
    std::vector<float> heights;
    VizUniforms uniforms{};
    VizWaveParams waves{};
    VizFrame frame;
};

TEST_F(VizRendererTest, BarsCoverTheirColumnsAndRowsWithRoundBottomEnds) {
    make(200, 80, {slot(20, 10, 200), slot(100, 10, 200), slot(150, 6, 200)});
    heights = {0.5f, 0.25f, 0.0f};  // 40 px, 20 px, none
    const Pixels p = draw();
    struct Bar {
        int left, w, depth;
    };
    for (const Bar bar : {Bar{20, 10, 40}, Bar{100, 10, 20}}) {
        const int r = bar.w / 2, capStart = bar.depth - r;
        for (int y = 0; y < capStart; ++y) {
            EXPECT_EQ(p.alpha(bar.left - 1, y), 0) << "left of the bar at row " << y;
            EXPECT_EQ(p.alpha(bar.left + bar.w, y), 0) << "right of the bar at row " << y;
            for (int x = bar.left; x < bar.left + bar.w; ++x)
                ASSERT_EQ(p.at(x, y), (std::array<int, 4>{255, 255, 255, 255})) << x << "," << y;
        }
        // The bottom end is round: its middle reaches the last row, its corners do not.
        EXPECT_GT(p.alpha(bar.left + r - 1, bar.depth - 1), 200);
        EXPECT_EQ(p.alpha(bar.left, bar.depth - 1), 0);
        EXPECT_EQ(p.alpha(bar.left + bar.w - 1, bar.depth - 1), 0);
        for (int x = bar.left; x < bar.left + bar.w; ++x) EXPECT_EQ(p.alpha(x, bar.depth), 0);
    }
    for (int y = 0; y < 80; ++y) EXPECT_EQ(p.alpha(152, y), 0) << "a zero-height bar draws nothing";
}

TEST_F(VizRendererTest, ChromaticBarsTakeTheHueAndKeepUnderTheCeilingOnLightBackdrops) {
    make(100, 40, {slot(40, 20, 100)});
    heights = {0.5f};
    struct Case {
        float hue, ink, solidMix;
        std::array<int, 3> rgb;
    };
    // Green's luminance (0.7152) is above the ceiling 0.62: on a light backdrop it is scaled to it, unless
    // the colour was picked. Red (0.2126) passes unchanged.
    const Case cases[] = {{0, 0, 0, {255, 0, 0}}, {120, 0, 0, {0, 255, 0}}, {240, 0, 0, {0, 0, 255}},
                          {0, 1, 0, {255, 0, 0}}, {120, 1, 0, {0, 221, 0}}, {120, 1, 1, {0, 255, 0}}};
    for (const Case& c : cases) {
        uniforms.u0.w = c.ink;
        uniforms.u1 = {1, c.hue, 0, 1};
        uniforms.u6 = {1, c.solidMix, 1, 0};
        const auto px = draw().at(50, 5);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(px[i], c.rgb[i], 2) << "hue " << c.hue << " ink " << c.ink;
        EXPECT_EQ(px[3], 255);
    }
}

TEST_F(VizRendererTest, TheTrailFallsFortyPointsASecondAndHalvesPerTrailLength) {
    struct Case {
        double scale, dt, length;
        int shiftPx;
        double remaining;
    };
    const Case cases[] = {
        {1, 0.1, 0.1, 4, 0.5}, {1, 0.1, 0.2, 4, 0.7071}, {2, 0.05, 0.1, 4, 0.7071}, {1, 0.2, 0.1, 8, 0.25}};
    for (const Case& c : cases) {
        make(100, 160, {slot(40, 10, 100)}, c.scale);
        frame.trail = true;
        frame.trailLength = c.length;
        frame.dt = c.dt;
        heights = {0.125f};  // 20 px, its cap from row 15
        const Pixels first = draw();
        ASSERT_EQ(first.alpha(44, 10), 255);
        heights = {0.0f};
        const Pixels next = draw();
        for (int y = 0; y < c.shiftPx; ++y)
            EXPECT_EQ(next.alpha(44, y), 0) << "row " << y << " scale " << c.scale;
        for (int y = c.shiftPx; y < 15 + c.shiftPx; ++y)
            EXPECT_NEAR(next.alpha(44, y), 255 * c.remaining, 2) << "row " << y << " scale " << c.scale;
        EXPECT_EQ(next.alpha(44, 20 + c.shiftPx), 0);
        EXPECT_EQ(next.alpha(38, 10), 0) << "the trail moves down only";
    }
}

TEST_F(VizRendererTest, AReEnabledTrailStartsClean) {
    make(100, 80, {slot(40, 10, 100)});
    frame.trail = true;
    heights = {0.25f};
    ASSERT_EQ(draw().alpha(44, 5), 255);
    frame.trail = false;
    heights = {0.0f};
    draw();
    frame.trail = true;
    const Pixels p = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(p.rowIsClear(y)) << "an old trail image came back at row " << y;

    // Asked by the controller (a style change, the window shown again): the same.
    heights = {0.25f};
    draw();
    renderer->setNeedsTrailClear();
    heights = {0.0f};
    const Pixels cleared = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(cleared.rowIsClear(y)) << "row " << y;
}

TEST_F(VizRendererTest, OnlyTheDirectPathHasNoBottomFade) {
    make(100, 80, {slot(40, 10, 100)});
    heights = {0.95f};  // to row 76
    // Row 72 lies at 90.6 % of the height, where the fade leaves 1 - smoothstep(0.45, 1, v) of the image.
    const double t = (72.5 / 80 - 0.45) / 0.55;
    const double fade = 1 - t * t * (3 - 2 * t);
    for (const bool trail : {false, true}) {
        frame.trail = trail;
        EXPECT_NEAR(draw().alpha(44, 72), trail ? 255 * fade : 255, 2) << (trail ? "trail" : "direct");
    }
}

TEST_F(VizRendererTest, BloomBrightensAroundALoneBarOnlyWithIntensityAndSigma) {
    struct Case {
        double sigmaPoints;  // 0: never set
        double intensity;
        bool glows;
    };
    const Case cases[] = {{4, 1, true},  {24, 1, true}, {4, 0.001, false},
                          {0, 1, false}, {4, 0, false}, {1e9, 1, true}};
    for (const Case& c : cases) {
        make(300, 80, {slot(145, 10, 300)});
        heights = {0.5f};
        if (c.sigmaPoints > 0) renderer->setBloomSigma(c.sigmaPoints);
        frame.bloomIntensity = c.intensity;
        const Pixels p = draw();
        EXPECT_EQ(p.alpha(150, 5), 255) << "the bar itself";
        const int beside = p.alpha(160, 10), below = p.alpha(150, 44);
        if (c.glows) {
            EXPECT_GT(beside, 8) << "sigma " << c.sigmaPoints;
            EXPECT_GT(below, 8) << "sigma " << c.sigmaPoints;
            EXPECT_EQ(p.alpha(149, 10), 255);
        } else {
            EXPECT_EQ(beside, 0) << "sigma " << c.sigmaPoints << " intensity " << c.intensity;
            EXPECT_EQ(below, 0);
        }
    }
}

TEST_F(VizRendererTest, AZeroAmplitudeWaveLeavesTheTopRowTransparent) {
    make(200, 80, {slot(0, 2, 200)});
    heights = {0.0f};
    uniforms = waveUniforms(200, 80, 4);
    for (int k = 0; k < 4; ++k) setWave(waves, k, 0, 0.2f + 0.2f * k, 0.2f);
    const Pixels flat = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(flat.rowIsClear(y)) << "row " << y;

    setWave(waves, 1, 30, 0.4f, 0.2f);
    const Pixels lobe = draw();
    EXPECT_GT(lobe.alpha(80, 0), 250) << "a real lobe covers the top row under its centre";
    EXPECT_GT(lobe.alpha(80, 20), 200);
    EXPECT_EQ(lobe.alpha(80, 40), 0);
    EXPECT_EQ(lobe.alpha(195, 0), 0) << "far from any lobe";
}

TEST_F(VizRendererTest, StyleMixOneHalfDrawsBothStylesAtHalfWeight) {
    make(200, 80, {slot(20, 10, 200)});
    heights = {0.5f};
    uniforms = waveUniforms(200, 80, 1);
    uniforms.u2.x = 0.5f;
    setWave(waves, 0, 30, 0.75f, 0.05f);
    const Pixels p = draw();
    EXPECT_NEAR(p.alpha(24, 5), 128, 2) << "bar";
    EXPECT_NEAR(p.at(24, 5)[0], 128, 2);
    EXPECT_NEAR(p.alpha(150, 5), 128, 2) << "wave";
    EXPECT_NEAR(p.at(150, 5)[0], 128, 2);
    EXPECT_EQ(p.alpha(100, 5), 0) << "between them";
}

TEST_F(VizRendererTest, PaletteMixOneWithoutStopsGivesBlackLobes) {
    make(200, 80, {slot(0, 2, 200)});
    heights = {0.0f};
    uniforms = waveUniforms(200, 80, 1);
    uniforms.u3 = {1, 0, 300, 1};    // chromatic
    uniforms.u4 = {1, 0, 0.45f, 0};  // all palette, no stops
    uniforms.pal[0] = {1, 1, 1, 0};  // beyond the count: never read
    setWave(waves, 0, 30, 0.5f, 0.1f);
    const auto px = draw().at(100, 5);
    EXPECT_GT(px[3], 250);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 0);
    EXPECT_EQ(px[2], 0);

    uniforms.u4.y = 1;  // one white stop
    const auto white = draw().at(100, 5);
    EXPECT_GT(white[0], 250);
}

TEST_F(VizRendererTest, CorruptValuesDrawNothingAndStayInsideTheBlocks) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    make(100, 80, {slot(10, 10, 100), slot(50, 10, 100)});
    heights = {nan, inf};
    uniforms.u5.x = 1e9f;  // wave count
    uniforms.u4.y = 1e9f;  // palette stops
    uniforms.u2.x = nan;   // style mix: counts as bars
    Pixels p = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(p.rowIsClear(y)) << "row " << y;

    // Waves with a count far beyond the block: only the first 50 are read, nothing past the arrays.
    uniforms = waveUniforms(100, 80, 0);
    uniforms.u5.x = 1e9f;
    uniforms.u4.y = 1e9f;
    for (int k = 0; k < VIZ_MAX_WAVES; ++k) setWave(waves, k, 0, 0.5f, 0.2f);
    waves.wp[3].x = nan;
    p = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(p.rowIsClear(y)) << "row " << y;

    // Fewer heights than bars: the rest are 0.
    uniforms = barUniforms(100, 80);
    heights = {0.5f};
    p = draw();
    EXPECT_EQ(p.alpha(15, 5), 255);
    EXPECT_EQ(p.alpha(55, 5), 0);
}

TEST_F(VizRendererTest, ZeroBarsDrawNoFrame) {
    make(100, 80, {});
    EXPECT_EQ(renderer->instanceCount(), 0);
    auto* f = context.extraFunctions();
    f->glBindFramebuffer(GL_FRAMEBUFFER, target->handle());
    f->glClearColor(0, 0, 1, 1);
    f->glClear(GL_COLOR_BUFFER_BIT);
    uniforms = waveUniforms(100, 80, 1);
    setWave(waves, 0, 30, 0.5f, 0.2f);
    const Pixels p = draw();
    EXPECT_EQ(p.at(50, 5), (std::array<int, 4>{0, 0, 255, 255})) << "the target was touched";
}

TEST_F(VizRendererTest, FramesMakeNoGLObjects) {
    make(200, 80, {slot(20, 10, 200), slot(100, 10, 200)});
    renderer->setBloomSigma(12);
    const std::size_t made = renderer->glObjectsCreated();
    EXPECT_GT(made, 0u);
    heights = {0.3f, 0.2f};
    for (int i = 0; i < 12; ++i) {
        frame.trail = i % 3 != 0;
        frame.bloomIntensity = i % 2 ? 0.8 : 0;
        uniforms.u2.x = float(i % 4) / 3;
        uniforms.u5.x = 10;
        draw();
    }
    renderer->setBloomSigma(3);
    draw();
    EXPECT_EQ(renderer->glObjectsCreated(), made);
}

}  // namespace
}  // namespace velaro::e2e
