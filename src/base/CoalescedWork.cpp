// Work asked for many times and done once, on the main loop's turns and timers.
#include "base/CoalescedWork.h"

#include <algorithm>
#include <utility>

namespace velaro {

OncePerTurn::OncePerTurn(MainLoop& loop, std::function<void()> work) : loop_(loop), work_(std::move(work)) {}

void OncePerTurn::ask() {
    asked_ = true;
    if (std::exchange(posted_, true)) return;
    loop_.post(lifetime_.guard([this] {
        posted_ = false;
        settle();
    }));
}

void OncePerTurn::settle() {
    if (!std::exchange(asked_, false)) return;
    work_();
}

AfterQuiet::AfterQuiet(MainLoop& loop, std::function<void()> work, double quiet, double longest)
    : loop_(loop), work_(std::move(work)), quiet_(quiet), longest_(longest) {}

void AfterQuiet::ask() {
    const double now = loop_.uptime();
    if (!std::exchange(waiting_, true)) firstAsk_ = now;
    runAfter(std::clamp(longest_ - (now - firstAsk_), 0.0, quiet_));
}

void AfterQuiet::askNextTurn() {
    if (!std::exchange(waiting_, true)) firstAsk_ = loop_.uptime();
    runAfter(0);
}

void AfterQuiet::runAfter(double seconds) {
    // The handle is the only reference to the timer: replacing it (or the object going) cancels the wait.
    timer_ = loop_.postAfter(seconds, [this] {
        waiting_ = false;
        work_();
    });
}

}  // namespace velaro
