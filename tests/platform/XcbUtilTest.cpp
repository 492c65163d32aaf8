// What the X11 services lean on when any client can rewrite a root list hundreds of times in a burst: a
// followed list looks up only the windows it adds, and the event pump ends without the server's help.
#include "platform/linux/XcbUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <thread>

namespace velaro::x11 {
namespace {

// A burst of readings of a list that grows by one window each time, as a session restore makes it.
TEST(ListedWindowsTest, ABurstOfReadingsLooksUpEachWindowOnceAndAllNewOnesTogether) {
    std::vector<xcb_window_t> all(3000);
    std::iota(all.begin(), all.end(), 0x400000);
    ListedWindows<int> listed;
    int calls = 0;
    std::size_t lookedUp = 0;
    const auto lookUp = [&](const std::vector<xcb_window_t>& fresh) {
        ++calls;
        lookedUp += fresh.size();
        std::vector<int> values;
        for (auto w : fresh) values.push_back(int(w - 0x400000));
        return values;
    };
    for (int k = 0; k < 200; ++k) listed.follow({all.begin(), all.end() - (199 - k)}, lookUp);
    EXPECT_EQ(lookedUp, all.size());
    EXPECT_EQ(calls, 200);  // the first reading's 2801 windows in one call, then the one new window each
    ASSERT_NE(listed.find(all[1234]), nullptr);
    EXPECT_EQ(*listed.find(all[1234]), 1234);

    // Read again unchanged: nothing to look up.
    listed.follow(all, lookUp);
    EXPECT_EQ(calls, 200);
}

TEST(ListedWindowsTest, AWindowThatLeavesIsForgottenAndLookedUpAgainWhenItComesBack) {
    ListedWindows<int> listed;
    std::vector<std::vector<xcb_window_t>> asked;
    int next = 0;
    const auto lookUp = [&](const std::vector<xcb_window_t>& fresh) {
        asked.push_back(fresh);
        return std::vector<int>(fresh.size(), ++next);
    };
    listed.follow({1, 2, 2, 3}, lookUp);  // a window listed twice is asked once
    listed.follow({1, 3}, lookUp);
    EXPECT_EQ(listed.find(2), nullptr);
    listed.follow({3, 2, 1}, lookUp);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], (std::vector<xcb_window_t>{1, 2, 3}));
    EXPECT_EQ(asked[1], (std::vector<xcb_window_t>{2}));
    // The id came back as another window: its value is the new lookup's.
    EXPECT_EQ(*listed.find(2), 2);
    EXPECT_EQ(*listed.find(1), 1);
    listed.clear();
    EXPECT_EQ(listed.find(1), nullptr);
}

// Thousands of new windows at once are looked up a few hundred a reading, in the list's order, until known.
TEST(ListedWindowsTest, ManyNewWindowsAreLookedUpAFewAReadingFirstListedFirst) {
    std::vector<xcb_window_t> all(1000);
    std::iota(all.begin(), all.end(), 1);
    std::reverse(all.begin(), all.end());
    ListedWindows<xcb_window_t> listed;
    std::vector<std::size_t> sizes;
    const auto lookUp = [&](const std::vector<xcb_window_t>& fresh) {
        sizes.push_back(fresh.size());
        return fresh;
    };
    EXPECT_FALSE(listed.follow(all, lookUp, 300));
    EXPECT_NE(listed.find(all[0]), nullptr);
    EXPECT_NE(listed.find(all[299]), nullptr);
    EXPECT_EQ(listed.find(all[300]), nullptr);
    EXPECT_FALSE(listed.follow(all, lookUp, 300));
    EXPECT_FALSE(listed.follow(all, lookUp, 300));
    EXPECT_TRUE(listed.follow(all, lookUp, 300));
    EXPECT_TRUE(listed.follow(all, lookUp, 300));
    EXPECT_EQ(sizes, (std::vector<std::size_t>{300, 300, 300, 100}));
    for (auto w : all) EXPECT_EQ(*listed.find(w), w);
}

// Values that may have changed (every strut, after the work area moved) answer their last reading until they
// are read again, and are read before any new window: none drops out while a long list is read in parts.
TEST(ListedWindowsTest, ValuesOutOfDateAreKeptUntilReadAgainAndReadBeforeNewWindows) {
    std::vector<xcb_window_t> old(300), added(100);
    std::iota(old.begin(), old.end(), 1);
    std::iota(added.begin(), added.end(), 1001);
    ListedWindows<int> listed;
    int reading = 1;
    std::vector<std::vector<xcb_window_t>> asked;
    const auto lookUp = [&](const std::vector<xcb_window_t>& fresh) {
        asked.push_back(fresh);
        return std::vector<int>(fresh.size(), reading);
    };
    listed.follow(old, lookUp);
    reading = 2;
    listed.refreshAll();
    std::vector<xcb_window_t> all = added;
    all.insert(all.end(), old.begin(), old.end());
    EXPECT_FALSE(listed.follow(all, lookUp, 256));
    for (auto w : old) ASSERT_NE(listed.find(w), nullptr) << "window " << w << " dropped out";
    EXPECT_EQ(*listed.find(old[255]), 2);
    EXPECT_EQ(*listed.find(old[256]), 1) << "not read yet: its last value";
    EXPECT_EQ(listed.find(added[0]), nullptr);
    EXPECT_TRUE(listed.follow(all, lookUp, 256));
    ASSERT_EQ(asked.back().size(), 144u);
    EXPECT_EQ(asked.back()[0], old[256]);
    EXPECT_EQ(asked.back()[44], added[0]);
    EXPECT_TRUE(listed.follow(all, lookUp, 256));
    EXPECT_EQ(asked.size(), 3u) << "read again although nothing was out of date";

    // One value out of date is read ahead of a burst of new windows listed before it.
    reading = 3;
    listed.refresh(old[299]);
    listed.refresh(5000);  // not listed: nothing to read
    std::vector<xcb_window_t> burst(400);
    std::iota(burst.begin(), burst.end(), 2001);
    burst.insert(burst.end(), all.begin(), all.end());
    EXPECT_FALSE(listed.follow(burst, lookUp, 256));
    EXPECT_EQ(asked.back().front(), old[299]);
    EXPECT_EQ(*listed.find(old[299]), 3);
}

}  // namespace
}  // namespace velaro::x11

namespace velaro::x11 {
namespace {

// The app ends while another client keeps the server busy (here: holds it grabbed): the desktop
// connection's event pump stops without waiting for anything to come back from the server.
TEST(EventPumpServerTest, ThePumpEndsWhileTheServerAnswersNobody) {
    using namespace std::chrono_literals;
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    auto holder = Connection::open();
    auto watched = Connection::open();
    if (!holder || !watched) GTEST_SKIP() << "no X server to talk to";
    auto pump = std::make_unique<EventPump>(*watched);
    xcb_grab_server(holder->get());
    std::free(xcb_get_input_focus_reply(holder->get(), xcb_get_input_focus(holder->get()), nullptr));
    std::atomic<bool> ended{false}, released{false};
    std::thread release([&] {
        // An end that waits on the server would wait as long as the grab: end it rather than hang the test.
        for (int i = 0; i < 10000 && !ended; ++i) std::this_thread::sleep_for(1ms);
        xcb_ungrab_server(holder->get());
        xcb_flush(holder->get());
        released = !ended;
    });
    pump.reset();
    ended = true;
    release.join();
    EXPECT_FALSE(released) << "the pump ended only once the server answered again";
}

}  // namespace
}  // namespace velaro::x11
