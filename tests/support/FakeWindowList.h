// A window list set by the test, front-most first.
#pragma once

#include <atomic>
#include <mutex>

#include "base/ChangeNotice.h"
#include "platform/WindowList.h"

namespace velaro::test {

class FakeWindowList final : public WindowList {
public:
    std::vector<WindowInfo> snapshot() override {
        std::lock_guard lock(mutex_);
        ++snapshots;
        return windows_;
    }
    void setWindows(std::vector<WindowInfo> windows) {
        {
            std::lock_guard lock(mutex_);
            windows_ = std::move(windows);
            ++generation_;
        }
        changeNotice_.ring();
    }
    std::uint64_t generation() const override { return generation_; }
    void callOnNextChange(std::function<void()> wake) const override { changeNotice_.arm(std::move(wake)); }

    // A normal, opaque window of `pid` with bounds in top-left global points.
    static WindowInfo window(std::int32_t pid, Rect bounds, int layer = WindowLevel::normal,
                             std::string owner = "App", std::int64_t number = 0) {
        WindowInfo w;
        w.number = number;
        w.ownerPID = pid;
        w.ownerName = std::move(owner);
        w.layer = layer;
        w.bounds = bounds;
        w.alpha = 1.0;
        return w;
    }

    std::atomic<int> snapshots{0};

private:
    std::mutex mutex_;
    std::vector<WindowInfo> windows_;
    std::atomic<std::uint64_t> generation_{1};
    mutable ChangeNotice changeNotice_;
};

}  // namespace velaro::test
