// A one-shot "tell me when this next changes" for a change counter that moves on any thread: a reader that
// sleeps while nothing changes arms it, whoever moves the counter rings it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

namespace velaro {

class ChangeNotice {
public:
    // `call` runs once, on the thread of the next ring(), unless a later arm() replaces it first; an empty
    // `call` disarms. A counter that moved before this is not told of: read it again after arming.
    void arm(std::function<void()> call) {
        {
            std::lock_guard lock(mutex_);
            call_ = std::move(call);
            armed_.store(static_cast<bool>(call_), std::memory_order_relaxed);
        }
        // Pairs with the fence in ring(): either the ringer sees the notice armed, or the reader that armed
        // it sees the counter already moved.
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }

    // Called after the counter moved. Unarmed (nearly always) this is one fence and one load.
    void ring() {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!armed_.load(std::memory_order_relaxed)) return;
        std::function<void()> call;
        {
            std::lock_guard lock(mutex_);
            call = std::exchange(call_, nullptr);
            armed_.store(false, std::memory_order_relaxed);
        }
        if (call) call();
    }

private:
    std::atomic<bool> armed_{false};
    std::mutex mutex_;
    std::function<void()> call_;
};

}  // namespace velaro
