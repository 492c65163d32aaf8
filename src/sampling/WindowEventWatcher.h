// Watches the frontmost app's windows being minimised, restored or destroyed, and reports them throttled
// to one call per 0.1 s plus one trailing call.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "base/Cancellable.h"
#include "platform/WindowEvents.h"

namespace velaro {

class MainLoop;

class WindowEventWatcher {
public:
    // The shortest interval between two calls of `onWindowEvent`, in seconds.
    static constexpr double kThrottleInterval = 0.1;
    // The name a trailing call carries: it stands for the events folded into it.
    static constexpr const char* kCoalesced = "coalesced";

    WindowEventWatcher(WindowEvents& events, MainLoop& loop, std::int32_t ownPID);
    ~WindowEventWatcher();
    WindowEventWatcher(const WindowEventWatcher&) = delete;
    WindowEventWatcher& operator=(const WindowEventWatcher&) = delete;

    std::function<void(const std::string&)> onWindowEvent;

    // Moves the watch to `pid` (0 or less: watch nothing). Our own process keeps the previous watch.
    void watch(std::int32_t pid);
    void stop();
    void poke(const std::string& name);

private:
    WindowEvents& events_;
    MainLoop& loop_;
    std::int32_t ownPID_;
    std::unique_ptr<WindowEventObservation> observer_;
    std::int32_t observedPID_ = 0;
    double lastPoke_ = -std::numeric_limits<double>::infinity();
    bool trailingScheduled_ = false;
    Cancellable trailing_;
};

}  // namespace velaro
