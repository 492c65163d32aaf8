// The wallpaper snapshot: which window is the wallpaper, the size it is taken at, and the desktop picture
// the session names (and its changes) when there is no such window.
#include <gtest/gtest.h>

#include "platform/WallpaperSource.h"
#include "sampling/WallpaperSnapshot.h"
#include "support/FakeCaptureService.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

CaptureFrame bgraFrame(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    CaptureFrame f;
    f.width = w;
    f.height = h;
    f.bytesPerRow = w * 4 + 8;
    auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(f.bytesPerRow) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto* p = pixels->data() + y * f.bytesPerRow + x * 4;
            p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
        }
    f.pixels = pixels;
    return f;
}

struct WallpaperSnapshotTest : ::testing::Test {
    VirtualLoop loop;
    FakeCaptureService capture{loop};
    FakeScreens screens;
    FakeWallpaperSource root{loop};
    WallpaperSnapshot snapshot{capture, screens, &root};
    CaptureApplication desktopApp{50, "org.example.Desktop", "Desktop"};

    void SetUp() override {
        auto main = FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1);
        main.backingScale = 2;
        screens.setScreens({main, FakeScreens::make("B", Rect{1512, 0, 1920, 1080}, 24, 2)});
        capture.content.displays = {{1, Rect{0, 0, 1512, 982}}, {2, Rect{1512, 0, 1920, 1080}}};
        capture.screenshot = bgraFrame(4, 2, 10, 20, 30);
    }
    CaptureWindow window(std::uint32_t id, Rect frame, bool desktop, std::string title = "Wallpaper") {
        return CaptureWindow{id, frame, std::move(title), desktopApp, true, desktop};
    }
    std::optional<std::optional<QImage>> take(double maxPixelSize = 920, bool nativeScale = false) {
        std::optional<std::optional<QImage>> result;
        snapshot.captureWallpaperImage(maxPixelSize, nativeScale,
                                       [&](std::optional<QImage> image) { result = image; });
        loop.runUntilIdle();
        return result;
    }
};

TEST_F(WallpaperSnapshotTest, CapturesTheDesktopWindowOfTheMainDisplayAloneScaledDown) {
    capture.content.windows = {window(7, Rect{0, 0, 1512, 982}, false),  // an app's window, same size
                               window(8, Rect{1512, 0, 1920, 1080}, true),
                               window(9, Rect{0, 0, 1512, 982}, true, "")};
    const auto result = take();
    ASSERT_TRUE(result && *result);
    ASSERT_EQ(capture.screenshotRequests().size(), 1u);
    const auto& [filter, config] = capture.screenshotRequests()[0];
    EXPECT_EQ(filter.kind, ContentFilter::Kind::window);
    EXPECT_EQ(filter.window.windowID, 9u);
    EXPECT_EQ(config.width, 920);
    EXPECT_EQ(config.height, 597);
    EXPECT_TRUE(root.requests.empty());
}

TEST_F(WallpaperSnapshotTest, NativeScaleKeepsTheDisplaysPixelDensityAndSmallWindowsAreNotEnlarged) {
    capture.content.windows = {window(9, Rect{0, 0, 1512, 982}, true)};
    take(920, true);
    EXPECT_EQ(capture.screenshotRequests().back().second.width, 3024);
    EXPECT_EQ(capture.screenshotRequests().back().second.height, 1964);
    take(5000, false);
    EXPECT_EQ(capture.screenshotRequests().back().second.width, 1512);
}

TEST_F(WallpaperSnapshotTest, WithoutAWallpaperWindowTheSessionsDesktopPictureIsUsed) {
    capture.content.windows = {window(9, Rect{0, 0, 1500, 982}, true)};  // not the display's size
    root.picture = bgraFrame(3, 1, 0x30, 0x20, 0x10);
    const auto result = take(920, false);
    ASSERT_TRUE(result && *result);
    EXPECT_TRUE(capture.screenshotRequests().empty());
    ASSERT_EQ(root.requests.size(), 1u);
    EXPECT_EQ(root.requests[0], (std::pair<double, bool>{920, false}));
    EXPECT_EQ((*result)->pixelColor(2, 0), QColor(0x10, 0x20, 0x30));

    // The session's notices of a new desktop picture are the snapshot's; without the session's picture
    // there is nothing to tell.
    WallpaperSnapshot withoutFallback(capture, screens, nullptr);
    int told = 0, toldWithout = 0;
    const auto watch = snapshot.wallpaperChanged().sink([&](int) { ++told; });
    const auto watchWithout = withoutFallback.wallpaperChanged().sink([&](int) { ++toldWithout; });
    root.changes.send(0);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(toldWithout, 0);
}

TEST_F(WallpaperSnapshotTest, EveryFailureGivesNothing) {
    capture.content.windows = {window(9, Rect{0, 0, 1512, 982}, true)};
    capture.screenshot.reset();
    auto result = take();
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result) << "the screenshot failed";

    capture.contentError = CaptureError{CaptureErrorCode::unavailable, "no server"};
    result = take();
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);

    capture.contentError.reset();
    capture.content.windows.clear();
    result = take();  // no window, and the session names no picture either
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);

    WallpaperSnapshot withoutFallback(capture, screens, nullptr);
    bool called = false;
    withoutFallback.captureWallpaperImage(920, false, [&](std::optional<QImage> image) {
        called = true;
        EXPECT_FALSE(image);
    });
    loop.runUntilIdle();
    EXPECT_TRUE(called);
}

TEST(WallpaperImage, KeepsTheFramesColoursAndSkipsTheRowPadding) {
    const auto image = imageFromFrame(bgraFrame(5, 3, 0x11, 0x22, 0x33));
    ASSERT_EQ(image.size(), QSize(5, 3));
    EXPECT_EQ(image.pixelColor(4, 2), QColor(0x33, 0x22, 0x11));
    EXPECT_TRUE(imageFromFrame(CaptureFrame{}).isNull());
}

}  // namespace
}  // namespace velaro::test
