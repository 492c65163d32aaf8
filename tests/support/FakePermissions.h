// The session's capabilities as the test sets them: each answers at once, or (for those the test holds back,
// as the bus and the sound server answer) when the test lets the answers go. It records the checks made and
// the help pages opened.
#pragma once

#include <array>
#include <set>
#include <utility>
#include <vector>

#include "platform/Permissions.h"

namespace velaro::test {

class FakePermissions final : public Permissions {
public:
    void check(Capability capability, Answer answer) override {
        ++checks_[index(capability)];
        if (heldBack.contains(capability))
            pending_.emplace_back(capability, std::move(answer));
        else
            answer(present_[index(capability)]);
    }
    bool openHelp(Capability capability) override {
        openedHelp.push_back(capability);
        return helpOpens;
    }

    // Whether the capability is there now; all are at first.
    bool& operator[](Capability capability) { return present_[index(capability)]; }
    int checks(Capability capability) const { return checks_[index(capability)]; }
    // Checks still waiting for their answer.
    std::size_t pending() const { return pending_.size(); }
    // Answers every held-back check with the state as it is now, oldest first.
    void answerPending() {
        auto answers = std::move(pending_);
        pending_.clear();
        for (auto& [capability, answer] : answers) answer(present_[index(capability)]);
    }

    // Capabilities whose checks wait for answerPending().
    std::set<Capability> heldBack;
    bool helpOpens = true;
    std::vector<Capability> openedHelp;

private:
    static std::size_t index(Capability c) { return static_cast<std::size_t>(c); }

    std::array<bool, capabilityCount> present_ = [] {
        std::array<bool, capabilityCount> all{};
        all.fill(true);
        return all;
    }();
    std::array<int, capabilityCount> checks_{};
    std::vector<std::pair<Capability, Answer>> pending_;
};

}  // namespace velaro::test
