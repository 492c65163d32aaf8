// Which process the window-event watcher follows, and the 0.1 s throttle with its trailing call.
#include "sampling/WindowEventWatcher.h"

#include <gtest/gtest.h>

#include "support/FakeWindowEvents.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

constexpr std::int32_t kOwnPID = 4242;

class WindowEventWatcherTest : public ::testing::Test {
protected:
    WindowEventWatcherTest() {
        watcher.onWindowEvent = [this](const std::string& name) { calls.push_back({loop.uptime(), name}); };
    }
    struct Call {
        double at;
        std::string name;
        bool operator==(const Call&) const = default;
    };

    test::VirtualLoop loop;
    test::FakeWindowEvents events;
    WindowEventWatcher watcher{events, loop, kOwnPID};
    std::vector<Call> calls;
};

TEST_F(WindowEventWatcherTest, ABurstGivesOneCallAtOnceAndOneTrailingCall) {
    loop.advance(5);
    watcher.poke("minimised");
    loop.advance(0.05);
    watcher.poke("destroyed");
    EXPECT_EQ(loop.pendingTimers(), 1u) << "the trailing call waits";
    loop.advance(0.03);
    watcher.poke("destroyed");  // folded into the queued call
    loop.advance(0.5);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (Call{5, "minimised"}));
    EXPECT_EQ(calls[1].name, "coalesced");
    EXPECT_NEAR(calls[1].at, 5.15, 1e-9) << "0.1 s after the second event";
    EXPECT_EQ(loop.pendingTimers(), 0u);

    // The trailing call counts as the last call: an event 0.05 s after it waits for another trailing call.
    calls.clear();
    watcher.poke("minimised");
    loop.advance(0.01);
    watcher.poke("minimised");
    loop.advance(0.15);  // the trailing call fired 0.05 s ago
    ASSERT_EQ(calls.size(), 2u);
    watcher.poke("restored");
    EXPECT_EQ(calls.size(), 2u);
    loop.advance(0.2);
    ASSERT_EQ(calls.size(), 3u) << "the event waited for another trailing call";
    EXPECT_EQ(calls[2].name, "coalesced");
}

TEST_F(WindowEventWatcherTest, AnEventAfterTheIntervalGoesStraightThroughAndTheFirstEverDoesToo) {
    watcher.poke("minimised");  // at uptime 0: the last call was in the distant past
    loop.advance(0.1);
    watcher.poke("restored");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], (Call{0.1, "restored"}));
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(WindowEventWatcherTest, NoTrailingCallAfterTheWatcherIsGone) {
    auto owned = std::make_unique<WindowEventWatcher>(events, loop, kOwnPID);
    int count = 0;
    owned->onWindowEvent = [&](const std::string&) { ++count; };
    owned->poke("a");
    owned->poke("b");
    owned.reset();
    loop.advance(1);
    EXPECT_EQ(count, 1);
}

TEST_F(WindowEventWatcherTest, WatchesOneProcessAndIgnoresItself) {
    watcher.watch(100);
    EXPECT_TRUE(events.isObserved(100));
    watcher.watch(100);
    EXPECT_EQ(events.observeCalls, 1) << "the same app is not registered again";

    watcher.watch(kOwnPID);
    EXPECT_TRUE(events.isObserved(100)) << "our own windows coming forward keep the app underneath watched";
    EXPECT_EQ(events.observedCount(), 1u);
    EXPECT_TRUE(events.fire(100, WindowEventKind::minimised));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "minimised");

    watcher.watch(200);
    EXPECT_FALSE(events.isObserved(100));
    EXPECT_TRUE(events.isObserved(200));
    watcher.watch(0);
    EXPECT_EQ(events.observedCount(), 0u);
}

TEST_F(WindowEventWatcherTest, FailedOrUntrustedWatchesLeaveNothingWatchedAndAreRetried) {
    events.trusted = false;
    watcher.watch(100);
    EXPECT_EQ(events.observedCount(), 0u);
    EXPECT_EQ(events.observeCalls, 0);

    events.trusted = true;
    events.failObserve = true;
    watcher.watch(100);
    EXPECT_EQ(events.observedCount(), 0u);
    events.failObserve = false;
    watcher.watch(100);
    EXPECT_TRUE(events.isObserved(100)) << "the next activation of the same app tries again";
}

}  // namespace
}  // namespace velaro
