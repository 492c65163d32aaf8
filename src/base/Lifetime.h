// The one lifetime guard for work that may outlive its owner: posted blocks, timers and completions carry a
// weak token and do nothing once the owner is gone.
#pragma once

#include <cassert>
#include <memory>
#include <thread>
#include <utility>

namespace velaro {

class Lifetime {
    struct State {
        std::thread::id thread = std::this_thread::get_id();
    };

public:
    // What a block keeps of its owner: whether the owner still lives.
    class Token {
    public:
        Token() = default;
        // Safe from any thread; only the owner's thread may go on to use the owner.
        bool alive() const { return !state_.expired(); }
        // Alive, asked from the thread that made the owner. Every owner lives on the main loop, so a guarded
        // block arriving on a worker is a bug that debug builds stop at once.
        bool aliveHere() const {
            const auto state = state_.lock();
            if (!state) return false;
            assert(state->thread == std::this_thread::get_id() && "guarded block ran off its owner's thread");
            return true;
        }

    private:
        friend class Lifetime;
        explicit Token(std::weak_ptr<const State> state) : state_(std::move(state)) {}
        std::weak_ptr<const State> state_;
    };

    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    Token token() const { return Token(state_); }
    // Ends the lifetime before the destructor gets to it, e.g. first thing in the owner's destructor, so no
    // block runs against members that are already going.
    void end() { state_.reset(); }
    bool ended() const { return !state_; }

    // Wraps `block` so it runs (with whatever arguments it is called with) only while the owner lives.
    template <class Block>
    auto guard(Block block) const {
        return [token = token(), block = std::move(block)](auto&&... args) mutable {
            if (token.aliveHere()) block(std::forward<decltype(args)>(args)...);
        };
    }

private:
    std::shared_ptr<const State> state_ = std::make_shared<const State>();
};

}  // namespace velaro
