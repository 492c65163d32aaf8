// The session from the X server and logind: apps are the processes that own managed windows, the frontmost
// one owns _NET_ACTIVE_WINDOW, desktops are Spaces, and logind's PrepareForSleep is sleep and wake.
#pragma once

#include <QObject>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "platform/Workspace.h"

namespace velaro {

class X11Session;

// Receives logind's sleep signal on the system bus.
class SleepSignalReceiver : public QObject {
    Q_OBJECT
public:
    std::function<void(bool sleeping)> onPrepareForSleep;
public Q_SLOTS:
    void prepareForSleep(bool sleeping) {
        if (onPrepareForSleep) onPrepareForSleep(sleeping);
    }
};

class X11Workspace final : public Workspace {
public:
    // Apps are named by the session's identity and catalog; the session must outlive the workspace.
    explicit X11Workspace(X11Session& session);
    ~X11Workspace() override;

    std::optional<RunningApp> frontmostApplication() const override;
    std::vector<RunningApp> runningApplications() const override;
    std::optional<RunningApp> runningApplication(std::int32_t pid) const override;
    std::int32_t ownProcessIdentifier() const override;
    Stream<WorkspaceEvent> events() const override { return events_.stream(); }

private:
    // Which process owns a window and what its app is called; absent when the window is gone.
    std::optional<RunningApp> appOfWindow(std::uint32_t window);
    void reloadClients(bool notify);
    void reloadActive(bool notify);
    void send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app = std::nullopt);

    X11Session& session_;
    Subscription handler_;
    Subscription rootSelection_;
    SleepSignalReceiver sleepReceiver_;
    mutable std::mutex mutex_;
    std::map<std::int32_t, RunningApp> apps_;  // by pid
    std::optional<RunningApp> frontmost_;
    PassthroughSubject<WorkspaceEvent> events_;
};

}  // namespace velaro
