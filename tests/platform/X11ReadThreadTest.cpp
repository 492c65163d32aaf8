// The reads the X11 services make off the main loop: a read that leaves work goes on without being asked,
// an ask during a read is not lost, and the end does not wait for a read that waits on the server. The last
// is shown against the real server too: a reply a grabbed server holds back is given up once told to stop.
#include "platform/linux/X11ReadThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/linux/XcbUtil.h"

namespace velaro::x11 {
namespace {

using namespace std::chrono_literals;

// What the reads did, waited on without counting time.
struct Reads {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    void add() {
        std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    bool reach(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return count >= n; });
    }
};

TEST(ReadThreadTest, AReadThatLeavesWorkGoesOnAndAnAskDuringAReadIsNotLost) {
    Reads reads;
    std::mutex gate;
    std::unique_lock held(gate);  // the first read waits here until the second ask is in
    int calls = 0;                // the read thread's own
    ReadThread thread(
        [&](const std::atomic<bool>&) {
            const int call = ++calls;
            reads.add();
            if (call == 1) std::lock_guard wait(gate);
            // The second read leaves part of the list for the next one.
            return call != 2;
        },
        0ms, 0ms);
    thread.ask();
    ASSERT_TRUE(reads.reach(1));
    thread.ask();  // while the first read goes on
    held.unlock();
    // The second read came of the ask made during the first; the third of the part the second left.
    EXPECT_TRUE(reads.reach(3));
}

TEST(ReadThreadTest, TheEndStopsAReadThatWaitsOnTheServer) {
    Reads reads;
    bool stopped = false;
    {
        ReadThread thread(
            [&](const std::atomic<bool>& stop) {
                reads.add();
                // A scan whose answers do not come: it ends only when told to stop (or the test gives up).
                const auto giveUp = std::chrono::steady_clock::now() + 20s;
                while (!stop && std::chrono::steady_clock::now() < giveUp) std::this_thread::sleep_for(1ms);
                stopped = stop;
                return true;
            },
            0ms, 0ms);
        thread.ask();
        ASSERT_TRUE(reads.reach(1));
    }
    EXPECT_TRUE(stopped) << "the end waited for the read to finish by itself";
}

TEST(ReadThreadServerTest, AWaitForAnAnswerTheServerHoldsBackEndsWhenTold) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    auto holder = Connection::open();
    auto asker = Connection::open();
    if (!holder || !asker) GTEST_SKIP() << "no X server to talk to";
    const auto sync = [](Connection& c) {
        std::free(xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr));
    };
    // A grab holds every other client's requests until it ends.
    xcb_grab_server(holder->get());
    sync(*holder);
    std::atomic<bool> stop{false}, returned{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop = true;
        // A wait that ignores the stop would last as long as the grab: end it rather than hang the test.
        for (int i = 0; i < 10000 && !returned; ++i) std::this_thread::sleep_for(1ms);
        if (!returned) {
            xcb_ungrab_server(holder->get());
            xcb_flush(holder->get());
        }
    });
    const auto ask = xcb_get_input_focus(asker->get());
    auto reply = awaitReply<xcb_get_input_focus_reply_t>(asker->get(), ask.sequence, stop);
    returned = true;
    stopper.join();
    EXPECT_EQ(reply, nullptr) << "the wait lasted until the grab ended";
    xcb_ungrab_server(holder->get());
    sync(*holder);
    // The connection still serves: the answer given up on is dropped, the next one comes.
    const std::atomic<bool> never{false};
    EXPECT_NE(awaitReply<xcb_get_input_focus_reply_t>(asker->get(),
                                                      xcb_get_input_focus(asker->get()).sequence, never),
              nullptr);
}

}  // namespace
}  // namespace velaro::x11
