// The visualizer's window on the recording host: where it goes, what it is made as, and the cases that make
// none; and the glow's blur kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "music/VizBarRenderer.h"
#include "music/VizBarWindow.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

class VizBarWindowTest : public ::testing::Test {
protected:
    VizBarWindowTest() : host(loop) {
        screens.setScreens({FakeScreens::make("main", Rect(0, 0, 1920, 1080), 28),
                            FakeScreens::make("side", Rect(1920, 200, 1280, 800), 28)});
    }
    VirtualLoop loop;
    FakeOverlayWindowHost host;
    FakeScreens screens;
};

TEST_F(VizBarWindowTest, SpansTheMainScreensTopEdgeEightyPointsDeep) {
    struct Case {
        Rect screen, window;
    };
    for (const Case& c : {Case{Rect(0, 0, 1920, 1080), Rect(0, 1000, 1920, 80)},
                          Case{Rect(1920, 200, 1280, 800), Rect(1920, 920, 1280, 80)},
                          Case{Rect(-1440, -900, 1440, 900), Rect(-1440, -80, 1440, 80)}})
        EXPECT_EQ(vizBarWindowFrame(c.screen), c.window);

    screens.setScreens(screens.screens(), 1);
    VizWindowUnavailable why = VizWindowUnavailable::noMainScreen;
    auto window = makeVizBarWindow(host, screens, &why);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(why, VizWindowUnavailable::none);
    EXPECT_EQ(window->name(), "viz-bar");
    EXPECT_EQ(window->frame(), Rect(1920, 920, 1280, 80));
    EXPECT_EQ(window->level(), OverlayWindowLevel::belowPanel);
    EXPECT_FALSE(window->isVisible()) << "made ordered out";
    ASSERT_NE(window->glSurface(), nullptr) << "a GL-surface window";

    auto* surface = static_cast<FakeOverlayWindow&>(*window).fakeGLSurface();
    surface->setDevicePixelRatio(2);
    EXPECT_EQ(surface->pixelWidth(), 2560);
    EXPECT_EQ(surface->pixelHeight(), 160);
}

TEST_F(VizBarWindowTest, MakesNothingWithoutAMainScreenOrACompositor) {
    struct Case {
        int mainIndex;
        bool translucency;
        VizWindowUnavailable why;
    };
    for (const Case& c : {Case{-1, true, VizWindowUnavailable::noMainScreen},
                          Case{-1, false, VizWindowUnavailable::noMainScreen},
                          Case{0, false, VizWindowUnavailable::noTranslucency}}) {
        screens.setScreens(screens.screens(), c.mainIndex);
        host.setSupportsTranslucency(c.translucency);
        VizWindowUnavailable why = VizWindowUnavailable::none;
        EXPECT_EQ(makeVizBarWindow(host, screens, &why), nullptr);
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(host.allWindows().empty());
    }
}

TEST_F(VizBarWindowTest, NoRendererWithoutAUsableGLSurface) {
    OverlayWindowOptions painted;
    painted.name = "overlay-bar";
    painted.frame = Rect(0, 1000, 1920, 80);
    auto band = host.makeWindow(painted);
    EXPECT_EQ(band->glSurface(), nullptr);
    EXPECT_EQ(VizWindowRenderer::create(*band, {{0.1f, 0.01f}}), nullptr);

    auto window = makeVizBarWindow(host, screens);
    ASSERT_NE(window, nullptr);
    // The fake surface's context is no OpenGL context: nothing can be built in it.
    EXPECT_EQ(VizWindowRenderer::create(*window, {{0.1f, 0.01f}}), nullptr);
    static_cast<FakeOverlayWindow&>(*window).fakeGLSurface()->loseContext();
    const auto generation = window->glSurface()->generation();
    EXPECT_EQ(VizWindowRenderer::create(*window, {{0.1f, 0.01f}}), nullptr);
    EXPECT_NE(window->glSurface()->generation(), generation) << "a lost context comes back as a new one";
}

double kernelSum(const VizBlurKernel& k, const std::vector<float>& taps) {
    double sum = k.centre;
    for (std::size_t i = 1; i < taps.size(); i += 2) sum += 2 * taps[i];
    return sum;
}

TEST(VizBlurKernelTest, SumsToOneAndDownsamplesWideBlurs) {
    struct Case {
        double sigma;
        int downsample;
    };
    for (const Case& c : {Case{2, 1}, Case{8, 1}, Case{8.5, 2}, Case{24, 2}, Case{48, 2}}) {
        const auto k = vizBlurKernel(c.sigma);
        EXPECT_EQ(k.downsample, c.downsample) << c.sigma;
        EXPECT_NEAR(kernelSum(k, k.horizontal), 1.0, 1e-5) << c.sigma;
        EXPECT_NEAR(kernelSum(k, k.vertical), 1.0, 1e-5) << c.sigma;
        // About three sigma on each side, in texels of the image the blur works on.
        const double reach = 3 * c.sigma / c.downsample;
        EXPECT_NEAR(k.vertical[k.vertical.size() - 2], reach, 1.5) << c.sigma;
        EXPECT_NEAR(k.horizontal[k.horizontal.size() - 2], reach, 1.5) << c.sigma;
        // Linear taps take two texels each: their offsets lie between the texels they merge.
        for (std::size_t i = 0; i + 1 < k.vertical.size(); i += 2) {
            const double pairStart = 1 + double(i);
            EXPECT_GE(k.vertical[i], pairStart) << c.sigma;
            EXPECT_LE(k.vertical[i], pairStart + 1) << c.sigma;
        }
    }
    EXPECT_LE(vizBlurKernel(48).horizontal.size() / 2, 80u) << "the widest glow fits the shader's taps";
    for (const double none : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
        const auto k = vizBlurKernel(none);
        EXPECT_TRUE(k.horizontal.empty() && k.vertical.empty());
    }
}

}  // namespace
}  // namespace velaro::test
