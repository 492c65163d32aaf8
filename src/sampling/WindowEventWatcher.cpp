// The window-event watcher and its throttle.
#include "sampling/WindowEventWatcher.h"

#include "base/MainLoop.h"

namespace velaro {

WindowEventWatcher::WindowEventWatcher(WindowEvents& events, MainLoop& loop, std::int32_t ownPID)
    : events_(events), loop_(loop), ownPID_(ownPID) {}

WindowEventWatcher::~WindowEventWatcher() {
    trailing_.cancel();
    observer_.reset();
}

void WindowEventWatcher::watch(std::int32_t pid) {
    if (pid == observedPID_) return;
    // Our own status popup or settings window coming forward must not lose the app underneath.
    if (pid == ownPID_) return;
    stop();
    if (pid < 1) return;
    if (!events_.isTrusted()) return;
    // The observation lives in `observer_`, which this watcher owns, so the callback never outlives it.
    auto observation = events_.observe(pid, [this](WindowEventKind kind) { poke(windowEventName(kind)); });
    // Without an observation `observedPID_` stays 0, so the next activation of the same app tries again.
    if (!observation) return;
    observer_ = std::move(observation);
    observedPID_ = pid;
}

void WindowEventWatcher::stop() {
    observer_.reset();
    observedPID_ = 0;
}

void WindowEventWatcher::poke(const std::string& name) {
    const double now = loop_.uptime();
    if (now - lastPoke_ >= kThrottleInterval) {
        lastPoke_ = now;
        if (onWindowEvent) onWindowEvent(name);
        return;
    }
    if (trailingScheduled_) return;
    trailingScheduled_ = true;
    trailing_ = loop_.postAfter(kThrottleInterval, [this] {
        trailingScheduled_ = false;
        lastPoke_ = loop_.uptime();
        if (onWindowEvent) onWindowEvent(kCoalesced);
    });
}

}  // namespace velaro
