// The visualizer's two renderers, read back: the OpenGL one draws into a framebuffer object on an offscreen
// surface of the test desktop's GL (Mesa), the raster one into its image; each case checks the pixels of
// bars, trail, glow and waves on both, and the two are compared on frames as the app draws them.
#include <QDir>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "e2e/E2eSupport.h"
#include "music/VizBarRenderer.h"
#include "music/VizFrameStep.h"
#include "music/VizRasterRenderer.h"
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

enum class Kind { gl, raster };

// A renderer of either kind with the frame it draws. The OpenGL one needs the desktop's GL; the raster one
// needs nothing.
class VizRendererRig {
public:
    explicit VizRendererRig(Kind kind) : kind_(kind) {}
    ~VizRendererRig() {
        if (!context.isValid()) return;
        context.makeCurrent(&surface);
        gl.reset();
        target.reset();
        context.doneCurrent();
    }

    // False (with the reason given to the test) when the GL one has no context.
    void open() {
        if (kind_ == Kind::raster) return;
        surface.setFormat(VizBarRenderer::contextFormat());
        surface.create();
        context.setFormat(VizBarRenderer::contextFormat());
        ASSERT_TRUE(context.create()) << "no OpenGL context in the test desktop";
        ASSERT_TRUE(context.makeCurrent(&surface));
        keepGLDriverLoaded();  // as the app's GL windows do
    }

    void make(int w, int h, std::vector<VizBarSlot> bars, double scale = 1.0) {
        width = w;
        height = h;
        if (kind_ == Kind::gl) {
            target = std::make_unique<QOpenGLFramebufferObject>(w, h);
            gl = VizBarRenderer::create(w, h, scale, bars);
            ASSERT_NE(gl, nullptr);
        } else {
            raster = std::make_unique<VizRasterRenderer>(w, h, scale, bars);
        }
        frame.heights = heights;
        frame.uniforms = &uniforms;
        frame.waves = &waves;
        uniforms = barUniforms(w, h);
    }

    void setBloomSigma(double points) {
        if (gl) gl->setBloomSigma(points);
        if (raster) raster->setBloomSigma(points);
    }
    void setNeedsTrailClear() {
        if (gl) gl->setNeedsTrailClear();
        if (raster) raster->setNeedsTrailClear();
    }

    Pixels draw() {
        frame.heights = heights;
        if (raster) {
            raster->encode(frame);
            return fromImage(raster->image());
        }
        gl->encode(frame, {target->handle(), width, height});
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

    static Pixels fromImage(const QImage& image) {
        Pixels p{image.width(), image.height(),
                 std::vector<std::array<int, 4>>(std::size_t(image.width()) * image.height())};
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                p.data[std::size_t(y) * p.width + x] = {qRed(row[x]), qGreen(row[x]), qBlue(row[x]),
                                                        qAlpha(row[x])};
        }
        return p;
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    std::unique_ptr<QOpenGLFramebufferObject> target;
    std::unique_ptr<VizBarRenderer> gl;
    std::unique_ptr<VizRasterRenderer> raster;
    int width = 0, height = 0;
    std::vector<float> heights;
    VizUniforms uniforms{};
    VizWaveParams waves{};
    VizFrame frame;

private:
    Kind kind_;
};

class VizRendererTest : public ::testing::TestWithParam<Kind>, public VizRendererRig {
protected:
    VizRendererTest() : VizRendererRig(GetParam()) {}
    void SetUp() override {
        if (GetParam() == Kind::gl) VELARO_REQUIRE_DESKTOP();
        open();
    }

