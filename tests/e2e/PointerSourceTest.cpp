// The pointer against the test desktop: converted through the session's snapshot (so at a ratio of 2 a root
// pixel is half a point, and a new ratio or primary applies at once), watched only while needed, and read
// without waiting for the server on the main thread or, once followed, on the frame queues.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include <xcb/xcb.h>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11PointerSource.h"
#include "sampling/FrameOutput.h"
#include "sampling/PointerBand.h"

namespace velaro::e2e {
namespace {

// As a user's mouse moves it.
void movePointer(int x, int y) {
    ASSERT_TRUE(movePointerByDevice(x, y));
}

// As another program warps it: no input device tells of the move.
void warpPointer(int x, int y) {
    ASSERT_EQ(run("xdotool", {"mousemove", QString::number(x), QString::number(y)}).exitCode, 0);
}

class PointerDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(session);
        pointer = std::make_unique<X11PointerSource>(loop, *session);
    }
    void TearDown() override {
        pointer.reset();
        warpPointer(QGuiApplication::primaryScreen()->geometry().center().x(),
                    QGuiApplication::primaryScreen()->geometry().center().y());
    }

    // The ratio the session reads; a test may change it and tell the session.
    std::shared_ptr<std::atomic<double>> ratio = std::make_shared<std::atomic<double>>(2.0);
    TestSession session{[r = ratio] { return r->load(); }};
    QtMainLoop loop;
    std::unique_ptr<X11PointerSource> pointer;
};

TEST_F(PointerDesktop, RootPixelsBecomePointsThroughTheSessionsRatioAndFollowItsChanges) {
    auto watch = pointer->watchMotion([] {});
    const double height = session->screens().monitors.front().root.height();
    struct Case {
        double ratio;
        int x, y;       // root pixels
        Point topLeft;  // points
    };
    const Case cases[] = {{2, 100, 40, {50, 20}}, {2, 301, 7, {150.5, 3.5}}, {1, 100, 40, {100, 40}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ratio);
        if (ratio->load() != c.ratio) {
            *ratio = c.ratio;
            session->refreshScreens();
        }
        movePointer(c.x, c.y);
        EXPECT_TRUE(waitUntil([&] { return pointer->topLeftLocation() == c.topLeft; }))
            << "read " << pointer->topLeftLocation().value_or(Point{-1, -1});
        EXPECT_EQ(pointer->location(), (Point{c.topLeft.x, height / c.ratio - c.topLeft.y}));
    }
}

TEST_F(PointerDesktop, AWatchHearsOnlyMovesAndTheMainThreadNeverWaitsForTheServer) {
    movePointer(400, 300);
    std::vector<Point> heard;
    auto watch = pointer->watchMotion([&] { heard.push_back(*pointer->topLeftLocation()); });
    ASSERT_TRUE(waitUntil([&] { return pointer->topLeftLocation() == Point(200, 150); }));
    EXPECT_TRUE(pointer->following());
    heard.clear();
    movePointer(410, 300);
    ASSERT_TRUE(waitUntil([&] { return !heard.empty() && heard.back() == Point(205, 150); }));
    // Nothing moves: nothing is heard.
    const auto count = heard.size();
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(heard.size(), count);

    // While the event thread is busy answering a read off the main thread, main-thread reads still come
    // straight from what is known.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) pointer->location();
    });
    for (int i = 0; i < 100; ++i) EXPECT_EQ(pointer->topLeftLocation(), Point(205, 150));
    stop = true;
    reader.join();
}

TEST_F(PointerDesktop, AWorkersFirstReadAsksTheServerAndFollowingEndsWhenNothingNeedsIt) {
    warpPointer(600, 200);
    EXPECT_FALSE(pointer->following()) << "nothing has asked yet";
    std::optional<Point> read;
    std::thread([&] { read = pointer->topLeftLocation(); }).join();
    EXPECT_EQ(read, Point(300, 100)) << "a worker's first read asks the server";
    EXPECT_TRUE(pointer->following());
    // No watch and no reads for over a second: the next motion ends the following.
    waitUntil([] { return false; }, std::chrono::milliseconds(1300));
    movePointer(620, 200);
    EXPECT_TRUE(waitUntil([&] { return !pointer->following(); }));
}

