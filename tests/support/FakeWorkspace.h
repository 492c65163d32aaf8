// Running apps and session events controlled by the test.
#pragma once

#include <algorithm>

#include "platform/Workspace.h"

namespace velaro::test {

class FakeWorkspace final : public Workspace {
public:
    std::optional<RunningApp> frontmostApplication() const override { return frontmost; }
    std::vector<RunningApp> runningApplications() const override { return running; }
    std::optional<RunningApp> runningApplication(std::int32_t pid) const override {
        auto it =
            std::find_if(running.begin(), running.end(), [&](const RunningApp& a) { return a.pid == pid; });
        if (it == running.end()) return std::nullopt;
        return *it;
    }
    std::int32_t ownProcessIdentifier() const override { return ownPID; }
    Stream<WorkspaceEvent> events() const override { return events_.stream(); }

    void send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app = std::nullopt) {
        events_.send(WorkspaceEvent{kind, std::move(app)});
    }
    // Makes `app` frontmost (and running) and reports the activation with it.
    void activate(const RunningApp& app) {
        frontmost = app;
        if (!runningApplication(app.pid)) running.push_back(app);
        send(WorkspaceEvent::Kind::didActivateApplication, app);
    }

    std::optional<RunningApp> frontmost;
    std::vector<RunningApp> running;
    std::int32_t ownPID = 4242;

private:
    PassthroughSubject<WorkspaceEvent> events_;
};

}  // namespace velaro::test
