// The session against the test desktop: event selections shared by several holders, events that reach the
// main thread while other threads make round trips on the same connection, and the screen snapshot that
// overlay windows follow.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <atomic>
#include <cmath>
#include <thread>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/XcbUtil.h"
#include "support/OverlayQtWindow.h"

namespace velaro::e2e {
namespace {

class X11SessionDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        other = x11::Connection::open();
        ASSERT_TRUE(other);
        for (auto* w : {&first, &second}) {
            *w = xcb_generate_id(other->get());
            xcb_create_window(other->get(), XCB_COPY_FROM_PARENT, *w, other->root(), 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        xcb_flush(other->get());
        handler = (*session)->addEventHandler([this](const xcb_generic_event_t& e) {
            if ((e.response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
                changed.push_back(reinterpret_cast<const xcb_property_notify_event_t&>(e).window);
        });
    }
    void TearDown() override {
        handler.cancel();
        session.reset();
    }

    // Another program changes a property of one of its windows.
    void touch(xcb_window_t window) {
        const char value = 'x';
        xcb_change_property(other->get(), XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            1, &value);
        xcb_flush(other->get());
    }
    // The server has taken every request the session sent so far (selections come before the next touch).
    void sync() {
        auto* c = (*session)->desktop().get();
        x11::own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    bool heard(xcb_window_t window) const {
        return std::find(changed.begin(), changed.end(), window) != changed.end();
    }

    std::unique_ptr<TestSession> session;
    std::unique_ptr<x11::Connection> other;
    xcb_window_t first = 0, second = 0;
    Subscription handler;
    std::vector<xcb_window_t> changed;
};

TEST_F(X11SessionDesktop, AWindowStaysSelectedWhileAnyHolderWantsItsEvents) {
    auto property = (*session)->selectEvents(first, XCB_EVENT_MASK_PROPERTY_CHANGE);
    auto propertyAndStructure =
        (*session)->selectEvents(first, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    auto marker = (*session)->selectEvents(second, XCB_EVENT_MASK_PROPERTY_CHANGE);
    property.cancel();
    sync();
    touch(first);
    EXPECT_TRUE(waitUntil([&] { return heard(first); })) << "the other holder still wants property changes";

    propertyAndStructure.cancel();
    sync();
    changed.clear();
    touch(first);
    touch(second);
    ASSERT_TRUE(waitUntil([&] { return heard(second); }));
    EXPECT_FALSE(heard(first)) << "nobody holds the window any more";
}

TEST_F(X11SessionDesktop, EventsReachTheMainThreadWhileAnotherThreadMakesRoundTrips) {
    // A worker reading the window list over and over takes the socket's data into xcb's queue, where nothing
    // but a waiter inside xcb notices the events among it.
    X11WindowList list(**session);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) list.snapshot();
    });
    auto selection = (*session)->selectEvents(second, XCB_EVENT_MASK_PROPERTY_CHANGE);
    sync();
    int heardTimes = 0;
    for (int i = 0; i < 20; ++i) {
        changed.clear();
        touch(second);
        if (waitUntil([&] { return heard(second); }, std::chrono::seconds(3))) ++heardTimes;
    }
    stop = true;
    worker.join();
    EXPECT_EQ(heardTimes, 20);
}

TEST_F(X11SessionDesktop, TheSnapshotHasThePrimaryFirstAndQtsRatio) {
    const auto snapshot = (*session)->screens();
    ASSERT_FALSE(snapshot.monitors.empty());
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const double ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    EXPECT_EQ(snapshot.space.pixelsPerPoint(), ratio);
    EXPECT_EQ(snapshot.monitors.front().root,
              Rect(primary.x(), primary.y(), primary.width() * ratio, primary.height() * ratio));
    EXPECT_EQ(snapshot.rootWidth, (*session)->desktop().screen().width_in_pixels);
}

TEST(X11SessionScreens, OverlayWindowsAreLaidOutAgainAsSoonAsTheSnapshotChanges) {
    VELARO_REQUIRE_DESKTOP();
    auto ratio = std::make_shared<std::atomic<double>>(1.0);
    TestSession session([ratio] { return ratio->load(); });
    ASSERT_TRUE(session);
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0)
        << "Qt places this process's windows 1:1";
    QtMainLoop loop;
    QtOverlayWindowHost host(loop, session.session.get());
    const Rect frame(100, 400, 200, 20);  // global points
    auto window =
        host.makeWindow({"relayout", frame, OverlayWindowLevel::panel, 1.0,
                         [](QPainter& p, Size s) { p.fillRect(QRectF(0, 0, s.width, s.height), Qt::red); }});
    window->orderFrontRegardless();
    const QWindow* native = test::qtWindowOf(*window);
    ASSERT_NE(native, nullptr);
    const auto placed = [&] {
        const Rect root = session->space().rootFromGlobal(frame);
        return QRect(int(std::lround(root.x())), int(std::lround(root.y())), int(std::lround(root.width())),
                     int(std::lround(root.height())));
    };
    const QRect before = placed();
    EXPECT_EQ(native->geometry(), before);
    // The frame stays; the points it means change with the ratio, and the window follows at once.
    *ratio = 2;
    session->refreshScreens();
    EXPECT_NE(placed(), before);
    EXPECT_EQ(native->geometry(), placed());
}

// Threads keep a copy of the screen space between changes: after each change every thread, the ones that
// read before it too, sees the new space, and two sessions read on one thread never see each other's.
TEST(X11SessionScreens, EveryThreadSeesEachChangeOfTheSpaceAndNoOtherSessions) {
    VELARO_REQUIRE_DESKTOP();
    auto ratio = std::make_shared<std::atomic<double>>(1.0);
    TestSession session([ratio] { return ratio->load(); });
    TestSession other([] { return 3.0; });
    ASSERT_TRUE(session);
    ASSERT_TRUE(other);
    const auto onAnotherThread = [&] {
        double seen = 0;
        std::thread([&] { seen = session->space().pixelsPerPoint(); }).join();
        return seen;
    };
    // One thread reads across changes; the other reads now and then.
    double seenByReader = 0;
    std::atomic<int> wanted{0}, done{0};
    std::thread reader([&] {
        for (int round = 1; round <= 3; ++round) {
            while (wanted.load() < round) std::this_thread::yield();
            seenByReader = session->space().pixelsPerPoint();
            EXPECT_EQ(other->space().pixelsPerPoint(), 3.0);
            done.store(round);
        }
    });
    const auto readerSees = [&](int round) {
        wanted.store(round);
        while (done.load() < round) std::this_thread::yield();
        return seenByReader;
    };
    EXPECT_EQ(readerSees(1), 1.0);
    EXPECT_EQ(session->space().pixelsPerPoint(), 1.0);
    for (const auto& [round, next] : {std::pair{2, 2.0}, std::pair{3, 1.0}}) {
        SCOPED_TRACE(next);
        *ratio = next;
        session->refreshScreens();
        EXPECT_EQ(session->space().pixelsPerPoint(), next);
        EXPECT_EQ(other->space().pixelsPerPoint(), 3.0);
        EXPECT_EQ(session->space().pixelsPerPoint(), next);
        EXPECT_EQ(readerSees(round), next);
        EXPECT_EQ(onAnotherThread(), next);
    }
    reader.join();
}

}  // namespace
}  // namespace velaro::e2e