// The frame queues read the pointer once a frame. While raw motion follows it those reads never wait for
// the server, not even while another client holds the server grabbed, and yet a pointer another program
// warps (which no input device tells of) reaches them within a short while.
TEST_F(PointerDesktop, FrameReadsNeverWaitForTheServerAndStillSeeAWarpSoon) {
    std::mutex mutex;
    std::optional<Point> last;
    std::atomic<bool> stop{false};
    std::thread frames([&] {
        while (!stop) {
            const auto read = pointer->topLeftLocation();
            {
                std::lock_guard lock(mutex);
                last = read;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
    });
    const auto lastRead = [&] {
        std::lock_guard lock(mutex);
        return last;
    };
    struct Warp {
        int x, y;       // root pixels
        Point topLeft;  // points
    };
    for (const auto& warp : {Warp{600, 200, {300, 100}}, Warp{640, 220, {320, 110}}, Warp{90, 30, {45, 15}}}) {
        SCOPED_TRACE(warp.x);
        warpPointer(warp.x, warp.y);
        EXPECT_TRUE(waitUntil([&] { return lastRead() == warp.topLeft; }, std::chrono::seconds(1)))
            << "read " << lastRead().value_or(Point{-1, -1});
    }
    ASSERT_TRUE(pointer->following());

    // Another client grabs the server: nothing of ours is answered until it lets go.
    auto* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    xcb_grab_server(other);
    free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    auto read = std::async(std::launch::async, [&] { return pointer->topLeftLocation(); });
    const bool answered = read.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    xcb_ungrab_server(other);
    xcb_flush(other);
    EXPECT_TRUE(answered) << "a frame's read waited for the server";
    EXPECT_EQ(read.get(), Point(45, 15));
    xcb_disconnect(other);
    stop = true;
    frames.join();
}

TEST_F(PointerDesktop, TheBeamBandAndTheFrameAnalysisGetThePointerInPoints) {
    FrameOutput::Dependencies deps;
    deps.loop = &loop;
    deps.pointer = pointer.get();
    FrameOutput output(deps);
    PointerBand band(*pointer, [&] { return std::vector<FrameOutput*>{&output}; });
    band.beamBandMenuBarHeight = 14;  // a 28-pixel panel at a ratio of 2
    band.installPointerMonitors();
    // 80 root pixels down is 40 points: inside the band that hangs 20 to 70 points below the top.
    movePointer(1440, 80);
    EXPECT_TRUE(waitUntil([&] {
        return band.pointerInBeamBand() && output.cachedPointer() == Point(720, 40);
    })) << "cached "
        << output.cachedPointer().value_or(Point{-1, -1});
    movePointer(1440, 200);
    EXPECT_TRUE(waitUntil([&] { return !band.pointerInBeamBand(); }));
    band.removePointerMonitors();
}

TEST(PointerOnTwoMonitors, ThePointerFollowsAPrimaryChangeAtOnce) {
    VELARO_REQUIRE_DESKTOP();
    TestSession session;
    ASSERT_TRUE(session);
    const auto monitors = session->screens().monitors;
    if (monitors.size() < 2) GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    QtMainLoop loop;
    X11PointerSource pointer(loop, *session);
    auto watch = pointer.watchMotion([] {});
    const auto makePrimary = [](const std::string& name) {
        return run("xrandr", {"--output", QString::fromStdString(name), "--primary"}).exitCode == 0;
    };
    const auto& first = monitors[0];
    const auto& second = monitors[1];
    ASSERT_TRUE(makePrimary(second.name));
    ASSERT_TRUE(waitUntil([&] { return session->screens().monitors.front().name == second.name; }))
        << "the session never heard of the new primary";
    movePointer(int(second.root.x()) + 30, int(second.root.y()) + 40);
    EXPECT_TRUE(waitUntil([&] { return pointer.topLeftLocation() == Point(30, 40); }))
        << "read " << pointer.topLeftLocation().value_or(Point{-1, -1});
    EXPECT_TRUE(makePrimary(first.name));
    EXPECT_TRUE(waitUntil([&] {
        return pointer.topLeftLocation() ==
               Point(second.root.x() - first.root.x() + 30, second.root.y() - first.root.y() + 40);
    }));
}

}  // namespace
}  // namespace velaro::e2e
