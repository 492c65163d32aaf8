// The virtual loop as the sampler sees it, with worker queues that can fall behind the main thread: while
// held, what is queued on them waits, in order, until released.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ForwardingLoop.h"

namespace velaro::test {

class LaggingQueuesLoop final : public ForwardingLoop {
public:
    using ForwardingLoop::ForwardingLoop;
    std::unique_ptr<SerialQueue> makeSerialQueue(const std::string& label) override {
        auto lane = std::make_shared<Lane>(loop_.makeSerialQueue(label), holding_);
        lanes_.push_back(lane);
        return std::make_unique<Queue>(std::move(lane));
    }

    // Every worker queue keeps what it is given from now on.
    void hold() {
        holding_ = true;
        forEachLane([](Lane& lane) { lane.holding = true; });
    }
    // Hands what the queues kept on, in order, and lets them run freely again.
    void release() {
        holding_ = false;
        forEachLane([](Lane& lane) {
            lane.holding = false;
            while (!lane.held.empty()) {
                lane.inner->async(std::move(lane.held.front()));
                lane.held.pop_front();
            }
        });
    }

private:
    struct Lane {
        Lane(std::unique_ptr<SerialQueue> queue, bool hold) : inner(std::move(queue)), holding(hold) {}
        std::unique_ptr<SerialQueue> inner;
        bool holding;
        std::deque<std::function<void()>> held;
    };
    class Queue final : public SerialQueue {
    public:
        explicit Queue(std::shared_ptr<Lane> lane) : lane_(std::move(lane)) {}
        const std::string& label() const override { return lane_->inner->label(); }
        void async(std::function<void()> block) override {
            if (lane_->holding)
                lane_->held.push_back(std::move(block));
            else
                lane_->inner->async(std::move(block));
        }
        void asyncAfter(double seconds, std::function<void()> block) override {
            lane_->inner->asyncAfter(seconds, std::move(block));
        }
        void runOrAsync(std::function<void()> block) override {
            if (lane_->holding)
                lane_->held.push_back(std::move(block));
            else
                lane_->inner->runOrAsync(std::move(block));
        }

    private:
        std::shared_ptr<Lane> lane_;
    };

    void forEachLane(const std::function<void(Lane&)>& each) {
        std::erase_if(lanes_, [](const std::weak_ptr<Lane>& lane) { return lane.expired(); });
        for (const auto& weak : lanes_)
            if (auto lane = weak.lock()) each(*lane);
    }

    bool holding_ = false;
    std::vector<std::weak_ptr<Lane>> lanes_;
};

}  // namespace velaro::test
