// The virtual loop: a timer wheel keyed by (due time, creation order) and a queue of posted blocks.
#include "support/VirtualLoop.h"

#include <algorithm>
#include <cmath>

namespace velaro::test {

namespace {

class VirtualSerialQueue final : public SerialQueue {
public:
    VirtualSerialQueue(VirtualLoop* loop, std::string label, std::shared_ptr<bool> loopAlive)
        : loop_(loop), label_(std::move(label)), loopAlive_(std::move(loopAlive)) {}
    ~VirtualSerialQueue() override { *alive_ = false; }
    const std::string& label() const override { return label_; }
    void async(std::function<void()> block) override {
        loop_->post([alive = alive_, block = std::move(block)] {
            if (*alive) block();
        });
    }
    void asyncAfter(double seconds, std::function<void()> block) override {
        pending_.push_back(loop_->postAfter(seconds, [alive = alive_, block = std::move(block)] {
            if (*alive) block();
        }));
    }

private:
    VirtualLoop* loop_;
    std::string label_;
    std::shared_ptr<bool> loopAlive_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<Cancellable> pending_;
};

class VirtualDisplayLink final : public DisplayLink {
public:
    VirtualDisplayLink(VirtualLoop* loop, std::function<void(double)> frame)
        : loop_(loop), frame_(std::move(frame)) {}
    void setPreferredFrameRateRange(double minimum, double maximum, double preferred) override {
        double rate = preferred > 0 ? preferred : 60.0;
        if (minimum > 0) rate = std::max(rate, minimum);
        if (maximum > 0) rate = std::min(rate, maximum);
        rate_ = rate;
        if (isRunning()) start();
    }
    void start() override {
        ticks_ = loop_->every(1.0 / rate_, [this] { frame_(loop_->uptime()); });
    }
    void stop() override { ticks_.cancel(); }
    bool isRunning() const override { return ticks_.isActive(); }

private:
    VirtualLoop* loop_;
    std::function<void(double)> frame_;
    double rate_ = 60.0;
    Cancellable ticks_;
};

}  // namespace

VirtualLoop::VirtualLoop() : alive_(std::make_shared<bool>(true)) {}
VirtualLoop::~VirtualLoop() {
    *alive_ = false;
}

std::chrono::system_clock::time_point VirtualLoop::wallTime() const {
    return wallOrigin_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                             std::chrono::duration<double>(now_));
}

void VirtualLoop::post(std::function<void()> block) {
    std::lock_guard lock(postMutex_);
    posts_.push_back(std::move(block));
}

std::size_t VirtualLoop::pendingPosts() const {
    std::lock_guard lock(postMutex_);
    return posts_.size();
}

std::uint64_t VirtualLoop::schedule(double due, double interval,
                                    std::shared_ptr<std::function<void()>> block) {
    const auto id = ++nextId_;
    timers_.emplace(std::make_pair(due, id), Timer{id, interval, std::move(block)});
    return id;
}

std::size_t VirtualLoop::oneShotTimersDueBetween(double from, double to) const {
    std::size_t n = 0;
    for (const auto& [key, timer] : timers_)
        if (timer.interval == 0 && key.first >= from && key.first <= to) ++n;
    return n;
}

std::size_t VirtualLoop::repeatingTimers() const {
    return static_cast<std::size_t>(
        std::count_if(timers_.begin(), timers_.end(), [](const auto& entry) { return entry.second.interval > 0; }));
}

std::size_t VirtualLoop::repeatingTimersEvery(double seconds) const {
    return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(), [seconds](const auto& entry) {
        return entry.second.interval > 0 && std::abs(entry.second.interval - seconds) < 1e-9;
    }));
}

Cancellable VirtualLoop::postAfter(double seconds, std::function<void()> block) {
    const double delay = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const auto id = schedule(now_ + delay, 0, std::make_shared<std::function<void()>>(std::move(block)));
    return Cancellable([this, id, alive = alive_] {
        if (!*alive) return;
        std::erase_if(timers_, [id](const auto& entry) { return entry.second.id == id; });
    });
}

Cancellable VirtualLoop::every(double seconds, std::function<void()> block) {
    // A repeating timer keeps one id across its firings, so its handle can always find it.
    const double interval = std::isfinite(seconds) && seconds > 0 ? seconds : 1e-3;
    const auto id =
        schedule(now_ + interval, interval, std::make_shared<std::function<void()>>(std::move(block)));
    return Cancellable([this, id, alive = alive_] {
        if (!*alive) return;
        std::erase_if(timers_, [id](const auto& entry) { return entry.second.id == id; });
    });
}

std::unique_ptr<DisplayLink> VirtualLoop::makeDisplayLink(std::function<void(double)> frame) {
    return std::make_unique<VirtualDisplayLink>(this, std::move(frame));
}

std::unique_ptr<SerialQueue> VirtualLoop::makeSerialQueue(const std::string& label) {
    return std::make_unique<VirtualSerialQueue>(this, label, alive_);
}

bool VirtualLoop::runOnePost() {
    std::function<void()> block;
    {
        std::lock_guard lock(postMutex_);
        if (posts_.empty()) return false;
        block = std::move(posts_.front());
        posts_.pop_front();
    }
    block();
    return true;
}

bool VirtualLoop::fireOneTimerDueBy(double time) {
    if (timers_.empty() || timers_.begin()->first.first > time) return false;
    auto node = timers_.extract(timers_.begin());
    Timer timer = std::move(node.mapped());
    now_ = std::max(now_, node.key().first);
    if (timer.interval > 0) {
        // Re-arm before running, under the same id, so the block can cancel its own timer.
        timers_.emplace(std::make_pair(now_ + timer.interval, timer.id), timer);
    }
    (*timer.block)();
    return true;
}

void VirtualLoop::runUntilIdle() {
    while (runOnePost() || fireOneTimerDueBy(now_)) {
    }
}

void VirtualLoop::advance(double seconds) {
    const double target = now_ + std::max(0.0, seconds);
    runUntilIdle();
    while (fireOneTimerDueBy(target)) runUntilIdle();
    now_ = target;
    runUntilIdle();
}

}  // namespace velaro::test
