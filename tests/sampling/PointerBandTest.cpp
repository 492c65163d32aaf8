// The beam band flag with its hysteresis, the pointer watch and the pointer caches of the frame analyses.
#include <gtest/gtest.h>

#include "FrameOutputTestFrames.h"
#include "sampling/PointerBand.h"

namespace velaro::test {
namespace {

class PointerBandTest : public ::testing::Test {
protected:
    PointerBandTest() {
        FrameOutput::Dependencies deps;
        deps.loop = &loop;
        first = std::make_unique<FrameOutput>(deps);
        second = std::make_unique<FrameOutput>(deps);
        changes = band.pointerInBeamBand.changes().sink([this](bool v) { flags.push_back(v); });
    }
    // Moves the pointer to `y` points below the primary screen's top.
    void moveTo(double y) { pointer.moveToTopLeft({200, y}); }

    VirtualLoop loop;
    FakePointerSource pointer{900};
    std::unique_ptr<FrameOutput> first, second;
    PointerBand band{pointer, [this] { return std::vector<FrameOutput*>{first.get(), second.get()}; }};
    std::vector<bool> flags;
    Subscription changes;
};

TEST_F(PointerBandTest, EntersBetweenThirtyAndEightyAndLeavesTenPointsFurtherOut) {
    moveTo(29);
    band.update(true, true);
    EXPECT_FALSE(band.pointerInBeamBand());
    moveTo(30);
    EXPECT_TRUE(band.pointerInBeamBand());
    moveTo(20);
    EXPECT_TRUE(band.pointerInBeamBand());
    moveTo(19.9);
    EXPECT_FALSE(band.pointerInBeamBand());
    moveTo(80);
    EXPECT_TRUE(band.pointerInBeamBand());
    moveTo(90);
    EXPECT_TRUE(band.pointerInBeamBand());
    moveTo(90.1);
    EXPECT_FALSE(band.pointerInBeamBand());
    moveTo(80.5);
    EXPECT_FALSE(band.pointerInBeamBand());
    // Only changes were written.
    EXPECT_EQ(flags, (std::vector<bool>{true, false, true, false}));
}

TEST_F(PointerBandTest, FollowsTheBarHeight) {
    band.beamBandMenuBarHeight = 37;
    moveTo(42);
    band.update(true, true);
    EXPECT_FALSE(band.pointerInBeamBand());
    moveTo(43);
    EXPECT_TRUE(band.pointerInBeamBand());
}

TEST_F(PointerBandTest, WatchesOnlyWhileLightReflectionsAndTheMasterSwitchAreOn) {
    moveTo(50);
    band.update(true, false);
    EXPECT_EQ(pointer.watcherCount(), 0u) << "no motion watch while the master switch is off";
    EXPECT_FALSE(band.pointerInBeamBand());

    band.update(true, true);
    band.installPointerMonitors();  // a second install adds nothing
    EXPECT_EQ(pointer.watcherCount(), 1u);
    EXPECT_TRUE(band.pointerInBeamBand());

    band.update(false, true);
    EXPECT_EQ(pointer.watcherCount(), 0u);
    EXPECT_FALSE(band.pointerInBeamBand());
    moveTo(60);
    moveTo(50);
    EXPECT_FALSE(band.pointerInBeamBand());  // no longer watched
    EXPECT_EQ(flags, (std::vector<bool>{true, false}));
}

TEST_F(PointerBandTest, WatchesForFramesThatWaitForThePointerWithoutShowingTheBeam) {
    moveTo(50);
    band.setFramesWaitForPointer(true);
    band.setFramesWaitForPointer(true);
    EXPECT_EQ(pointer.watcherCount(), 1u);
    moveTo(60);
    ASSERT_TRUE(first->cachedPointer());
    EXPECT_EQ(first->cachedPointer()->y, 60);
    EXPECT_FALSE(band.pointerInBeamBand()) << "the beam band flag moved with the beam off";
    band.setFramesWaitForPointer(false);
    EXPECT_EQ(pointer.watcherCount(), 0u);
}

TEST_F(PointerBandTest, FeedsEveryFrameAnalysisWithThePointer) {
    EXPECT_FALSE(first->cachedPointer());
    pointer.moveTo({321, 900 - 45});
    band.update(true, true);
    ASSERT_TRUE(first->cachedPointer());
    EXPECT_EQ(*first->cachedPointer(), Point(321, 45));
    EXPECT_EQ(*second->cachedPointer(), Point(321, 45));
    pointer.moveTo({10, 900 - 500});
    EXPECT_EQ(*second->cachedPointer(), Point(10, 500));

    // No screen at all: the height counts as 0.
    pointer.setPrimaryHeight(0);
    EXPECT_DOUBLE_EQ(band.cachePointerPosition(), 0);
    EXPECT_EQ(*first->cachedPointer(), Point(10, 0));
}

}  // namespace
}  // namespace velaro::test
