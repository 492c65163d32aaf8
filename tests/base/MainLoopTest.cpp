// The virtual loop's ordering guarantees, which every model test relies on, the app loop's timers and the
// real serial queue.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
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

// The app's own timers, with no delay so that turns of Qt's loop (not time) drive them. Each case counts
// how often blocks ran over the same number of turns.
TEST(QtMainLoop, TimersRunOnceOrUntilCancelledAndAStaleHandleNeverStopsAnother) {
    const auto turns = [] {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    };
    struct Case {
        const char* name;
        std::function<int(QtMainLoop&)> run;  // returns how often its blocks ran
        int expected;
    };
    const std::vector<Case> cases = {
        {"a single shot runs once",
         [&](QtMainLoop& loop) {
             int n = 0;
             auto h = loop.postAfter(0, [&] { ++n; });
             turns();
             return n;
         },
         1},
        {"cancelled or dropped before it is due, never",
         [&](QtMainLoop& loop) {
             int n = 0;
             auto kept = loop.postAfter(0, [&] { ++n; });
             kept.cancel();
             {
                 auto dropped = loop.postAfter(0, [&] { ++n; });
             }
             turns();
             return n;
         },
         0},
        {"restarted every turn, only the last start runs",
         [&](QtMainLoop& loop) {
             int n = 0;
             Cancellable h;
             for (int i = 0; i < 5; ++i) h = loop.postAfter(0, [&] { ++n; });
             turns();
             return n;
         },
         1},
        // Timer numbers are reused once a timer ends: the handle of one that already ran must not stop
        // the next one given its number.
        {"the handle of a timer that ran leaves the next one alone",
         [&](QtMainLoop& loop) {
             int n = 0;
             auto first = loop.postAfter(0, [&] { ++n; });
             turns();
             auto second = loop.postAfter(0, [&] { n += 10; });
             first.cancel();
             turns();
             return n;
         },
         11},
        {"a repeating timer runs until its own block stops it",
         [&](QtMainLoop& loop) {
             int n = 0;
             Cancellable h;
             h = loop.every(0, [&] {
                 if (++n == 3) h.cancel();
             });
             turns();
             return n;
         },
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QtMainLoop loop;
        EXPECT_EQ(c.run(loop), c.expected);
    }
}

// Blocks posted from the loop's own thread are no Qt events (each of which writes the dispatcher's
// wake-up descriptor): sending Qt's posted events leaves them, and the loop's next turns run them in the
// order posted, before timers that were due with them, each block's own posts a turn later. A block that
// posts itself again and again never starves a timer; one that turns the loop itself (a modal dialog)
// still has what it posts meanwhile run.
TEST(QtMainLoop, OwnThreadPostsRunInOrderOnLaterTurnsWithoutQtEvents) {
    QtMainLoop loop;
    std::vector<std::string> ran;
    auto timer = loop.postAfter(0, [&] { ran.push_back("timer"); });
    loop.post([&] {
        ran.push_back("a");
        loop.post([&] { ran.push_back("a's own"); });
    });
    loop.post([&] { ran.push_back("b"); });
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(ran.empty()) << "a post from the loop's thread went through Qt's event queue";
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "timer", "a's own"}));

    bool due = false;
    int reposts = 0;
    std::function<void()> again = [&] {
        if (!due && ++reposts < 100000) loop.post(again);
    };
    auto stop = loop.postAfter(0, [&] { due = true; });
    loop.post(again);
    for (int i = 0; i < 50 && !due; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(due);
    EXPECT_LT(reposts, 50) << "posts made by posted blocks ran in the same turn";

    bool inner = false, outerDone = false;
    loop.post([&] {
        loop.post([&] { inner = true; });
        for (int i = 0; i < 50 && !inner; ++i) QCoreApplication::processEvents();
        outerDone = true;
    });
    for (int i = 0; i < 20 && !outerDone; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(inner) << "a block turning the loop itself never saw what it posted";
}

TEST(QtMainLoop, ABlocksCapturesGoWhenItHasRunAndAHandleMayOutliveTheLoop) {
    auto held = std::make_shared<int>(0);
    Cancellable outliving;
    {
        QtMainLoop loop;
        auto ran = loop.postAfter(0, [held] { ++*held; });
        outliving = loop.postAfter(60, [held] { ++*held; });
        for (int i = 0; i < 20 && *held == 0; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(*held, 1);
        EXPECT_EQ(held.use_count(), 2);  // the block that ran let its copy go; the waiting one holds one
        outliving.cancel();
        EXPECT_EQ(held.use_count(), 1);
        outliving = loop.postAfter(60, [] {});
    }
    outliving.cancel();  // its loop is gone: nothing to stop, nothing to crash on
}

// Blocks still waiting when the loop goes (posted from its thread or another, timers) are let go while the
// loop is still whole, on its thread; what their captures do as they go (post, start a timer, cancel another
// handle, as a capture stream let go does) finds a loop that drops it instead of one half destroyed.
TEST(QtMainLoop, BlocksLeftWhenTheLoopGoesAreDroppedAndWhatTheyPostAsTheyGoToo) {
    struct Going {
        QtMainLoop* loop;
        std::vector<std::string>* gone;
        std::string name;
        Cancellable* other;
        ~Going() {
            gone->push_back(name + (loop->isMainThread() ? "" : " off the loop's thread"));
            loop->post([gone = gone] { gone->push_back("a post made while going ran"); });
            Cancellable later = loop->postAfter(0, [gone = gone] { gone->push_back("a timer ran"); });
            if (other) other->cancel();
        }
    };
    std::vector<std::string> gone;
    Cancellable waiting;
    {
        auto loop = std::make_unique<QtMainLoop>();
        const auto going = [&](std::string name, Cancellable* other = nullptr) {
            return [g = std::make_shared<Going>(loop.get(), &gone, std::move(name), other)] {
                g->gone->push_back("ran");
            };
        };
        std::thread([&] { loop->post(going("posted from a worker")); }).join();
        loop->post(going("posted from the loop's thread"));
        waiting = loop->postAfter(60, going("a timer"));
        Cancellable repeating = loop->every(60, going("a repeating timer", &waiting));
        loop.reset();
    }
    std::sort(gone.begin(), gone.end());
    EXPECT_EQ(gone, (std::vector<std::string>{"a repeating timer", "a timer", "posted from a worker",
                                              "posted from the loop's thread"}));
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

// A producer's hand-over runs on its own thread only while the queue has nothing else to do; behind a
// running or queued block it waits its turn on the queue's thread, in order.
TEST(ThreadSerialQueue, HandsOverRunHereWhenIdleAndInOrderBehindOthers) {
    ThreadSerialQueue queue("com.quornet.Velaro.test");
    const auto caller = std::this_thread::get_id();

    std::thread::id idleRanOn;
    queue.runOrAsync([&] { idleRanOn = std::this_thread::get_id(); });
    EXPECT_EQ(idleRanOn, caller);  // ran before the call returned, here

    std::promise<void> release;
    std::promise<std::thread::id> lastRan;
    std::vector<int> order;  // written by one block at a time, read after the last
    auto releaseFuture = release.get_future();
    queue.async([&] {
        releaseFuture.wait();
        order.push_back(1);
    });
    queue.runOrAsync([&] { order.push_back(2); });  // behind a running block
    queue.runOrAsync([&] { order.push_back(3); });  // behind a queued one
    queue.async([&] {
        order.push_back(4);
        lastRan.set_value(std::this_thread::get_id());
    });
    EXPECT_TRUE(order.empty());  // nothing ran here while the first block held the queue
    release.set_value();
    EXPECT_NE(lastRan.get_future().get(), caller);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(Log, LinesCarryTheirTagAndReachTheSink) {
    std::vector<std::string> lines;
    auto previous = setLogSink([&](std::string_view tag, std::string_view message) {
        lines.push_back(std::string(tag) + "|" + std::string(message));
    });
    qCInfo(lcPlayer) << tagged("PROG", "adapter started");
    setLogSink(std::move(previous));
    EXPECT_EQ(lines, std::vector<std::string>{"PROG|adapter started"});
}

}  // namespace
}  // namespace velaro
