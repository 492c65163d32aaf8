// Work asked for many times and done once, on the main loop's turns.
#include "base/CoalescedWork.h"

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

}  // namespace velaro
