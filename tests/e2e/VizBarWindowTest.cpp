// The visualizer's window on the test desktop: its bars show through the compositor under the panel, on the
// GL path and on the CPU path (which writes the window's pixels itself), clicks pass through them to the
// window below, it stays right under the panel across activations, and it leaves the screen when the
// compositor goes.
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "e2e/X11StackProbe.h"
#include "music/VizBarWindow.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "support/FakeScreens.h"
#include "support/OverlayQtWindow.h"

namespace velaro::e2e {
namespace {

const QColor kAppColour(0x2c, 0xa0, 0x4a);
constexpr int kPitch = 40;      // a 20 px bar every 40 px, from x = 0
constexpr float kDepth = 0.8f;  // 64 of the window's 80 points

class VizBarWindowE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        loop = std::make_unique<QtMainLoop>();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        host = std::make_unique<QtOverlayWindowHost>(*loop, session->session.get());
        const QRect g = QGuiApplication::primaryScreen()->geometry();
        screenWidth = g.width();
        screens.setScreens({test::FakeScreens::make("primary", Rect(0, 0, g.width(), g.height()), 28)});
        app.setGeometry(300, 40, 600, 300);
        app.show();
        ASSERT_TRUE(waitUntil([&] { return app.windowHandle() && app.windowHandle()->isExposed(); }));
        app.windowHandle()->requestActivate();
        ASSERT_TRUE(waitUntil([&] { return app.isActiveWindow(); }));
    }
    void TearDown() override {
        link.reset();
        renderer.reset();
        window.reset();
        host.reset();
        session.reset();
        loop.reset();
    }

    // White bars 64 px deep, drawn every display frame, on either path.
    void showBars(VizRenderPath path = VizRenderPath::gpu) {
        ASSERT_TRUE(host->supportsTranslucency()) << "the test desktop runs a compositor";
        const bool gpu = path == VizRenderPath::gpu;
        window = makeVizBarWindow(*host, screens, nullptr,
                                  gpu ? OverlaySurfaceKind::gl : OverlaySurfaceKind::painted);
        ASSERT_NE(window, nullptr);
        std::vector<VizBarSlot> bars;
        for (int x = 0; x + 20 <= screenWidth; x += kPitch)
            bars.push_back({float(x) / screenWidth, 20.0f / screenWidth});
        if (gpu)
            renderer = VizWindowRenderer::create(*window, bars);
        else
            renderer = std::make_unique<VizRasterWindowRenderer>(*window, bars, 1.0);
        ASSERT_NE(renderer, nullptr);
        heights.assign(bars.size(), kDepth);
        uniforms.u0 = {1, float(window->frame().width()), float(window->frame().height()), 0};
        uniforms.u2 = {0, 1, 1, 0.75f};
        uniforms.u6 = {1, 0, 1, 0};
        frame.heights = heights;
        frame.uniforms = &uniforms;
        frame.waves = &waves;
        window->orderFrontRegardless();
        link = loop->makeDisplayLink([this](double) { renderer->encodeFrame(frame); });
        link->setPreferredFrameRateRange(30, 60, 60);
        link->start();
    }

    bool barsShow(const QImage& shot, int x) const {
        return closeTo(shot.pixelColor(x + 10, 50), Qt::white, 8) &&
               closeTo(shot.pixelColor(x + 30, 50), kAppColour, 8);
    }

    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<TestSession> session;
    std::unique_ptr<QtOverlayWindowHost> host;
    test::FakeScreens screens;
    int screenWidth = 0;
    std::unique_ptr<OverlayWindow> window;
    std::unique_ptr<VizRenderer> renderer;
    std::unique_ptr<DisplayLink> link;
    std::vector<float> heights;
    VizUniforms uniforms{};
    VizWaveParams waves{};
    VizFrame frame;
    PressCountingWindow app{kAppColour};
};

