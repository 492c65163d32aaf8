// Work asked for by every notice of a burst: once a turn, or once the notices pause, on the loop's time.
#include "base/CoalescedWork.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

TEST(CoalescedWorkTest, WorkStillAskedForWhenItsOwnerGoesIsDropped) {
    test::VirtualLoop loop;
    int runs = 0;
    auto once = std::make_unique<OncePerTurn>(loop, [&] { ++runs; });
    auto quiet = std::make_unique<AfterQuiet>(loop, [&] { ++runs; });
    auto next = std::make_unique<AfterQuiet>(loop, [&] { ++runs; });
    once->ask();
    quiet->ask();
    next->askNextTurn();
    once.reset();
    quiet.reset();
    next.reset();
    loop.advance(1);
    EXPECT_EQ(runs, 0);
}

// A burst of notices with gaps shorter than the quiet wait: nothing runs until `quiet` after the last one.
TEST(AfterQuietTest, TheWorkRunsOnceTheAsksHaveStoppedForTheQuietWait) {
    test::VirtualLoop loop;
    std::vector<double> runs;
    AfterQuiet work(loop, [&] { runs.push_back(loop.uptime()); }, 0.05, 10);
    for (int i = 0; i <= 10; ++i) {  // asks from 0 to 0.2 s, every 20 ms
        work.ask();
        loop.advance(0.02);
    }
    loop.advance(0.029);
    EXPECT_TRUE(runs.empty()) << "ran " << runs.front() << " s in, before the asks had paused for 50 ms";
    loop.advance(0.002);
    ASSERT_EQ(runs.size(), 1u) << "did not run 50 ms after the last ask";
    EXPECT_NEAR(runs[0], 0.25, 1e-6);
    loop.advance(20);
    EXPECT_EQ(runs.size(), 1u);
}

// Notices that never pause for the quiet wait: the work still runs `longest` after the first ask of each
// stretch, however many asks keep coming.
TEST(AfterQuietTest, AStreamThatNeverPausesHasTheWorkRunByTheLongestWait) {
    test::VirtualLoop loop;
    std::vector<double> runs;
    AfterQuiet work(loop, [&] { runs.push_back(loop.uptime()); }, 0.05, 0.25);
    for (int i = 0; i < 100; ++i) {  // an ask every 10 ms for a second
        work.ask();
        loop.advance(0.01);
    }
    ASSERT_GE(runs.size(), 3u) << "the asks held the work back for a second";
    EXPECT_NEAR(runs[0], 0.25, 1e-6);
    for (std::size_t k = 1; k < runs.size(); ++k) {
        EXPECT_GE(runs[k] - runs[k - 1], 0.25 - 1e-6) << "run " << k;
        EXPECT_LE(runs[k] - runs[k - 1], 0.26 + 1e-6) << "run " << k;
    }
}

// A long list read a part at a time: the next part comes on the next turn, not after the quiet wait a burst
// of notices asked for, and only once however often it is asked; an ask after it waits for quiet again.
TEST(AfterQuietTest, TheNextPartRunsOnTheNextTurnOnceUnlessALaterAskWaitsForQuiet) {
    test::VirtualLoop loop;
    int runs = 0;
    AfterQuiet work(loop, [&] { ++runs; }, 3600, 3600);
    for (int i = 0; i < 100; ++i) work.ask();
    work.askNextTurn();
    work.askNextTurn();
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    work.askNextTurn();
    work.ask();
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    loop.advance(3600);
    EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace velaro
