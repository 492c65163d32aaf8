// The windows the root's client list names, and what the services that follow the list need of each (its
// process, types, struts and class), read on a thread of their own after the list changes.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Published.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/XcbUtil.h"

class QObject;

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
};

// One reading of the list: the windows in the list's order and the facts of those looked up so far (a long
// list of new windows is looked up in parts, each part a new reading; values out of date stay until read
// again).
struct ClientReading {
    std::vector<xcb_window_t> windows;
    ListedWindows<ClientFacts> facts;
    bool complete = true;
    const ClientFacts* find(xcb_window_t window) const { return facts.find(window); }
    bool lists(xcb_window_t window) const;
};

// Any client can rewrite the list hundreds of times in a few milliseconds while thousands of windows are
// listed; every round trip made then waits behind the whole desktop's answers. The services that follow the
// list (running apps, struts, window events, the overlays' anchors, the panel's trays) read it here instead
// of on the main loop: once a burst of changes pauses (or a quarter of a second into one that never does),
// looking up only windows not seen before or whose facts changed.
class ListedClients {
public:
    // How many windows one reading looks up; the rest go to the next reading, right after.
    static constexpr std::size_t kLookUpsPerReading = 512;

    // Reads the list once, now, so that the services start from it; then after each change. Main thread,
    // with the Qt application object made; the session's connection and events must outlive the list.
    explicit ListedClients(X11Session& session);
    // Stops a reading in progress between two replies.
    ~ListedClients();
    ListedClients(const ListedClients&) = delete;
    ListedClients& operator=(const ListedClients&) = delete;

    // The last reading; main thread.
    const std::shared_ptr<const ClientReading>& reading() const { return reading_; }
    // Told on the main thread after each new reading.
    Stream<int> changed() const { return changed_.stream(); }

private:
    // The notes of the event thread: the list changed, a window's facts changed. Shared with the pump's
    // filter, which may still run while the list goes.
    struct Notes {
        std::mutex mutex;
        std::vector<xcb_window_t> stale;
        bool allStale = false;
        ReadThread* thread = nullptr;
        void ask(std::optional<xcb_window_t> staleWindow, bool everyWindow);
    };
    // One reading; false when part of the list is left for the next.
    bool read(const std::atomic<bool>& stop);
    std::vector<ClientFacts> lookUp(const std::vector<xcb_window_t>& windows, const std::atomic<bool>& stop);
    void publish(std::shared_ptr<const ClientReading> reading);

    Connection& connection_;
    xcb_atom_t clientList_, pid_, type_, strutPartial_, strut_, workArea_;
    std::unique_ptr<QObject> context_;  // deliveries to the main thread are queued to it and die with it
    std::shared_ptr<Notes> notes_ = std::make_shared<Notes>();
    Subscription filter_;
    Subscription rootSelection_;
    ListedWindows<ClientFacts> known_;  // the reading thread's own
    std::shared_ptr<const ClientReading> reading_;
    PassthroughSubject<int> changed_;
    int generation_ = 0;
    std::unique_ptr<ReadThread> thread_;
};

}  // namespace velaro::x11
