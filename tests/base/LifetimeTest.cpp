// The lifetime guard: posted blocks run only while their owner lives, whichever way the owner goes.
#include "base/Lifetime.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "support/VirtualLoop.h"

namespace velaro {
namespace {

// An owner that posts work to the loop, as the models do.
struct Owner {
    explicit Owner(MainLoop& loop) : loop(loop) {}
    ~Owner() { lifetime.end(); }
    void postIncrement() {
        loop.post(lifetime.guard([this] { ++runs; }));
    }
    MainLoop& loop;
    int runs = 0;
    Lifetime lifetime;
};

TEST(Lifetime, GuardedBlocksRunWhileTheOwnerLivesAndNeverAfter) {
    enum class Ending { stillAlive, destroyed, endedEarly };
    for (Ending ending : {Ending::stillAlive, Ending::destroyed, Ending::endedEarly}) {
        test::VirtualLoop loop;
        int runs = 0;
        std::optional<Owner> owner(std::in_place, loop);
        owner->loop.post(owner->lifetime.guard([&runs] { ++runs; }));
        if (ending == Ending::destroyed) owner.reset();
        if (ending == Ending::endedEarly) owner->lifetime.end();
        loop.runUntilIdle();
        EXPECT_EQ(runs, ending == Ending::stillAlive ? 1 : 0) << int(ending);
    }
}

TEST(Lifetime, AGuardedBlockPassesItsArgumentsOn) {
    Lifetime lifetime;
    std::vector<int> seen;
    std::function<void(int, int)> block = lifetime.guard([&seen](int a, int b) { seen = {a, b}; });
    block(3, 4);
    EXPECT_EQ(seen, (std::vector<int>{3, 4}));
}

TEST(Lifetime, ATokenTellsAnyThreadWhetherTheOwnerLives) {
    auto lifetime = std::make_unique<Lifetime>();
    const Lifetime::Token token = lifetime->token();
    bool seenFromWorker = false;
    std::thread([&] { seenFromWorker = token.alive(); }).join();
    EXPECT_TRUE(seenFromWorker);
    EXPECT_TRUE(token.aliveHere());
    lifetime.reset();
    EXPECT_FALSE(token.alive());
    EXPECT_FALSE(token.aliveHere());
    EXPECT_FALSE(Lifetime::Token().alive()) << "a token of no owner";
}

#ifndef NDEBUG
TEST(LifetimeDeathTest, AGuardedBlockRunOffItsOwnersThreadStopsADebugBuild) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Lifetime lifetime;
            auto block = lifetime.guard([] {});
            std::thread(block).join();
        },
        "off its owner's thread");
}
#endif

}  // namespace
}  // namespace velaro
