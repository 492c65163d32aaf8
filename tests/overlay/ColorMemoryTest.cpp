// The per-app colour cache (recency of recording, eight apps), the owner-tick rule that fills it and the
// settle rule that ends a colour hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "overlay/ColorMemory.h"

namespace velaro {
namespace {

RevealColorHold holdOf(double red) {
    return RevealColorHold{Color::rgb(red, 0, 0), {}, std::nullopt, Color::black(), Color::black()};
}

TEST(AppearanceCacheTest, NinthAppEvictsTheOneRecordedLongestAgoNotTheOneUsedLongestAgo) {
    AppearanceCache cache;
    for (int i = 0; i < 8; ++i) cache.record("app" + std::to_string(i), holdOf(i / 10.0), i);
    // Recording app0 again makes it the most recent; app1 is now the oldest recording.
    cache.record("app0", holdOf(0.9), 8);
    cache.record("app8", holdOf(0.8), 9);

    EXPECT_EQ(cache.size(), AppearanceCache::kCapacity);
    EXPECT_EQ(cache.find("app1"), nullptr);
    ASSERT_NE(cache.find("app0"), nullptr);
    EXPECT_DOUBLE_EQ(cache.find("app0")->hold.dominant.red, 0.9);
    EXPECT_DOUBLE_EQ(cache.find("app0")->at, 8);
    // Fresh apps now evict the others oldest recording first: app0, recorded twice, goes once, after app7.
    const std::vector<std::string> order{"app2", "app3", "app4", "app5", "app6", "app7", "app0", "app8"};
    for (std::size_t i = 0; i < order.size(); ++i) {
        cache.record("new" + std::to_string(i), holdOf(0.1), 10.0 + i);
        EXPECT_EQ(cache.find(order[i]), nullptr) << order[i];
        EXPECT_EQ(cache.size(), AppearanceCache::kCapacity);
        for (std::size_t j = i + 1; j < order.size(); ++j)
            EXPECT_NE(cache.find(order[j]), nullptr) << order[j];
    }
}

class OwnerTickTest : public ::testing::Test {
protected:
    bool tick(const std::optional<std::string>& owner, double now, bool filled = true, double freeze = 0) {
        return memory.recordOwnerTick(owner, now, filled, freeze, [&] { return holdOf(0.5); });
    }
    ColorMemory memory;
};

TEST_F(OwnerTickTest, RecordsOnlyOnTheSecondTickOfTheSameOwnerWithinOneAndAHalfSeconds) {
    EXPECT_FALSE(tick("a", 10.0));  // no previous tick
    EXPECT_TRUE(tick("a", 11.5));
    EXPECT_FALSE(tick("a", 13.1));  // 1.6 s after the last
    EXPECT_TRUE(tick("a", 14.0));
    EXPECT_FALSE(tick("b", 14.5));  // owner changed
    EXPECT_EQ(memory.cache().size(), 1u);
}

TEST_F(OwnerTickTest, NoRecordingWithoutAFilledWindowWhileFrozenOrWithoutOwner) {
    tick("a", 1.0);
    EXPECT_FALSE(tick("a", 1.5, /*filled=*/false));
    EXPECT_FALSE(tick("a", 2.0, true, /*freeze=*/2.01));
    EXPECT_TRUE(tick("a", 2.5, true, 2.5));  // the freeze has just ended
    EXPECT_FALSE(tick(std::nullopt, 3.0));
    EXPECT_FALSE(tick(std::nullopt, 3.1));
    // Every tick moves the reference, recorded or not: "a" after a gap of no owner starts afresh.
    EXPECT_FALSE(tick("a", 3.2));
}

TEST_F(OwnerTickTest, ResetMakesTheNextTickAChangeOfOwner) {
    tick("a", 1.0);
    memory.resetPrevTickOwner();
    EXPECT_FALSE(tick("a", 1.2));
    EXPECT_TRUE(tick("a", 1.4));
}

TEST(ColorHoldTest, HeldForAtLeastFifteenHundredthsThenUntilAColourArrivesAndAtMostHalfASecond) {
    ColorMemory memory;
    EXPECT_FALSE(memory.holdSettled(5.0, 100));  // no hold
    const auto generation = memory.beginHold(10.0, 7);
    EXPECT_EQ(generation, memory.edgeGeneration());

    EXPECT_FALSE(memory.holdSettled(10.1, 8));  // a colour 0.1 s after the edge is still the old app's
    EXPECT_FALSE(memory.holdSettled(10.15, 7));
    EXPECT_TRUE(memory.holdSettled(10.15, 8));
    EXPECT_FALSE(memory.holdSettled(10.49, 7));
    EXPECT_TRUE(memory.holdSettled(10.5, 7));

    // A second edge starts a new generation and its own clock.
    memory.beginHold(10.4, 8);
    EXPECT_EQ(memory.edgeGeneration(), generation + 1);
    EXPECT_FALSE(memory.holdSettled(10.5, 7));
    memory.endHold();
    EXPECT_FALSE(memory.isHolding());
    EXPECT_FALSE(memory.holdSettled(20.0, 50));
}

}  // namespace
}  // namespace velaro
