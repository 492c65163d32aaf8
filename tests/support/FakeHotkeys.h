// A hot-key service for tests: it records registrations, refuses combinations the test marks as held by
// another program (and repeats of one it already holds), and lets the test press keys.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/Hotkeys.h"

namespace velaro::test {

class FakeHotkeys final : public Hotkeys {
public:
    struct Registration {
        std::uint32_t keyCode = 0;
        std::uint32_t modifiers = 0;
        HotKeyID id;
        friend bool operator==(const Registration&, const Registration&) = default;
    };

    std::uint64_t installHandler(Handler handler) override {
        ++handlersInstalled;
        if (refuseHandlers) return 0;
        handlers_.emplace_back(++nextRef_, std::move(handler));
        return handlers_.back().first;
    }

    void removeHandler(std::uint64_t ref) override {
        std::erase_if(handlers_, [ref](const auto& entry) { return entry.first == ref; });
    }

    HotKeyRegistration registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID id) override {
        ++registerCalls;
        if (heldElsewhere.count({keyCode, modifiers})) return {0, HotKeyError::inUse};
        for (const auto& [ref, r] : registered_)
            if (r.keyCode == keyCode && r.modifiers == modifiers) return {0, HotKeyError::inUse};
        registered_[++nextRef_] = Registration{keyCode, modifiers, id};
        return {nextRef_, HotKeyError::none};
    }

    void unregisterHotKey(std::uint64_t ref) override {
        ++unregisterCalls;
        registered_.erase(ref);
    }

    // What is registered now, in registration order.
    std::vector<Registration> registered() const {
        std::vector<Registration> out;
        for (const auto& [ref, r] : registered_) out.push_back(r);
        return out;
    }

    // Presses a combination: the handlers of a registered one are asked newest first. Nothing when the
    // combination is not registered.
    std::optional<HotKeyStatus> press(std::uint32_t keyCode, std::uint32_t modifiers) {
        for (const auto& [ref, r] : registered_)
            if (r.keyCode == keyCode && r.modifiers == modifiers) return deliver(r.id);
        return std::nullopt;
    }
    // Delivers a press with any identifier, as a foreign or damaged event would carry.
    HotKeyStatus deliver(const HotKeyID& id) {
        for (auto it = handlers_.rbegin(); it != handlers_.rend(); ++it)
            if (it->second(id) == HotKeyStatus::handled) return HotKeyStatus::handled;
        return HotKeyStatus::notHandled;
    }

    std::size_t handlerCount() const { return handlers_.size(); }

    std::set<std::pair<std::uint32_t, std::uint32_t>> heldElsewhere;
    bool refuseHandlers = false;
    int handlersInstalled = 0;
    int registerCalls = 0;
    int unregisterCalls = 0;

private:
    std::uint64_t nextRef_ = 0;
    std::vector<std::pair<std::uint64_t, Handler>> handlers_;
    std::map<std::uint64_t, Registration> registered_;
};

}  // namespace velaro::test
