// The reveal gate: waiting for a fresh colour, the 0.4 s timeout and its generation, and closing it.
#include <gtest/gtest.h>

#include <vector>

#include "overlay/UnifiedRevealGate.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

class UnifiedRevealGateTest : public ::testing::Test {
protected:
    UnifiedRevealGateTest() {
        gate.onPendingChanged = [this] { pendingChanges.push_back(gate.pending()); };
    }
    RevealGateInputs inputs() {
        return {[this] { return needsCapture; }, [this] { return publishedSinceFill; }, pulse.stream()};
    }

    VirtualLoop loop;
    bool needsCapture = true;
    bool publishedSinceFill = false;
    Published<std::int64_t> pulse{7};
    std::vector<bool> reveals;  // the instant flag of each reveal
    std::vector<bool> pendingChanges;
    UnifiedRevealGate gate{loop, inputs(), [this](bool instant) { reveals.push_back(instant); }};
};

TEST_F(UnifiedRevealGateTest, ChosenColourRevealsAtOnceAnimatedWithoutPending) {
    needsCapture = false;
    gate.begin();
    EXPECT_EQ(reveals, std::vector<bool>{false});
    EXPECT_TRUE(pendingChanges.empty());
}

TEST_F(UnifiedRevealGateTest, TimesOutAfterFourTenthsAndRevealsInstantly) {
    gate.begin();
    EXPECT_TRUE(gate.pending());
    EXPECT_EQ(pendingChanges, std::vector<bool>{true});
    loop.advance(0.39);
    EXPECT_TRUE(reveals.empty());
    loop.advance(0.02);
    EXPECT_EQ(reveals, std::vector<bool>{true});
    EXPECT_FALSE(gate.pending());
    EXPECT_EQ(pendingChanges, (std::vector<bool>{true, false}));
    pulse = 8;
    EXPECT_EQ(reveals.size(), 1u) << "a colour after the timeout does nothing";
}

TEST_F(UnifiedRevealGateTest, FirstNewColourRevealsAnimated) {
    gate.begin();
    EXPECT_TRUE(reveals.empty()) << "the pulse's current value is not a new colour";
    pulse = 8;
    EXPECT_EQ(reveals, std::vector<bool>{false});
    pulse = 9;
    loop.advance(1);
    EXPECT_EQ(reveals.size(), 1u) << "only the next colour counts, and the timeout finds the gate open";
}

TEST_F(UnifiedRevealGateTest, ColourPublishedSinceTheFillBeganOpensAtOnce) {
    publishedSinceFill = true;
    gate.begin();
    EXPECT_EQ(reveals, std::vector<bool>{false});
    EXPECT_EQ(pendingChanges, (std::vector<bool>{true, false}));
    loop.advance(1);
    EXPECT_EQ(reveals.size(), 1u);
}

TEST_F(UnifiedRevealGateTest, SecondGateWithinTheTimeoutOwnsThePendingState) {
    gate.begin();
    loop.advance(0.3);
    gate.begin();
    EXPECT_EQ(gate.generation(), 2);
    EXPECT_EQ(pendingChanges, std::vector<bool>{true}) << "staying pending is no change";
    loop.advance(0.2);  // the first gate's moment
    EXPECT_TRUE(reveals.empty());
    EXPECT_TRUE(gate.pending());
    loop.advance(0.21);
    EXPECT_EQ(reveals, std::vector<bool>{true});
}

TEST_F(UnifiedRevealGateTest, ClearingClosesWithoutRevealAndLaterEventsDoNothing) {
    gate.begin();
    gate.clear();
    EXPECT_FALSE(gate.pending());
    EXPECT_EQ(pendingChanges, (std::vector<bool>{true, false}));
    pulse = 8;
    loop.advance(1);
    EXPECT_TRUE(reveals.empty());
    gate.clear();
    EXPECT_EQ(pendingChanges.size(), 2u) << "clearing an idle gate tells nobody";
}

TEST_F(UnifiedRevealGateTest, TimeoutAfterTheGateIsGoneDoesNothing) {
    auto own = std::make_unique<UnifiedRevealGate>(loop, inputs(), [this](bool i) { reveals.push_back(i); });
    own->begin();
    own.reset();
    loop.advance(1);
    pulse = 8;
    EXPECT_TRUE(reveals.empty());
}

}  // namespace
}  // namespace velaro::test