    // One bar per pixel rectangle [left, left + w) px.
    static VizBarSlot slot(int left, int w, int total) { return {float(left) / total, float(w) / total}; }
};

TEST_P(VizRendererTest, BarsCoverTheirColumnsAndRowsWithRoundBottomEnds) {
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

TEST_P(VizRendererTest, ChromaticBarsTakeTheHueAndKeepUnderTheCeilingOnLightBackdrops) {
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

TEST_P(VizRendererTest, TheTrailFallsFortyPointsASecondAndHalvesPerTrailLength) {
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

TEST_P(VizRendererTest, AReEnabledTrailStartsClean) {
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
    setNeedsTrailClear();
    heights = {0.0f};
    const Pixels cleared = draw();
    for (int y = 0; y < 80; ++y) ASSERT_TRUE(cleared.rowIsClear(y)) << "row " << y;
}

TEST_P(VizRendererTest, OnlyTheDirectPathHasNoBottomFade) {
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

TEST_P(VizRendererTest, BloomBrightensAroundALoneBarOnlyWithIntensityAndSigma) {
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
        if (c.sigmaPoints > 0) setBloomSigma(c.sigmaPoints);
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

TEST_P(VizRendererTest, AZeroAmplitudeWaveLeavesTheTopRowTransparent) {
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

TEST_P(VizRendererTest, StyleMixOneHalfDrawsBothStylesAtHalfWeight) {
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

TEST_P(VizRendererTest, PaletteMixOneWithoutStopsGivesBlackLobes) {
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

TEST_P(VizRendererTest, CorruptValuesDrawNothingAndStayInsideTheBlocks) {
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

TEST_P(VizRendererTest, ZeroBarsDrawNoFrame) {
    make(100, 80, {});
    uniforms = waveUniforms(100, 80, 1);
    setWave(waves, 0, 30, 0.5f, 0.2f);
    if (raster) {
        const Pixels p = draw();
        for (int y = 0; y < 80; ++y) ASSERT_TRUE(p.rowIsClear(y)) << "row " << y;
        return;
    }
    auto* f = context.extraFunctions();
    f->glBindFramebuffer(GL_FRAMEBUFFER, target->handle());
    f->glClearColor(0, 0, 1, 1);
    f->glClear(GL_COLOR_BUFFER_BIT);
    const Pixels p = draw();
    EXPECT_EQ(p.at(50, 5), (std::array<int, 4>{0, 0, 255, 255})) << "the target was touched";
}

TEST_P(VizRendererTest, FramesMakeNoGLObjects) {
    if (GetParam() != Kind::gl) GTEST_SKIP() << "GL objects are the OpenGL renderer's";
    make(200, 80, {slot(20, 10, 200), slot(100, 10, 200)});
    gl->setBloomSigma(12);
    const std::size_t made = gl->glObjectsCreated();
    EXPECT_GT(made, 0u);
    heights = {0.3f, 0.2f};
    for (int i = 0; i < 12; ++i) {
        frame.trail = i % 3 != 0;
        frame.bloomIntensity = i % 2 ? 0.8 : 0;
        uniforms.u2.x = float(i % 4) / 3;
        uniforms.u5.x = 10;
        draw();
    }
    gl->setBloomSigma(3);
    draw();
    EXPECT_EQ(gl->glObjectsCreated(), made);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, VizRendererTest, ::testing::Values(Kind::gl, Kind::raster),
                         [](const auto& info) { return info.param == Kind::gl ? "gl" : "raster"; });

}  // namespace
}  // namespace velaro::e2e

namespace velaro::e2e {
namespace {

// Frames as the app makes them (its frame step over music-like bands, the default look: rainbow bars with
// a trail and a 24 pt glow, or the palette waves) drawn by both renderers at the window's size: the raster
// path must look like the GL passes. Differences come from the glow's reduced resolution and from
// rounding; a missing or misplaced layer differs by far more.
class VizPathsLookAlikeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        gl.open();
    }

    // The bands of frame `i`: a moving hump over the spectrum, with a beat in the bass.
    static std::vector<float> bands(int i) {
        std::vector<float> b(kVizBandCount);
        for (int k = 0; k < kVizBandCount; ++k) {
            const double hump = std::exp(-std::pow((k - 20 - 14 * std::sin(i * 0.21)) / 9.0, 2));
            b[k] = float(40 * hump + (k < 8 && i % 8 < 2 ? 60 : 5) + 8 * std::sin(k * 1.7 + i));
        }
        return b;
    }

    // Draws `frames` frames on both and returns the last of each.
    std::pair<Pixels, Pixels> run(bool waves, int frames) {
        const int w = 1920, h = 80;
        VizFrameStep step;
        const auto& bars = step.layoutBars(w, 2, 1, w);
        gl.make(w, h, bars);
        raster.make(w, h, bars);
        gl.setBloomSigma(24);
        raster.setBloomSigma(24);
        step.setColorMode(VizBarsColorMode::rainbow);
        step.setWaveColorMode(VizWaveColorMode::palette);
        step.setPalette(
            {"#ff2d55", "#ff9500", "#ffcc00", "#34c759", "#5ac8fa", "#007aff", "#5856d6", "#af52de"});
        step.showStyleNow(waves);
        const VizStepSettings settings;
        std::pair<Pixels, Pixels> last;
        for (int i = 0; i < frames; ++i) {
            const auto b = bands(i);
            if (!step.step(1.0 / 30, b, settings, 1, w, h)) continue;
            for (VizRendererRig* rig : {&gl, &raster}) {
                rig->frame = step.frame();
                rig->heights.assign(step.frame().heights.begin(), step.frame().heights.end());
            }
            last = {gl.draw(), raster.draw()};
        }
        return last;
    }

    // Each channel's difference: the mean over every pixel, and the level that 99.5 % stay within.
    static std::pair<double, int> difference(const Pixels& a, const Pixels& b) {
        std::vector<int> histogram(256);
        double sum = 0;
        for (std::size_t i = 0; i < a.data.size(); ++i)
            for (int c = 0; c < 4; ++c) {
                const int d = std::abs(a.data[i][c] - b.data[i][c]);
                ++histogram[d];
                sum += d;
            }
        const double count = double(a.data.size()) * 4;
        double seen = 0;
        int level = 0;
        while (level < 255 && (seen += histogram[level]) < 0.995 * count) ++level;
        return {sum / count, level};
    }

    // Both over a dark backdrop, the GL frame above the raster one, when VELARO_VIZ_SHOTS names a folder.
    static void save(const char* name, const Pixels& a, const Pixels& b) {
        const QString dir = qEnvironmentVariable("VELARO_VIZ_SHOTS");
        if (dir.isEmpty()) return;
        QImage shot(a.width, a.height * 2 + 8, QImage::Format_ARGB32_Premultiplied);
        shot.fill(QColor(0x1e, 0x24, 0x2c));
        QPainter painter(&shot);
        for (const auto& [pixels, top] : {std::pair{&a, 0}, std::pair{&b, a.height + 8}}) {
            QImage image(pixels->width, pixels->height, QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < pixels->height; ++y)
                for (int x = 0; x < pixels->width; ++x) {
                    const auto& p = pixels->at(x, y);
                    image.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
                }
            painter.drawImage(0, top, image);
        }
        painter.end();
        QDir().mkpath(dir);
        shot.save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
    }

    VizRendererRig gl{Kind::gl};
    VizRendererRig raster{Kind::raster};
};

TEST_F(VizPathsLookAlikeTest, RainbowBarsWithTrailAndGlowAndPaletteWaves) {
    for (const bool waves : {false, true}) {
        const auto [a, b] = run(waves, 40);
        save(waves ? "waves" : "bars", a, b);
        const auto [mean, most] = difference(a, b);
        EXPECT_LT(mean, 2.5) << (waves ? "waves" : "bars");
        EXPECT_LE(most, 24) << (waves ? "waves" : "bars");
    }
}

}  // namespace
}  // namespace velaro::e2e