TEST_F(VizBarWindowE2eTest, BarsShowOverTheAppAndClicksPassThroughThem) {
    showBars();
    const QImage shot = screenshotWhen([&](const QImage& image) { return barsShow(image, 320); });
    ASSERT_TRUE(barsShow(shot, 320)) << "bars over the app window";
    EXPECT_TRUE(closeTo(shot.pixelColor(330, 100), kAppColour, 8)) << "nothing below the bars' 64 points";
    EXPECT_EQ(test::qtWindowOf(*window)->geometry(), QRect(0, 0, screenWidth, 80));

    const auto clicked = click(330, 50);  // right on a bar
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return app.presses > 0; })) << "the click did not reach the window below";
    EXPECT_TRUE(app.isActiveWindow());
}

// The CPU path composes straight into the window's shared-memory buffers, which hold an older picture each:
// bars that shrink must leave nothing of their old length behind in either.
TEST_F(VizBarWindowE2eTest, TheCpuPathShowsTheBarsAndLeavesNothingOfOlderFrames) {
    showBars(VizRenderPath::raster);
    const QImage shot = screenshotWhen([&](const QImage& image) { return barsShow(image, 320); });
    ASSERT_TRUE(barsShow(shot, 320)) << "bars over the app window";
    EXPECT_TRUE(closeTo(shot.pixelColor(330, 100), kAppColour, 8)) << "nothing below the bars' 64 points";
    waitUntil([] { return false; }, std::chrono::milliseconds(300));  // both buffers hold the long bars

    std::fill(heights.begin(), heights.end(), 0.3f);  // 24 points
    auto shrunk = [&](const QImage& image) {
        return closeTo(image.pixelColor(330, 10), Qt::white, 8) &&
               closeTo(image.pixelColor(330, 50), kAppColour, 8);
    };
    const QImage later = screenshotWhen(shrunk);
    EXPECT_TRUE(shrunk(later)) << "the bars' old length lingers";
    // A few frames more: every buffer has been written since.
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(shrunk(screenshot())) << "an older buffer came back";
}

TEST_F(VizBarWindowE2eTest, StaysRightUnderThePanelAndAboveOtherWindowsAcrossActivations) {
    showBars();
    const auto number = std::uint32_t(window->windowNumber());
    EXPECT_TRUE(waitUntil([&] { return liesRightUnderAPanel(number); }));

    PressCountingWindow other(kAppColour);
    other.setGeometry(1000, 30, 400, 200);
    other.show();
    ASSERT_TRUE(waitUntil([&] { return other.windowHandle()->isExposed(); }));
    other.windowHandle()->requestActivate();
    ASSERT_TRUE(waitUntil([&] { return other.isActiveWindow(); }));
    EXPECT_TRUE(waitUntil([&] { return liesRightUnderAPanel(number); })) << "an activation rose over it";
    const QImage shot = screenshotWhen([&](const QImage& image) { return barsShow(image, 1040); });
    EXPECT_TRUE(barsShow(shot, 1040)) << "the bars are not over the activated window";

    app.windowHandle()->requestActivate();
    ASSERT_TRUE(waitUntil([&] { return app.isActiveWindow(); }));
    EXPECT_TRUE(waitUntil([&] { return liesRightUnderAPanel(number); }));
}

TEST_F(VizBarWindowE2eTest, WithoutACompositorTheWindowLeavesTheScreenAndItsRendererRetires) {
    showBars();
    QWindow* native = test::qtWindowOf(*window);
    ASSERT_TRUE(waitUntil([&] { return native->isExposed(); }));
    ASSERT_TRUE(renderer->isUsable());

    host->setTranslucency(false);  // what the compositor watch does when the compositor leaves
    native = test::qtWindowOf(*window);
    EXPECT_FALSE(native->isVisible()) << "an ARGB GL window without a compositor is a black band";
    waitUntil([&] { return !renderer->isUsable(); }, std::chrono::seconds(2));
    EXPECT_FALSE(renderer->isUsable()) << "its context went with the old native window";
    EXPECT_EQ(makeVizBarWindow(*host, screens), nullptr);

    host->setTranslucency(true);
    link->stop();
    renderer = VizWindowRenderer::create(*window, {{0.5f, 0.01f}});
    ASSERT_NE(renderer, nullptr) << "a new renderer on the new surface";
    native = test::qtWindowOf(*window);
    EXPECT_TRUE(waitUntil([&] { return native->isExposed(); }));
}

}  // namespace
}  // namespace velaro::e2e
