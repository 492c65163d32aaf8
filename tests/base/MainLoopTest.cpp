// The virtual loop's ordering guarantees, which every model test relies on, and the real serial queue.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/QtMainLoop.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(VirtualLoop, TimersFireInDueOrderAtTheirOwnTime) {
    test::VirtualLoop loop;
    std::vector<std::pair<std::string, double>> fired;
    auto b = loop.postAfter(0.3, [&] { fired.push_back({"b", loop.uptime()}); });
    auto a = loop.postAfter(0.1, [&] { fired.push_back({"a", loop.uptime()}); });
    auto tick = loop.every(0.25, [&] { fired.push_back({"tick", loop.uptime()}); });
    loop.advance(0.6);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired[0].first, "a");
    EXPECT_EQ(fired[1].first, "tick");
    EXPECT_DOUBLE_EQ(fired[1].second, 0.25);
    EXPECT_EQ(fired[2].first, "b");
    EXPECT_EQ(fired[3].first, "tick");
    EXPECT_DOUBLE_EQ(fired[3].second, 0.5);
    EXPECT_DOUBLE_EQ(loop.uptime(), 0.6);
}

TEST(VirtualLoop, CancelledAndDestroyedHandlesNeverFire) {
    test::VirtualLoop loop;
    int fired = 0;
    auto kept = loop.postAfter(0.1, [&] { ++fired; });
    kept.cancel();
    {
        auto dropped = loop.postAfter(0.1, [&] { ++fired; });
    }
    Cancellable self;
    self = loop.every(0.1, [&] {
        ++fired;
        self.cancel();  // a repeating timer may stop itself from its own block
    });
    loop.advance(1.0);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(VirtualLoop, PostsRunBeforeTimeMovesAndSerialQueuesKeepOrder) {
    test::VirtualLoop loop;
    std::vector<int> order;
    auto queue = loop.makeSerialQueue("test.queue");
    auto timer = loop.postAfter(0, [&] { order.push_back(3); });
    queue->async([&] { order.push_back(1); });
    loop.post([&] { order.push_back(2); });
    loop.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    queue.reset();
    loop.runUntilIdle();
}

TEST(VirtualLoop, DisplayLinkTicksAtThePreferredRate) {
    test::VirtualLoop loop;
    int frames = 0;
    auto link = loop.makeDisplayLink([&](double) { ++frames; });
    link->setPreferredFrameRateRange(30, 120, 60);
    loop.advance(1.0);
    EXPECT_EQ(frames, 0);
    link->start();
    loop.advance(1.0 + 1e-9);
    EXPECT_EQ(frames, 60);
    link->stop();
    loop.advance(1.0);
    EXPECT_EQ(frames, 60);
}

TEST(ThreadSerialQueue, RunsBlocksInOrderOffTheCallingThread) {
    ThreadSerialQueue queue("com.quornet.Velaro.test");
    std::vector<int> order;
    std::promise<std::thread::id> ran;
    auto done = ran.get_future();
    queue.asyncAfter(0.001, [&] {
        order.push_back(3);
        ran.set_value(std::this_thread::get_id());
    });
    queue.async([&] { order.push_back(1); });
    queue.async([&] { order.push_back(2); });
    EXPECT_NE(done.get(), std::this_thread::get_id());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Log, LinesCarryTheirTagAndReachTheSink) {
    std::vector<std::string> lines;
    auto previous = setLogSink([&](std::string_view tag, std::string_view message) {
        lines.push_back(std::string(tag) + "|" + std::string(message));
    });
    logLine("PROG", "adapter started");
    setLogSink(std::move(previous));
    EXPECT_EQ(lines, std::vector<std::string>{"PROG|adapter started"});
}

}  // namespace
}  // namespace velaro
