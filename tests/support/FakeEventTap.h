// An event tap for tests: the test sends presses and releases through it and sees what the installed tap
// passed on; trust and refusal are switches.
#pragma once

#include <memory>
#include <optional>

#include "platform/EventTap.h"

namespace velaro::test {

class FakeEventTap final : public EventTap {
public:
    bool isTrusted() const override { return trusted; }

    std::unique_ptr<TapPort> createTap(Callback callback) override {
        ++createCalls;
        if (!trusted || refuseTaps) return nullptr;
        auto port = std::make_unique<Port>(state_, std::move(callback));
        return port;
    }

    // What the desktop makes of the event: the passed (maybe altered) event, or nothing when swallowed.
    // Without an enabled tap every event passes unchanged.
    std::optional<TapEvent> send(const TapEvent& event) {
        if (!state_->callback || !state_->enabled) return event;
        return state_->callback(event);
    }

    // The desktop switching the tap off (a callback too slow, or user input): the tap is disabled and told
    // so through its own callback, as the only event it sees until enabled again. Returns what it passed.
    std::optional<TapEvent> disableBySystem(TapEventType why) {
        state_->enabled = false;
        if (!state_->callback) return std::nullopt;
        return state_->callback({why, 0, {}, 0});
    }

    bool hasTap() const { return static_cast<bool>(state_->callback); }
    bool tapEnabled() const { return hasTap() && state_->enabled; }
    int tapsMade() const { return state_->made; }
    int tapsRemoved() const { return state_->removed; }
    // How many times a tap was asked to be enabled, its first enabling included.
    int enableCalls() const { return state_->enableCalls; }

    bool trusted = true;
    bool refuseTaps = false;
    int createCalls = 0;

private:
    struct State {
        Callback callback;
        bool enabled = false;
        int made = 0;
        int removed = 0;
        int enableCalls = 0;
    };
    class Port final : public TapPort {
    public:
        Port(std::shared_ptr<State> state, Callback callback) : state_(std::move(state)) {
            state_->callback = std::move(callback);
            state_->enabled = true;
            ++state_->made;
        }
        ~Port() override {
            state_->callback = nullptr;
            state_->enabled = false;
            ++state_->removed;
        }
        void setEnabled(bool enabled) override {
            state_->enabled = enabled;
            if (enabled) ++state_->enableCalls;
        }
        bool isEnabled() const override { return state_->enabled; }

    private:
        std::shared_ptr<State> state_;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace velaro::test
