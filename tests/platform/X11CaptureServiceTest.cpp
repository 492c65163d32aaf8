// What the capture service decides without a display: filters, configurations, wallpaper sizes, and clear
// errors when there is no display to capture.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/WallpaperSource.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11WallpaperSource.h"
#include "support/FakeCaptureService.h"
#include "support/VirtualLoop.h"

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

// A display name no server answers, so these run the same with or without a desktop.
x11capture::SessionOptions nowhere() {
    x11capture::SessionOptions o;
    o.displayName = ":31999";
    return o;
}

TEST(X11CaptureWithoutDisplay, ContentAndScreenshotsReportUnavailable) {
    test::VirtualLoop loop;
    X11CaptureService service(loop, nowhere());
    std::optional<CaptureError> contentError, imageError;
    bool gotContent = true, gotImage = true;
    service.getShareableContent(false, false, [&](auto content, auto error) {
        gotContent = content.has_value();
        contentError = error;
    });
    service.captureImage(ContentFilter::displayExcludingWindows({}, {}), {{}, 0, 0, 0, 1},
                         [&](auto image, auto error) {
                             gotImage = image.has_value();
                             imageError = error;
                         });
    loop.runUntilIdle();
    EXPECT_FALSE(gotContent);
    ASSERT_TRUE(contentError);
    EXPECT_EQ(contentError->code, CaptureErrorCode::unavailable);
    EXPECT_FALSE(gotImage);
    ASSERT_TRUE(imageError);
    EXPECT_EQ(imageError->code, CaptureErrorCode::unavailable);
}

TEST(X11CaptureWithoutDisplay, StreamStartFailsAndStaysIdle) {
    test::VirtualLoop loop;
    X11CaptureService service(loop, nowhere());
    bool stoppedCalled = false;
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows({1, {0, 0, 100, 100}}, {}),
                                     {{0, 24, 100, 6}, 100, 6, 1.0 / 15, 4},
                                     [&](CaptureStream&, const CaptureError&) { stoppedCalled = true; });
    std::optional<CaptureError> startError;
    stream->startCapture([&](auto error) { startError = error; });
    // The start runs on the stream's own thread; releasing the stream waits for that thread to end.
    stream.reset();
    loop.runUntilIdle();
    ASSERT_TRUE(startError);
    EXPECT_EQ(startError->code, CaptureErrorCode::unavailable);
    EXPECT_FALSE(stoppedCalled);  // a failed start is reported by its completion only
}

TEST(X11CaptureWithoutDisplay, RefusedConfigurationsNeverStart) {
    test::VirtualLoop loop;
    X11CaptureService service(loop, nowhere());
    auto stream =
        service.makeStream(ContentFilter::displayExcludingWindows({}, {}), {{0, 0, 10, 6}, 0, 6, 0.1, 4}, {});
    std::optional<CaptureError> startError;
    stream->startCapture([&](auto error) { startError = error; });
    loop.runUntilIdle();
    ASSERT_TRUE(startError);
    EXPECT_EQ(startError->code, CaptureErrorCode::invalidParameter);

    // A stream of a window is not something a stream does; screenshots take windows.
    auto windowStream = service.makeStream(ContentFilter::desktopIndependentWindow(window(3)),
                                           {{0, 0, 10, 6}, 10, 6, 0.1, 4}, {});
    startError.reset();
    windowStream->startCapture([&](auto error) { startError = error; });
    std::optional<CaptureError> stopError;
    windowStream->stopCapture([&](auto error) { stopError = error; });
    loop.runUntilIdle();
    ASSERT_TRUE(startError);
    EXPECT_EQ(startError->code, CaptureErrorCode::invalidParameter);
    ASSERT_TRUE(stopError);
    EXPECT_EQ(stopError->code, CaptureErrorCode::notStarted);
}

TEST(X11CaptureWithoutDisplay, WallpaperIsAbsent) {
    test::VirtualLoop loop;
    X11WallpaperSource source(loop, nowhere());
    bool called = false;
    std::optional<CaptureFrame> picture;
    source.captureWallpaperImage(920, false, [&](auto image) {
        called = true;
        picture = image;
    });
    loop.runUntilIdle();
    EXPECT_TRUE(called);
    EXPECT_FALSE(picture);
}

// The fake stands in for the real service in every model test, so both must answer the idle-stream calls the
// same way: the sampler stops, updates and restarts streams in every state.
template <typename Service>
struct ServiceUnderTest;
template <>
struct ServiceUnderTest<X11CaptureService> {
    static std::unique_ptr<CaptureService> make(test::VirtualLoop& loop) {
        return std::make_unique<X11CaptureService>(loop, nowhere());
    }
};
template <>
struct ServiceUnderTest<test::FakeCaptureService> {
    static std::unique_ptr<CaptureService> make(test::VirtualLoop& loop) {
        return std::make_unique<test::FakeCaptureService>(loop);
    }
};

template <typename Service>
class CaptureStreamContract : public ::testing::Test {};
using Services = ::testing::Types<X11CaptureService, test::FakeCaptureService>;
TYPED_TEST_SUITE(CaptureStreamContract, Services);

TYPED_TEST(CaptureStreamContract, IdleStreamsRefuseStopsAndTakeFiltersAtOnce) {
    test::VirtualLoop loop;
    auto service = ServiceUnderTest<TypeParam>::make(loop);
    const CaptureDisplay display{1, {0, 0, 100, 100}};
    auto stream = service->makeStream(ContentFilter::displayExcludingWindows(display, {}),
                                      {{0, 24, 100, 6}, 100, 6, 1.0 / 15, 4}, {});
    EXPECT_FALSE(stream->addStreamOutput([](const CaptureFrame&) {}, loop.makeSerialQueue("frames")));
    EXPECT_TRUE(stream->addStreamOutput({}, nullptr)) << "an output without handler or queue is refused";

    std::optional<CaptureError> stopError;
    bool stopped = false;
    stream->stopCapture([&](auto error) {
        stopped = true;
        stopError = error;
    });
    bool updated = false;
    std::optional<CaptureError> updateError;
    const auto next = ContentFilter::displayExcludingApplications(display, {app(42, "org.example.Editor")});
    stream->updateContentFilter(next, [&](auto error) {
        updated = true;
        updateError = error;
    });
    EXPECT_FALSE(stopped) << "completions come on a later turn of the main loop";
    loop.runUntilIdle();
    ASSERT_TRUE(stopped);
    ASSERT_TRUE(stopError);
    EXPECT_EQ(stopError->code, CaptureErrorCode::notStarted);
    ASSERT_TRUE(updated);
    EXPECT_FALSE(updateError);
    EXPECT_TRUE(stream->contentFilter().excludes(42, 1, false));
    EXPECT_EQ(stream->configuration().height, 6);
}

}  // namespace
}  // namespace velaro
