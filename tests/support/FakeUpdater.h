// An updater that counts what it is asked and whose can-check state the test sets.
#pragma once

#include "platform/Updater.h"

namespace velaro::test {

class FakeUpdater final : public Updater {
public:
    void start() override { ++startCalls; }
    const Published<bool>& canCheckForUpdates() const override { return canCheck; }
    bool hasUpdateFeed() const override { return hasFeed; }
    void checkForUpdates() override {
        if (canCheck.value()) ++checks;
    }
    std::optional<bool> automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automatic = enabled; }

    Published<bool> canCheck{true};
    bool hasFeed = true;
    std::optional<bool> automatic;
    int startCalls = 0;
    int checks = 0;
};

}  // namespace velaro::test
