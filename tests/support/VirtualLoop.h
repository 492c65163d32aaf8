// A deterministic main loop for tests: time moves only when the test advances it, and serial queues,
// timers, display links and posted blocks all run on the test's thread in a reproducible order.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "base/MainLoop.h"

namespace velaro::test {

class VirtualLoop final : public MainLoop {
public:
    VirtualLoop();
    ~VirtualLoop() override;

    double uptime() const override { return now_; }
    std::chrono::system_clock::time_point wallTime() const override;
    void post(std::function<void()> block) override;
    Cancellable postAfter(double seconds, std::function<void()> block) override;
    Cancellable every(double seconds, std::function<void()> block) override;
    std::unique_ptr<DisplayLink> makeDisplayLink(std::function<void(double)> frame) override;
    std::unique_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
    bool isMainThread() const override { return true; }

    // Runs everything that is due now (posted blocks and expired timers, repeatedly) without moving time.
    void runUntilIdle();
    // Moves time forward by `seconds`, firing each timer at its own due time, in order.
    void advance(double seconds);
    // Wall time at uptime 0; wall time follows uptime.
    void setWallTimeOrigin(std::chrono::system_clock::time_point origin) { wallOrigin_ = origin; }
    // Number of timers still scheduled (repeating ones included).
    std::size_t pendingTimers() const { return timers_.size(); }
    std::size_t pendingPosts() const;
    // Number of one-shot timers due from `from` to `to` (uptimes, both included).
    std::size_t oneShotTimersDueBetween(double from, double to) const;
    // Number of repeating timers scheduled.
    std::size_t repeatingTimers() const;
    // Number of repeating timers scheduled to fire every `seconds`.
    std::size_t repeatingTimersEvery(double seconds) const;

private:
    struct Timer {
        std::uint64_t id;
        double interval;  // 0 for one-shot
        std::shared_ptr<std::function<void()>> block;
    };
    std::uint64_t schedule(double due, double interval, std::shared_ptr<std::function<void()>> block);
    bool runOnePost();
    bool fireOneTimerDueBy(double time);

    double now_ = 0;
    std::chrono::system_clock::time_point wallOrigin_;
    std::uint64_t nextId_ = 0;
    std::multimap<std::pair<double, std::uint64_t>, Timer> timers_;
    mutable std::mutex postMutex_;  // posts may come from real threads in tests that use some
    std::deque<std::function<void()>> posts_;
    std::shared_ptr<bool> alive_;
};

}  // namespace velaro::test
