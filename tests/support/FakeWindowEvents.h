// Window events injected by the test, with a record of what is being observed.
#pragma once

#include <map>
#include <memory>

#include "platform/WindowEvents.h"

namespace velaro::test {

class FakeWindowEvents final : public WindowEvents {
public:
    bool isTrusted() const override { return trusted; }
    std::unique_ptr<WindowEventObservation> observe(std::int32_t pid, Callback callback) override {
        ++observeCalls;
        if (failObserve) return nullptr;
        return std::make_unique<Observation>(*this, pid, std::move(callback));
    }

    // Delivers an event for `pid` when it is observed; returns whether anyone was told.
    bool fire(std::int32_t pid, WindowEventKind kind) {
        auto it = observers_.find(pid);
        if (it == observers_.end()) return false;
        it->second(kind);
        return true;
    }
    bool isObserved(std::int32_t pid) const { return observers_.count(pid) > 0; }
    std::size_t observedCount() const { return observers_.size(); }

    bool trusted = true;
    bool failObserve = false;
    int observeCalls = 0;

private:
    class Observation final : public WindowEventObservation {
    public:
        Observation(FakeWindowEvents& owner, std::int32_t pid, Callback cb) : owner_(owner), pid_(pid) {
            owner_.observers_[pid_] = std::move(cb);
        }
        ~Observation() override { owner_.observers_.erase(pid_); }

    private:
        FakeWindowEvents& owner_;
        std::int32_t pid_;
    };
    std::map<std::int32_t, Callback> observers_;
};

}  // namespace velaro::test
