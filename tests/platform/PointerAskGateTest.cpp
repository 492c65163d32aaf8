// When pointer reads have the event thread ask the server again, on a clock the test sets.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/linux/PointerAskGate.h"

namespace velaro {
namespace {

using namespace std::chrono_literals;

constexpr PointerAskGate::Stamp ms(int n) {
    return PointerAskGate::Stamp{n} * 1'000'000;
}

// An answer older than 100 ms has a read ask, one ask at a time; an ask left unanswered for 500 ms (its
// message lost) no longer holds the next one back.
TEST(PointerAskGate, AsksWhenTheAnswerIsOldOnceAtATimeAndAgainWhenAnAskIsLost) {
    enum Step { Claim, ClaimAnyAge, Answer };
    struct Case {
        int atMs;
        Step step;
        bool asks;  // for the claims
        const char* why;
    };
    const Case steps[] = {
        {1000, Claim, true, "never answered"},
        {1010, Claim, false, "the first ask is on its way"},
        {1020, Answer, false, ""},
        {1050, Claim, false, "the answer is young"},
        {1119, Claim, false, "still young"},
        {1120, Claim, true, "the answer is 100 ms old"},
        {1200, Claim, false, "an ask is on its way"},
        {1200, ClaimAnyAge, false, "an ask is on its way, whatever the age"},
        {1619, Claim, false, "the ask may still be answered"},
        {1620, Claim, true, "the ask is taken as lost: ask again"},
        {1630, Claim, false, "the new ask is on its way"},
        {1640, Answer, false, ""},
        {1650, Claim, false, "the answer is young"},
        {1650, ClaimAnyAge, true, "no ask on its way: any age asks"},
        {1660, ClaimAnyAge, false, "that ask is on its way"},
    };
    PointerAskGate gate(100ms, 500ms);
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.atMs << " ms: " << s.why);
        switch (s.step) {
            case Claim:
                EXPECT_EQ(gate.claim(ms(s.atMs)), s.asks);
                break;
            case ClaimAnyAge:
                EXPECT_EQ(gate.claim(ms(s.atMs), true), s.asks);
                break;
            case Answer:
                gate.answered(ms(s.atMs));
                break;
        }
    }
}

// Frame queues read at once on several threads: only one of them sends the ask.
TEST(PointerAskGate, ReadersRacingForAnOldAnswerSendOneAsk) {
    PointerAskGate gate(100ms, 500ms);
    gate.answered(ms(1000));
    std::atomic<int> asks{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] {
            for (int k = 0; k < 1000; ++k)
                if (gate.claim(ms(1200))) ++asks;
        });
    for (auto& r : readers) r.join();
    EXPECT_EQ(asks.load(), 1);
}

}  // namespace
}  // namespace velaro
