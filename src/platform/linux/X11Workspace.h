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

class XdgAppCatalog;
namespace x11 {
class Connection;
class EventPump;
}  // namespace x11

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
    // Null when there is no X display. The catalog names the apps and must outlive the workspace.
    static std::unique_ptr<X11Workspace> create(const XdgAppCatalog& catalog, const char* display = nullptr);
    ~X11Workspace() override;

    std::optional<RunningApp> frontmostApplication() const override;
    std::vector<RunningApp> runningApplications() const override;
    std::optional<RunningApp> runningApplication(std::int32_t pid) const override;
    std::int32_t ownProcessIdentifier() const override;
    Stream<WorkspaceEvent> events() const override { return events_.stream(); }

private:
    X11Workspace(std::unique_ptr<x11::Connection> connection, const XdgAppCatalog& catalog);
    // Which process owns a window and what its app is called; absent when the window is gone.
    std::optional<RunningApp> appOfWindow(std::uint32_t window);
    void reloadClients(bool notify);
    void reloadActive(bool notify);
    void send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app = std::nullopt);

    std::unique_ptr<x11::Connection> connection_;
    const XdgAppCatalog& catalog_;
    std::unique_ptr<x11::EventPump> pump_;
    Subscription handler_;
    SleepSignalReceiver sleepReceiver_;
    mutable std::mutex mutex_;
    std::map<std::int32_t, RunningApp> apps_;  // by pid
    std::optional<RunningApp> frontmost_;
    PassthroughSubject<WorkspaceEvent> events_;
};

}  // namespace velaro
