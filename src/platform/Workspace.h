// The desktop session as the features see it: running apps, the frontmost one, and session events
// (activation, launch, termination, desktop switches, sleep and wake).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Published.h"

namespace velaro {

// A running application: one process that owns windows.
struct RunningApp {
    std::int32_t pid = 0;
    // The desktop-file id ("org.example.Editor"), else the window class; absent when neither is known.
    std::optional<std::string> appId;
    // The localised name; absent when unknown.
    std::optional<std::string> name;

    friend bool operator==(const RunningApp&, const RunningApp&) = default;
};

struct WorkspaceEvent {
    enum class Kind {
        didActivateApplication,
        didLaunchApplication,
        didTerminateApplication,
        didHideApplication,
        didUnhideApplication,
        activeSpaceDidChange,
        willSleep,
        didWake,
        screensDidSleep,
        screensDidWake,
    };
    Kind kind;
    // The application concerned, for the application events; may be absent even then.
    std::optional<RunningApp> app;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::optional<RunningApp> frontmostApplication() const = 0;
    virtual std::vector<RunningApp> runningApplications() const = 0;
    // The running application of a process; absent when the process is unknown.
    virtual std::optional<RunningApp> runningApplication(std::int32_t pid) const = 0;
    virtual std::int32_t ownProcessIdentifier() const = 0;
    // Session events, delivered on the main loop.
    virtual Stream<WorkspaceEvent> events() const = 0;
};

}  // namespace velaro
