// A dock policy that records the policy, the windows and every activation, and keeps a simple active state.
#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "platform/TaskbarPolicy.h"

namespace velaro::test {

class FakeTaskbarPolicy final : public TaskbarPolicy {
public:
    ActivationPolicy activationPolicy() const override { return policy; }
    void setActivationPolicy(ActivationPolicy p) override {
        policy = p;
        policies.push_back(p);
    }
    void addWindow(WindowNumber w, TaskbarEntry entry) override {
        if (std::find(windows.begin(), windows.end(), w) == windows.end()) windows.push_back(w);
        entries[w] = entry;
    }
    void removeWindow(WindowNumber w) override {
        std::erase(windows, w);
        entries.erase(w);
    }
    void activate(WindowNumber w) override {
        activations.push_back(w);
        active = w;
    }
    void deactivate() override {
        ++deactivations;
        active = 0;
    }
    bool isActive() const override { return active != 0; }

    ActivationPolicy policy = ActivationPolicy::regular;
    std::vector<ActivationPolicy> policies;
    std::vector<WindowNumber> windows;
    std::map<WindowNumber, TaskbarEntry> entries;
    std::vector<WindowNumber> activations;
    WindowNumber active = 0;
    int deactivations = 0;
};

}  // namespace velaro::test
