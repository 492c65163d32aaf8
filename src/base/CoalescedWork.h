// Work that many notices ask for and that is done once, on the loop's next turn.
#pragma once

#include <functional>

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

}  // namespace velaro
