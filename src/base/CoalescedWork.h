// Work that many notices ask for and that is done once: on the loop's next turn, or once the notices pause.
#pragma once

#include <functional>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"

namespace velaro {

// Work that a burst of events asks for many times and that needs doing once: it runs on the loop's next turn
// after the first ask, once however many asks came meanwhile, and reads the state as it is then. Any client
// can rewrite a root property hundreds of times in a few milliseconds; a service that re-reads a list per
// notice would keep the loop (and the app's end) waiting for all of them. Work still asked for when the
// object goes is dropped. Main thread.
class OncePerTurn {
public:
    OncePerTurn(MainLoop& loop, std::function<void()> work);
    OncePerTurn(const OncePerTurn&) = delete;
    OncePerTurn& operator=(const OncePerTurn&) = delete;

    void ask();
    // Runs the work now when it was asked for and has not run yet: for a notice whose listeners must hear of
    // the asked-for change first.
    void settle();

private:
    MainLoop& loop_;
    std::function<void()> work_;
    bool asked_ = false;
    bool posted_ = false;
    Lifetime lifetime_;  // the posted turn finds nothing to do once the object is gone
};

// Work that waits for a burst of notices to end: it runs once `quiet` has passed with no further ask, or
// `longest` after the first ask of a stream that never pauses. For reactions nobody waits on (the running
// apps, the panel's struts) to notices that any client can send hundreds of times in a few milliseconds:
// nothing of the work runs while the burst comes in, so the loop stays free for what must be prompt (the
// front app, the app's end). Work that reads a long list a part at a time asks for its next part with
// askNextTurn(). Work still waiting when the object goes is dropped. Main thread.
class AfterQuiet {
public:
    static constexpr double kQuiet = 0.05, kLongest = 0.25;  // seconds
    AfterQuiet(MainLoop& loop, std::function<void()> work, double quiet = kQuiet, double longest = kLongest);
    AfterQuiet(const AfterQuiet&) = delete;
    AfterQuiet& operator=(const AfterQuiet&) = delete;

    void ask();
    // Runs the work on the next turn of the loop, unless a later ask() waits for quiet again.
    void askNextTurn();

private:
    void runAfter(double seconds);

    MainLoop& loop_;
    std::function<void()> work_;
    double quiet_, longest_;
    double firstAsk_ = 0;  // the loop's uptime
    bool waiting_ = false;
    Cancellable timer_;
};

}  // namespace velaro
