// The own-menu freeze: on at once, lifted 0.35 s after the close, and never lifted under a reopened menu;
// the sampler holding it while one of our menus is open.
#include "sampling/OwnMenuTracker.h"

#include <gtest/gtest.h>

#include <vector>

#include "sampling/ScreenSamplerTestRig.h"
#include "support/FakeMenuTracking.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

class OwnMenuTrackerTest : public ::testing::Test {
protected:
    test::VirtualLoop loop;
    test::FakeMenuTracking menus;
    std::vector<bool> calls;
    bool frozen() const { return !calls.empty() && calls.back(); }
};

TEST_F(OwnMenuTrackerTest, FreezesAtOnceAndLiftsAFractionOfASecondAfterTheClose) {
    OwnMenuTracker tracker(menus, loop, [&](bool on) { calls.push_back(on); });
    menus.begin();
    EXPECT_TRUE(frozen());
    loop.advance(5);
    menus.end();
    loop.advance(0.34);
    EXPECT_TRUE(frozen());
    EXPECT_EQ(loop.pendingTimers(), 1u) << "the lift waits";
    loop.advance(0.01);
    EXPECT_FALSE(frozen());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST_F(OwnMenuTrackerTest, AMenuReopenedBeforeTheLiftStaysFrozenUntilItsOwnClose) {
    OwnMenuTracker tracker(menus, loop, [&](bool on) { calls.push_back(on); });
    menus.begin();
    menus.end();
    loop.advance(0.2);
    menus.begin();  // reopened while the first close's lift is pending
    loop.advance(1.0);
    EXPECT_TRUE(frozen()) << "the earlier close must not unfreeze the open menu";
    menus.end();
    menus.begin();
    menus.end();
    loop.advance(0.34);
    EXPECT_TRUE(frozen());
    loop.advance(0.01);
    EXPECT_FALSE(frozen());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), false), 1);
}

TEST_F(OwnMenuTrackerTest, NothingIsLiftedOnceTheTrackerIsGone) {
    {
        OwnMenuTracker tracker(menus, loop, [&](bool on) { calls.push_back(on); });
        menus.begin();
        menus.end();
    }
    loop.advance(1.0);
    menus.begin();
    EXPECT_EQ(calls, std::vector<bool>{true});
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

// The sampler follows our own menus through the menu tracking it is given.
TEST(OwnMenuFreeze, TheSamplerStaysFrozenUntilBothTheMenuAndTheOverviewAreGone) {
    test::SamplerRig rig;
    std::vector<bool> published;
    auto sub = rig.sampler->isSamplingFrozen.changes().sink([&](bool v) { published.push_back(v); });
    rig.menus.begin();
    EXPECT_TRUE(rig.sampler->isSamplingFrozen());
    rig.sampler->setOverviewActive(true);
    rig.menus.end();
    rig.loop.advance(1.0);
    EXPECT_TRUE(rig.sampler->isSamplingFrozen()) << "the overview still holds it";
    rig.sampler->setOverviewActive(false);
    EXPECT_FALSE(rig.sampler->isSamplingFrozen());
    EXPECT_EQ(published, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace velaro
