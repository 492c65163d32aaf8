// The virtual loop as a model under test sees it, noting each moment one of the model's timers wakes it and
// each frame its display links run.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <set>

#include "support/ForwardingLoop.h"

namespace velaro::test {

class WakeCountingLoop final : public ForwardingLoop {
public:
    using ForwardingLoop::ForwardingLoop;
    Cancellable postAfter(double seconds, std::function<void()> block) override {
        return loop_.postAfter(seconds, counted(std::move(block)));
    }
    Cancellable every(double seconds, std::function<void()> block) override {
        return loop_.every(seconds, counted(std::move(block)));
    }
    std::unique_ptr<DisplayLink> makeDisplayLink(std::function<void(double)> frame) override {
        return loop_.makeDisplayLink([this, frame = std::move(frame)](double timestamp) {
            ++displayFrames_;
            frame(timestamp);
        });
    }

    // The distinct moments a timer fired at since the last clear.
    std::size_t wakes() const { return moments_.size(); }
    void clear() { moments_.clear(); }
    // The frames display links ran, drawn or not.
    long displayFrames() const { return displayFrames_; }

private:
    std::function<void()> counted(std::function<void()> block) {
        return [this, block = std::move(block)] {
            moments_.insert(loop_.uptime());
            block();
        };
    }
    std::set<double> moments_;
    long displayFrames_ = 0;
};

}  // namespace velaro::test
