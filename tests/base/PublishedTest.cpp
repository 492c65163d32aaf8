// Published values and the stream operators, under the virtual loop.
#include "base/Published.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(Published, NotifiesEveryAssignmentBeforeStoring) {
    Published<int> value(1);
    std::vector<std::pair<int, int>> seen;  // (delivered, stored at delivery time)
    auto sub = value.stream().sink([&](const int& v) { seen.push_back({v, value.value()}); });
    value = 2;
    value = 2;
    EXPECT_EQ(value.value(), 2);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {2, 2}}));
}

TEST(Published, SubscriptionEndsWithItsHandle) {
    Published<int> value(0);
    int calls = 0;
    {
        auto sub = value.changes().sink([&](const int&) { ++calls; });
        value = 1;
    }
    value = 2;
    EXPECT_EQ(calls, 1);
}

TEST(Published, HandlerMayCancelAnotherDuringDelivery) {
    Published<int> value(0);
    Subscription second;
    int secondCalls = 0;
    auto first = value.changes().sink([&](const int&) { second.cancel(); });
    second = value.changes().sink([&](const int&) { ++secondCalls; });
    value = 1;
    EXPECT_EQ(secondCalls, 0);
}

TEST(StreamOperators, DropFirstAndRemoveDuplicates) {
    Published<int> value(5);
    std::vector<int> seen;
    auto sub = value.stream().dropFirst().removeDuplicates().sink([&](const int& v) { seen.push_back(v); });
    value = 5;
    value = 5;
    value = 6;
    value = 5;
    EXPECT_EQ(seen, (std::vector<int>{5, 6, 5}));
}

TEST(StreamOperators, DebounceDeliversOnlyTheLastValueAfterQuiet) {
    test::VirtualLoop loop;
    Published<int> value(0);
    std::vector<std::pair<int, double>> seen;
    auto sub = value.changes().debounce(loop, 0.2).sink([&](const int& v) {
        seen.push_back({v, loop.uptime()});
    });
    value = 1;
    loop.advance(0.1);
    value = 2;
    loop.advance(0.19);
    EXPECT_TRUE(seen.empty());
    loop.advance(0.02);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, 2);
    EXPECT_NEAR(seen[0].second, 0.3, 1e-9);
}

TEST(StreamOperators, ReceiveOnDefersToTheNextTurnAndStopsWhenCancelled) {
    test::VirtualLoop loop;
    Published<std::string> value("a");
    std::vector<std::string> seen;
    auto sub = value.changes().receiveOn(loop).sink([&](const std::string& v) { seen.push_back(v); });
    value = "b";
    EXPECT_TRUE(seen.empty());
    loop.runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"b"});
    value = "c";
    sub.cancel();
    loop.runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"b"});
}

TEST(StreamOperators, CombineLatestWaitsForEveryStream) {
    Published<int> a(1);
    PassthroughSubject<std::string> b;
    std::vector<std::tuple<int, std::string>> seen;
    auto sub = combineLatest(a.stream(), b.stream()).sink([&](const auto& t) { seen.push_back(t); });
    EXPECT_TRUE(seen.empty());
    b.send("x");
    a = 2;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_tuple(1, std::string("x")));
    EXPECT_EQ(seen[1], std::make_tuple(2, std::string("x")));
}

TEST(StreamOperators, MergeInterleavesInDeliveryOrder) {
    Published<int> a(0), b(10);
    std::vector<int> seen;
    auto sub = merge(a.changes(), b.changes()).sink([&](const int& v) { seen.push_back(v); });
    a = 1;
    b = 11;
    a = 2;
    EXPECT_EQ(seen, (std::vector<int>{1, 11, 2}));
}

}  // namespace
}  // namespace velaro
