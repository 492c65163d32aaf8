// The session from the X server and logind: apps are the processes that own managed windows, the frontmost
// one owns _NET_ACTIVE_WINDOW, desktops are Spaces, logind's PrepareForSleep is sleep and wake, and the
// displays sleep while the X server's screen saver runs (which it also does while DPMS has them off).
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "platform/Workspace.h"
#include "platform/linux/X11ListedClients.h"
#include "platform/linux/X11ReadThread.h"
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
    // Stops a reading of the active window in progress first.
    ~X11Workspace() override;

    std::optional<RunningApp> frontmostApplication() const override;
    std::vector<RunningApp> runningApplications() const override;
    std::optional<RunningApp> runningApplication(std::int32_t pid) const override;
    std::int32_t ownProcessIdentifier() const override;
    Stream<WorkspaceEvent> events() const override { return events_.stream(); }

private:
    // What the reading thread found of the active window, as it stood then.
    struct ActiveReading {
        std::uint32_t window = 0;            // _NET_ACTIVE_WINDOW; 0 when none
        std::vector<std::uint32_t> clients;  // the client list, sorted
        // The window's facts, with its app named: the client list's reading's when it has them, else asked
        // of the server.
        std::optional<x11::ClientFacts> facts;
        std::uint64_t answers = 0;  // the asks it answers, counted
    };
    // Any thread; the server is asked only while `stop` stays false.
    ActiveReading readActive(const std::atomic<bool>& stop);
    void askActive();
    // Main thread. After the apps were named anew (the installed apps changed), a renamed frontmost app is
    // activated again (see reloadClients).
    void takeActive(const ActiveReading& reading, bool notify);
    // `renamed`: the apps' ids and names were worked out again (the installed apps changed); an app whose id
    // or name changed ends under its old one and starts under its new one, so everyone who keeps ids or
    // names takes the new ones.
    void reloadClients(bool notify, bool renamed = false);
    void send(WorkspaceEvent::Kind kind, std::optional<RunningApp> app = std::nullopt);
    // Selects the screen saver's notifications and reads where the displays stand now.
    void followDisplayPower();
    void setDisplaysAsleep(bool asleep);

    MainLoop& loop_;
    X11Session& session_;
    Subscription handler_;
    Subscription rootSelection_;
    SleepSignalReceiver sleepReceiver_;
    Subscription clientChanges_;
    std::uint64_t naming_ = 0;  // the naming of the client list's reading the apps were taken from
    // The active window is read off the main loop after its notices. Asks are counted, so that a desktop
    // switch that came after an activation is told after it, once the read that saw it is in.
    std::atomic<std::uint64_t> asks_{0};
    std::uint64_t answered_ = 0;
    std::uint64_t renamedAsk_ = 0;             // the ask whose answer names the frontmost app anew; 0: none
    std::vector<std::uint64_t> spaceChanges_;  // desktop switches waiting for an answer, by the asks before
    mutable std::mutex mutex_;
    std::map<std::int32_t, RunningApp> apps_;  // by pid
    std::optional<RunningApp> frontmost_;
    // The managed window the frontmost app was read from; 0 when none is active.
    std::uint32_t activeWindow_ = 0;
    std::uint8_t saverEventBase_ = 0;
    bool saverEvents_ = false;
    bool displaysAsleep_ = false;
    PassthroughSubject<WorkspaceEvent> events_;
    Lifetime lifetime_;
    std::unique_ptr<x11::ReadThread> activeReads_;  // last: it goes first
};

}  // namespace velaro
