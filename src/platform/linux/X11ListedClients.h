// The windows the root's client list names, and what the services that follow the list need of each (its
// process, types, struts and class, and the app its program is), read on a thread of their own after the
// list changes, and shared with the session's other readers of windows.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Published.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {
class X11Session;
}

namespace velaro::x11 {

// What the services ask of a listed window.
struct ClientFacts {
    std::int32_t pid = 0;                   // _NET_WM_PID, else the X-Resource answer; 0 when unknown
    std::vector<std::uint32_t> types;       // _NET_WM_WINDOW_TYPE atoms
    std::vector<std::uint32_t> strut;       // _NET_WM_STRUT_PARTIAL when set, else _NET_WM_STRUT; empty: none
    std::string instanceName, windowClass;  // WM_CLASS
    // The app the window's program is (see AppIdentity::nameOf), worked out on the reading thread; empty
    // without a process.
    std::string appId, appName;
};

// One reading of the list: the windows in the list's order and the facts of those looked up so far (a long
// list of new windows is looked up in parts, each part a new reading; values out of date stay until read
// again).
struct ClientReading {
    std::vector<xcb_window_t> windows;
    ListedWindows<ClientFacts> facts;
    bool complete = true;
    // The catalog's generation the apps were named with: a reading of another generation has every app
    // named anew.
    std::uint64_t naming = 0;
    const ClientFacts* find(xcb_window_t window) const { return facts.find(window); }
    bool lists(xcb_window_t window) const;
};

// The facts last read, for the session's other readers of windows (the window list, capture, the window
// control) on any thread: a window whose facts a notice has said changed since is left out until they are
// read again, so that a reader asks the server of it itself.
class CurrentFacts {
public:
    CurrentFacts() = default;
    CurrentFacts(std::shared_ptr<const ClientReading> reading, std::vector<xcb_window_t> changed,
                 bool strutsChanged);
    // The window's facts, when read and not changed since; null otherwise.
    const ClientFacts* find(xcb_window_t window) const;
    // The same for its strut, which a change of the work area may have changed for any window.
    const std::vector<std::uint32_t>* strutOf(xcb_window_t window) const;

private:
    std::shared_ptr<const ClientReading> reading_;
    std::vector<xcb_window_t> changed_;  // sorted
    bool strutsChanged_ = false;
};

// Any client can rewrite the list hundreds of times in a few milliseconds while thousands of windows are
// listed; every round trip made then waits behind the whole desktop's answers. The services that follow the
// list (running apps, struts, window events, the overlays' anchors, the panel's trays) read it here instead
// of on the main loop: once a burst of changes pauses (or a quarter of a second into one that never does),
// looking up only windows not seen before or whose facts changed, and naming the apps of new processes
// there too (the process's files and the catalog are read for that), so that the main loop takes the names
// as they are.
class ListedClients {
public:
    // How many windows one reading looks up; the rest go to the next reading, right after.
    static constexpr std::size_t kLookUpsPerReading = 512;

    // Reads the list once, now, so that the services start from it; then after each change, and after the
    // catalog's entries changed. Main thread, with the Qt application object made; the session's connection,
    // events, identity and catalog must outlive the list.
    explicit ListedClients(X11Session& session);
    // Stops a reading in progress between two replies.
    ~ListedClients();
    ListedClients(const ListedClients&) = delete;
    ListedClients& operator=(const ListedClients&) = delete;

    // The last reading; main thread.
    const std::shared_ptr<const ClientReading>& reading() const { return reading_; }
    // Told on the main thread after each new reading.
    Stream<int> changed() const { return changed_.stream(); }
    // The facts of the last reading made, less those changed since; any thread.
    CurrentFacts current() const;

private:
    // What the event thread and the reading share: the list changed, windows' facts changed, the last
    // reading. Shared with the pump's filter, which may still run while the list goes.
    struct Notes {
        mutable std::mutex mutex;
        std::vector<xcb_window_t> stale;    // facts changed, not yet taken by a reading
        std::vector<xcb_window_t> reading;  // taken by a reading, not yet read again
        bool allStale = false;              // the work area changed: any strut may have
        bool strutsReading = false;         // taken by a reading, not yet read again for every window
        std::shared_ptr<const ClientReading> last;
        ReadThread* thread = nullptr;
        void ask(std::optional<xcb_window_t> staleWindow, bool everyWindow);
    };
    // One reading (its `complete` says whether it left part of the list for the next), made current for the
    // other readers; null when the list could not be read (the list is ending, the server went).
    std::shared_ptr<const ClientReading> read(const std::atomic<bool>& stop);
    std::vector<ClientFacts> lookUp(const std::vector<xcb_window_t>& windows, const std::atomic<bool>& stop);
    // Names the app of each of `facts`, one look-up a process.
    void name(const std::vector<ClientFacts*>& facts);

    X11Session& session_;
    Connection& connection_;
    xcb_atom_t clientList_, pid_, type_, strutPartial_, strut_, workArea_;
    std::shared_ptr<Notes> notes_ = std::make_shared<Notes>();
    Subscription filter_;
    Subscription rootSelection_;
    Subscription catalogChanges_;
    ListedWindows<ClientFacts> known_;  // the reading thread's own
    std::uint64_t naming_ = 0;          // the reading thread's own: the catalog generation of known_'s names
    std::shared_ptr<const ClientReading> reading_;
    PassthroughSubject<int> changed_;
    int generation_ = 0;
    ToMainThread toMain_;  // deliveries to the main thread; they die with it
    std::unique_ptr<ReadThread> thread_;
};

}  // namespace velaro::x11
