// The reads the X11 services make off the main loop: a read that leaves work goes on without being asked,
// an ask during a read is not lost, and the end does not wait for a read that waits on the server. Against
// the real server: a reply a grabbed server holds back is waited for asleep, and given up at the
// connection's end.
#include "platform/linux/X11ReadThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/resource.h>

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

// A reading thread waits for an answer the server holds back (another client keeps it grabbed): it sleeps
// meanwhile (a wait that polled woke a thousand times a second), and the connection's end ends the wait at
// once, without the server answering.
// Another client, and a connection of the test's own to ask on; `grab` has the other hold the server, which
// then answers nobody else until `ungrab`.
class ReadThreadServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        holder = Connection::open();
        asker = Connection::open();
        if (!holder || !asker) GTEST_SKIP() << "no X server to talk to";
    }
    static void sync(Connection& c) {
        std::free(xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr));
    }
    void grab() {
        xcb_grab_server(holder->get());
        sync(*holder);
    }
    void ungrab() {
        xcb_ungrab_server(holder->get());
        sync(*holder);
    }
    std::unique_ptr<Connection> holder, asker;
};

TEST_F(ReadThreadServerTest, AWaitForAnAnswerTheServerHoldsBackSleepsAndEndsWithTheConnectionsReading) {
    grab();
    std::atomic<bool> waiting{false}, returned{false};
    long wakeUps = -1;
    bool answered = true;
    std::thread reader([&] {
        const auto switches = [] {
            rusage usage{};
            getrusage(RUSAGE_THREAD, &usage);
            return usage.ru_nvcsw + usage.ru_nivcsw;
        };
        const long before = switches();
        const auto ask = xcb_get_input_focus(asker->get());
        waiting = true;
        answered = awaitReply<xcb_get_input_focus_reply_t>(asker->get(), ask.sequence, neverStop) != nullptr;
        wakeUps = switches() - before;
        returned = true;
    });
    while (!waiting) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    asker->stopReading();
    // A wait that ignores the end would last as long as the grab: end it rather than hang the test.
    for (int i = 0; i < 10000 && !returned; ++i) std::this_thread::sleep_for(1ms);
    const bool endedDuringTheGrab = returned;
    ungrab();
    reader.join();
    EXPECT_TRUE(endedDuringTheGrab) << "the wait lasted until the grab ended";
    EXPECT_FALSE(answered);
    EXPECT_LT(wakeUps, 20) << "the waiting thread woke " << wakeUps << " times in a tenth of a second";
    EXPECT_TRUE(asker->broken()) << "the connection reads nothing more";
}

// Two reading threads wait on one connection for answers a grabbed server holds back, the later ask reading
// the socket: the connection's end ends both (threads left inside xcb out of order once never came back).
TEST_F(ReadThreadServerTest, ReadersWaitingTogetherAllEndWithTheConnectionsReading) {
    grab();
    auto* c = asker->get();
    const auto first = xcb_get_input_focus(c);
    const auto second = xcb_get_input_focus(c);
    std::atomic<int> ended{0};
    std::thread later([&] {
        awaitReply<xcb_get_input_focus_reply_t>(c, second.sequence, neverStop);
        ++ended;
    });
    std::this_thread::sleep_for(50ms);  // the later ask waits first, reading the socket
    std::thread earlier([&] {
        awaitReply<xcb_get_input_focus_reply_t>(c, first.sequence, neverStop);
        ++ended;
    });
    std::this_thread::sleep_for(50ms);
    asker->stopReading();
    for (int i = 0; i < 5000 && ended < 2; ++i) std::this_thread::sleep_for(1ms);
    const int endedDuringTheGrab = ended;
    ungrab();
    EXPECT_EQ(endedDuringTheGrab, 2) << "a reader stayed inside xcb after the connection's end";
    if (endedDuringTheGrab < 2) {
        // Still caught in xcb: the test cannot end cleanly.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    later.join();
    earlier.join();
}

// A reader that has been told to stop waits for no answer, and the connection goes on serving others.
TEST_F(ReadThreadServerTest, AStoppedReaderDropsItsAnswerUnreadAndTheConnectionStillServes) {
    const std::atomic<bool> stopped{true};
    EXPECT_EQ(awaitReply<xcb_get_input_focus_reply_t>(asker->get(),
                                                      xcb_get_input_focus(asker->get()).sequence, stopped),
              nullptr);
    EXPECT_NE(awaitReply<xcb_get_input_focus_reply_t>(asker->get(),
                                                      xcb_get_input_focus(asker->get()).sequence, neverStop),
              nullptr);
}

}  // namespace
}  // namespace velaro::x11
