// The screen sampler on the real desktop: a maximised window of one colour from another program is what the
// sampler publishes as the dominant colour, it follows that window's colour, and our own overlay window
// over the strip does not change it.
#include <memory>

#include "DesktopSampler.h"
#include "E2eSupport.h"
#include "ForeignWindow.h"

namespace velaro::e2e {
namespace {

constexpr double kPanelHeight = 28;

// A maximised window of another process in one colour, repainted on request.
ForeignWindow::Options painted(std::uint32_t rgb) {
    return {.rgb = rgb,
            .maximised = true,
            .place = std::nullopt,
            .instance = "sampler-test",
            .className = "SamplerTest"};
}

bool within(const Color& c, std::uint32_t rgb, double tolerance = 2.0 / 255) {
    const Color want =
        Color::rgb(((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0);
    return std::abs(c.red - want.red) <= tolerance && std::abs(c.green - want.green) <= tolerance &&
           std::abs(c.blue - want.blue) <= tolerance;
}

std::string describe(const Color& c) {
    char text[32];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", int(std::lround(c.red * 255)),
                  int(std::lround(c.green * 255)), int(std::lround(c.blue * 255)));
    return text;
}

class SamplerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(desktop.start());
        std::map<ScreenID, CaptureGeometry> geometry;
        for (const auto& s : desktop.screens->screens())
            geometry[s.id] = CaptureGeometry{menuBarHeight(s, desktop.screens->statusBarThickness()), {}};
        sampler().setCaptureGeometry(geometry);
        sampler().enable();
    }
    void TearDown() override {
        desktop.sampler.reset();
        // Let stop completions and queued frames drain before the services go.
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    ScreenSampler& sampler() { return *desktop.sampler; }

    // Waits until the window fills the top and the sampler publishes `rgb`.
    bool waitForColour(ForeignWindow& window, std::uint32_t rgb) {
        return askUntil([&] { setMaximised(window.window(), true); },
                        [&] { return within(sampler().dominantColor(), rgb); }, std::chrono::seconds(15));
    }

    DesktopSampler desktop;
};

TEST_F(SamplerTest, TheDominantColourIsTheFilledWindowsAndFollowsIt) {
    ASSERT_FALSE(desktop.screens->screens().empty());
    EXPECT_DOUBLE_EQ(menuBarHeight(desktop.screens->screens().front(), desktop.screens->statusBarThickness()),
                     kPanelHeight);
    ForeignWindow window(painted(0xC83C8C));
    ASSERT_GT(window.pid(), 0);
    ASSERT_NE(window.window(), 0u);

    ASSERT_TRUE(waitForColour(window, 0xC83C8C))
        << "published " << describe(sampler().dominantColor()) << ", filled "
        << sampler().isFilledWindowActive() << ", streaming " << sampler().hasActiveStream();
    EXPECT_TRUE(waitUntil([&] { return sampler().isFilledWindowActive(); }));
    EXPECT_EQ(desktop.countingCapture->streamsMade, 1) << "one stream follows the window, never restarted";

    window.paint(0x2878C8);
    EXPECT_TRUE(waitForColour(window, 0x2878C8)) << "published " << describe(sampler().dominantColor());
}

TEST_F(SamplerTest, OurOwnOverlayOverTheStripDoesNotChangeTheColour) {
    ForeignWindow window(painted(0x30A050));
    ASSERT_NE(window.window(), 0u);
    ASSERT_TRUE(waitForColour(window, 0x30A050)) << "published " << describe(sampler().dominantColor());

    // Over the sampled strip, just below the panel, across part of the screen.
    const int top = static_cast<int>(kPanelHeight);
    OwnWindow overlay(QColor(0xF0, 0xC0, 0x20), QRect(200, top, 700, 40));
    overlay.show();
    // First see the overlay on the screen where the strip is taken: had it not been left out, the stream
    // would have it from here on. Watching the colour before that could pass with nothing over the strip.
    const QImage shot = screenshotWhen([&](const QImage& image) {
        return closeTo(image.pixelColor(400, top + 3), QColor(0xF0, 0xC0, 0x20));
    });
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(closeTo(shot.pixelColor(400, top + 3), QColor(0xF0, 0xC0, 0x20)))
        << "the strip shows " << shot.pixelColor(400, top + 3).name().toStdString();
    // Several frames at 15 a second, all of which would see the overlay.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    bool stayed = true;
    waitUntil(
        [&] {
            if (!within(sampler().dominantColor(), 0x30A050)) stayed = false;
            return std::chrono::steady_clock::now() > until;
        },
        std::chrono::seconds(5));
    EXPECT_TRUE(stayed) << "published " << describe(sampler().dominantColor());
}

}  // namespace
}  // namespace velaro::e2e
