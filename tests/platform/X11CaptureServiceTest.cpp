// What the capture service decides without a display: filters, configurations and wallpaper sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/WallpaperSource.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11WallpaperSource.h"

namespace velaro {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

CaptureApplication app(std::int64_t pid, std::string id) {
    return {pid, std::move(id), ""};
}
CaptureWindow window(std::uint32_t id) {
    CaptureWindow w;
    w.windowID = id;
    return w;
}

TEST(CaptureContentFilter, ExcludesApplicationsByProcessExceptTheExceptedWindows) {
    const CaptureDisplay display{7, {0, 0, 1920, 1080}};
    const auto filter = ContentFilter::displayExcludingApplications(
        display, {app(100, "com.quornet.Velaro"), app(200, "org.example.Editor")}, {window(21)});
    EXPECT_TRUE(filter.excludes(100, 11, false));
    EXPECT_TRUE(filter.excludes(200, 20, false));
    EXPECT_FALSE(filter.excludes(200, 21, false));  // excepted
    EXPECT_FALSE(filter.excludes(300, 30, false));
    // The top panel is left out unless the caller keeps the menu bar.
    EXPECT_TRUE(filter.excludes(300, 31, true));
    ContentFilter keepingBar = filter;
    keepingBar.includeMenuBar = true;
    EXPECT_FALSE(keepingBar.excludes(300, 31, true));
}

TEST(CaptureContentFilter, UnknownProcessesNeverMatchAnApplication) {
    // An application listed without a process must not take every window of unknown origin with it.
    const auto filter = ContentFilter::displayExcludingApplications({}, {app(0, "")});
    EXPECT_FALSE(filter.excludes(0, 5, false));
}

TEST(CaptureContentFilter, WindowFiltersAndWindowExclusion) {
    const auto byWindow = ContentFilter::displayExcludingWindows({}, {window(40), window(41)});
    EXPECT_TRUE(byWindow.excludes(9, 41, false));
    EXPECT_FALSE(byWindow.excludes(9, 42, false));
    const auto alone = ContentFilter::desktopIndependentWindow(window(40));
    EXPECT_EQ(alone.kind, ContentFilter::Kind::window);
    EXPECT_FALSE(alone.excludes(9, 40, true));
}

TEST(CaptureConfiguration, RefusesWhatCannotBeCaptured) {
    StreamConfiguration ok{{0, 24, 1512, 6}, 1512, 6, 1.0 / 15, 4};
    EXPECT_FALSE(X11CaptureService::validate(ok));
    StreamConfiguration displayRate = ok;
    displayRate.minimumFrameInterval = 0;
    EXPECT_FALSE(X11CaptureService::validate(displayRate));

    const auto refused = [&](auto change) {
        StreamConfiguration c = ok;
        change(c);
        const auto error = X11CaptureService::validate(c);
        return error && error->code == CaptureErrorCode::invalidParameter;
    };
    EXPECT_TRUE(refused([](auto& c) { c.width = 0; }));
    EXPECT_TRUE(refused([](auto& c) { c.height = -3; }));
    EXPECT_TRUE(refused([](auto& c) { c.width = 100000; }));
    EXPECT_TRUE(refused([](auto& c) { c.minimumFrameInterval = -1.0 / 15; }));  // a negative frame rate
    EXPECT_TRUE(refused([](auto& c) { c.minimumFrameInterval = kNaN; }));
    EXPECT_TRUE(refused([](auto& c) { c.minimumFrameInterval = std::numeric_limits<double>::infinity(); }));
    EXPECT_TRUE(refused([](auto& c) { c.queueDepth = 0; }));
    EXPECT_TRUE(refused([](auto& c) { c.sourceRect = {kNaN, 0, 10, 10}; }));
    EXPECT_TRUE(refused([](auto& c) { c.sourceRect = {0, 0, -10, 10}; }));
}

TEST(WallpaperSize, FitsTheLongerSideAndNeverEnlarges) {
    EXPECT_EQ(wallpaperPixelSize(1512, 982, 1, 920, false), (WallpaperPixelSize{920, 597}));
    EXPECT_EQ(wallpaperPixelSize(1512, 982, 2, 920, false), (WallpaperPixelSize{920, 597}));
    EXPECT_EQ(wallpaperPixelSize(1512, 982, 2, 5000, false), (WallpaperPixelSize{1512, 982}));
    EXPECT_EQ(wallpaperPixelSize(982, 1512, 1, 920, false), (WallpaperPixelSize{597, 920}));
    EXPECT_EQ(wallpaperPixelSize(1512, 982, 2, 920, true), (WallpaperPixelSize{3024, 1964}));
}

TEST(WallpaperSize, BadRequestsGiveNoPicture) {
    EXPECT_TRUE(wallpaperPixelSize(1512, 982, 1, 0, false).isEmpty());
    EXPECT_TRUE(wallpaperPixelSize(1512, 982, 1, -920, false).isEmpty());
    EXPECT_TRUE(wallpaperPixelSize(1512, 982, 1, kNaN, false).isEmpty());
    EXPECT_TRUE(wallpaperPixelSize(1512, 982, 1, 1, false).isEmpty());  // 1 × 0.65 px
    EXPECT_TRUE(wallpaperPixelSize(0, 982, 1, 920, false).isEmpty());
    EXPECT_TRUE(wallpaperPixelSize(kNaN, 982, 1, 920, true).isEmpty());
    // A broken pixel density falls back to one pixel per point rather than failing.
    EXPECT_EQ(wallpaperPixelSize(100, 50, kNaN, 0, true), (WallpaperPixelSize{100, 50}));
    EXPECT_TRUE(wallpaperPixelSize(1e9, 1e9, 1, 1e12, false).isEmpty());
}

}  // namespace
}  // namespace velaro
