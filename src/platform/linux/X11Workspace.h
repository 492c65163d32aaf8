// The session from the X server and logind: apps are the processes that own managed windows, the frontmost
// one owns _NET_ACTIVE_WINDOW, desktops are Spaces, logind's PrepareForSleep is sleep and wake, and the
// displays sleep while the X server's screen saver runs (which it also does while DPMS has them off).
#pragma once

#include <QObject>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "base/CoalescedWork.h"
#include "platform/Workspace.h"
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
    static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
    // The listed clients as the server says now, and whether the process of every one is known: of those not
    // seen before, the first `most` are looked up (`first`, when listed, before any other).
    struct Clients {
        std::vector<std::uint32_t> windows;
        bool complete = true;
    };
    Clients readClients(std::size_t most, std::uint32_t first = 0);
    // The app of a listed window (read with readClients): a process already running keeps its app; absent
    // when the window's process is unknown.
    std::optional<RunningApp> appOfWindow(std::uint32_t window);
    // The apps of processes, each named after one of its windows (WM_CLASS, asked for all at once).
    std::vector<RunningApp> appsNamedAfter(
        const std::vector<std::pair<std::uint32_t, std::int32_t>>& windows);
    // `renamed`: the apps' ids and names are worked out again (the installed apps changed); an app whose id
    // or name changed ends under its old one and starts under its new one, and a renamed frontmost app is
    // activated again, so everyone who keeps ids or names takes the new ones.
    // `most`: how many new windows are looked up now; the rest on the next turn.
    void reloadClients(bool notify, bool renamed = false, std::size_t most = kAll);
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
    // Each listed window's process as the server told it when the window was first listed; 0 where it could
    // not tell (a window already gone).
    x11::ListedWindows<std::int32_t> processes_;
    // The active window, read again on the turn after its notices, as it stands then.
    OncePerTurn activeReads_;
    // The clients, read once a burst of notices of the list is over, then a part a turn while many new
    // windows are being looked up.
    AfterQuiet clientReads_;
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
