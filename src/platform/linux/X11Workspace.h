// The session from the X server and logind: apps are the processes that own managed windows, the frontmost
// one owns _NET_ACTIVE_WINDOW, desktops are Spaces, logind's PrepareForSleep is sleep and wake, and the
// displays sleep while the X server's screen saver runs (which it also does while DPMS has them off).
#pragma once

#include <QObject>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "base/CoalescedWork.h"
#include "platform/Workspace.h"
#include "platform/linux/X11ListedClients.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

class X11Session;

// What the X server says of the displays when asked: the screen saver's state (0 off, 1 on, 2 cycling,
// 3 disabled, as the extension numbers them) and the DPMS power level (0 on, 1 standby, 2 suspend, 3 off)
// with whether DPMS is enabled; absent when the server lacks the extension.
struct DisplayPowerReading {
    std::optional<std::uint8_t> saverState;
    std::optional<std::uint16_t> dpmsPowerLevel;
    bool dpmsEnabled = false;
};

// Whether the displays are off or blanked by the screen saver.
bool displaysAsleep(const DisplayPowerReading& reading);
// The displays' state after a screen-saver notification of `saverState`; a cycling saver changes nothing.
bool displaysAsleepAfterSaverNotice(bool asleep, std::uint8_t saverState);

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
    // Apps are named by the session's identity and catalog; the loop and the session must outlive the
    // workspace.
    X11Workspace(MainLoop& loop, X11Session& session);
    ~X11Workspace() override;

    std::optional<RunningApp> frontmostApplication() const override;
    std::vector<RunningApp> runningApplications() const override;
    std::optional<RunningApp> runningApplication(std::int32_t pid) const override;
    std::int32_t ownProcessIdentifier() const override;
    Stream<WorkspaceEvent> events() const override { return events_.stream(); }

private:
    // The app of a window: its process's app when that runs already, else named after the window's class.
    // The facts of windows the client list's reading has not come to yet (a window activated as it
    // appears) are asked of the server. Absent when the window's process is unknown.
    std::optional<RunningApp> appOfWindow(std::uint32_t window);
    RunningApp appNamedAfter(const x11::ClientFacts& facts);
    // `renamed`: the apps' ids and names are worked out again (the installed apps changed); an app whose id
    // or name changed ends under its old one and starts under its new one, and a renamed frontmost app is
    // activated again, so everyone who keeps ids or names takes the new ones.
    void reloadClients(bool notify, bool renamed = false);
    void reloadActive(bool notify, bool renamed = false);
    void send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app = std::nullopt);
    // Selects the screen saver's notifications and reads where the displays stand now.
    void followDisplayPower();
    void setDisplaysAsleep(bool asleep);

    X11Session& session_;
    Subscription handler_;
    Subscription catalogChanges_;
    Subscription rootSelection_;
    SleepSignalReceiver sleepReceiver_;
    Subscription clientChanges_;
    // The active window, read again on the turn after its notices, as it stands then.
    OncePerTurn activeReads_;
    mutable std::mutex mutex_;
    std::map<std::int32_t, RunningApp> apps_;  // by pid
    std::optional<RunningApp> frontmost_;
    // The managed window the frontmost app was read from; 0 when none is active.
    std::uint32_t activeWindow_ = 0;
    std::uint8_t saverEventBase_ = 0;
    bool saverEvents_ = false;
    bool displaysAsleep_ = false;
    PassthroughSubject<WorkspaceEvent> events_;
};

}  // namespace velaro
