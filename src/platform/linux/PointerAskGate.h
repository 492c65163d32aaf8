// When a pointer read should have the event thread ask the server again: the kept answer is too old and no
// ask is on its way. An ask whose answer never comes (its message lost on the way, or filtered out) stops
// counting as on its way after a while, so the next read asks again instead of trusting the old answer for
// good. Lock-free: reads on the frame queues decide here without a mutex.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace velaro {

class PointerAskGate {
public:
    using Duration = std::chrono::nanoseconds;
    // A point in time as a count of nanoseconds on one monotonic clock.
    using Stamp = std::int64_t;

    PointerAskGate(Duration maxAge, Duration askTimeout)
        : maxAge_(maxAge.count()), timeout_(askTimeout.count()) {}

    // True when the caller is to send an ask now: the last answer is older than the maximum age (or,
    // with `anyAge`, whatever its age) and no ask sent within the timeout is waiting for its answer.
    bool claim(Stamp now, bool anyAge = false) {
        if (!anyAge && now - answeredAt_.load(std::memory_order_relaxed) < maxAge_) return false;
        Stamp asked = askedAt_.load(std::memory_order_relaxed);
        if (asked != kNone && now - asked < timeout_) return false;
        return askedAt_.compare_exchange_strong(asked, now, std::memory_order_relaxed);
    }

    // An answer came: its age starts now, and no ask waits any longer.
    void answered(Stamp now) {
        answeredAt_.store(now, std::memory_order_relaxed);
        askedAt_.store(kNone, std::memory_order_relaxed);
    }

private:
    static constexpr Stamp kNone = INT64_MIN;

    const Stamp maxAge_;
    const Stamp timeout_;
    std::atomic<Stamp> answeredAt_{INT64_MIN / 2};  // long ago: the first read asks
    std::atomic<Stamp> askedAt_{kNone};
};

}  // namespace velaro
