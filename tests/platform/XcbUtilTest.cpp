// What the X11 services lean on when any client can rewrite a root list hundreds of times in a burst: a
// followed list looks up only the windows it adds.
#include "platform/linux/XcbUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

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

}  // namespace
}  // namespace velaro::x11
