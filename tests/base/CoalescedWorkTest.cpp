// Work asked for by every notice of a burst, done once a turn.
#include "base/CoalescedWork.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(OncePerTurnTest, AskedManyTimesInATurnTheWorkRunsOnceOnALaterTurnAndNeverInsideItself) {
    test::VirtualLoop loop;
    int runs = 0;
    OncePerTurn work(loop, [&] {
        if (++runs != 2) return;
        work.ask();
        EXPECT_EQ(runs, 2) << "ran again inside its own run";
    });
    for (int i = 0; i < 200; ++i) work.ask();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(loop.pendingPosts(), 1u);
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    // Asked from inside its own run, it runs again on the turn after.
    work.ask();
    loop.runUntilIdle();
    EXPECT_EQ(runs, 3);
}

TEST(OncePerTurnTest, SettlingRunsAskedWorkAtOnceAndTheTurnThenFindsNothingToDo) {
    test::VirtualLoop loop;
    int runs = 0;
    OncePerTurn work(loop, [&] { ++runs; });
    work.settle();
    EXPECT_EQ(runs, 0) << "nothing was asked";
    work.ask();
    work.settle();
    EXPECT_EQ(runs, 1);
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    // Asked again after settling, within the same turn: one more run.
    work.ask();
    loop.runUntilIdle();
    EXPECT_EQ(runs, 2);
}

TEST(OncePerTurnTest, WorkStillAskedForWhenItsOwnerGoesIsDropped) {
    test::VirtualLoop loop;
    int runs = 0;
    auto once = std::make_unique<OncePerTurn>(loop, [&] { ++runs; });
    once->ask();
    once.reset();
    loop.advance(1);
    EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace velaro
