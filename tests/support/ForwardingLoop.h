// The virtual loop seen through a wrapper that hands every call on: a test loop that watches or delays some
// of the calls overrides only those.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "support/VirtualLoop.h"

namespace velaro::test {

class ForwardingLoop : public MainLoop {
public:
    explicit ForwardingLoop(VirtualLoop& loop) : loop_(loop) {}
    double uptime() const override { return loop_.uptime(); }
    std::chrono::system_clock::time_point wallTime() const override { return loop_.wallTime(); }
    void post(std::function<void()> block) override { loop_.post(std::move(block)); }
    Cancellable postAfter(double seconds, std::function<void()> block) override {
        return loop_.postAfter(seconds, std::move(block));
    }
    Cancellable every(double seconds, std::function<void()> block) override {
        return loop_.every(seconds, std::move(block));
    }
    std::unique_ptr<DisplayLink> makeDisplayLink(std::function<void(double)> frame) override {
        return loop_.makeDisplayLink(std::move(frame));
    }
    std::unique_ptr<SerialQueue> makeSerialQueue(const std::string& label) override {
        return loop_.makeSerialQueue(label);
    }
    bool isMainThread() const override { return true; }

protected:
    VirtualLoop& loop_;
};

}  // namespace velaro::test
