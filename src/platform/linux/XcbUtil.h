// Small xcb helpers shared by every X11 service: an owned connection with the session's atom table, owned
// replies, property decoding, the compositor check, and an event pump whose reader thread hands the
// connection's events to the Qt main thread.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"

class QObject;

namespace velaro::x11 {

// A reply or event that xcb allocated; freed with free().
template <class T>
using Owned = std::unique_ptr<T, decltype(&std::free)>;
template <class T>
Owned<T> own(T* p) {
    return Owned<T>(p, &std::free);
}

// Atoms by name. Atoms belong to the server, not to a connection, so every connection of a session shares
// one table.
class AtomTable {
public:
    // The atom for a name, interned over `c` the first time it is asked for. Any thread.
    xcb_atom_t atom(xcb_connection_t* c, const std::string& name);
    // Interns several names with one pipelined round trip.
    void intern(xcb_connection_t* c, const std::vector<std::string>& names);

private:
    std::mutex mutex_;
    std::map<std::string, xcb_atom_t> atoms_;
};

class Connection {
public:
    // Opens a connection to `display` (null or empty: $DISPLAY); null when there is no X server to talk to.
    // `atoms` is the session's table (a table of its own when null).
    static std::unique_ptr<Connection> open(const char* display = nullptr,
                                            std::shared_ptr<AtomTable> atoms = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return c_; }
    xcb_window_t root() const { return root_; }
    int screenNumber() const { return screenNumber_; }
    const xcb_screen_t& screen() const { return *screen_; }
    // True once the server went away or the connection stopped reading; every request fails from then on.
    bool broken() const { return readingStopped_.load() || xcb_connection_has_error(c_) != 0; }
    // True once stopReading was called: the connection ended because its holder ends, not because the server
    // went away. Any thread.
    bool readingStopped() const { return readingStopped_.load(); }
    // Shuts the receiving side of the connection's socket: every wait for the server on any thread (an
    // answer, an event) ends at once, and every one after it fails at once; the connection is broken from
    // then on. For the end of whoever holds the connection: a thread waiting on a server busy with other
    // clients' work would otherwise keep the end waiting as long. Any thread; once is enough.
    void stopReading();

    // The atom for a name, interned once; several names are best interned together with `intern`.
    xcb_atom_t atom(const std::string& name) { return atoms_->atom(c_, name); }
    void intern(const std::vector<std::string>& names) { atoms_->intern(c_, names); }

private:
    Connection(xcb_connection_t* c, const xcb_screen_t* screen, int screenNumber,
               std::shared_ptr<AtomTable> atoms)
        : c_(c),
          root_(screen->root),
          screenNumber_(screenNumber),
          screen_(screen),
          atoms_(std::move(atoms)) {}
    xcb_connection_t* c_;
    std::atomic<bool> readingStopped_{false};
    xcb_window_t root_;
    int screenNumber_;
    const xcb_screen_t* screen_;
    std::shared_ptr<AtomTable> atoms_;
};

// A property read: ask first (pipelined), decode the reply later.
xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type = XCB_ATOM_ANY, std::uint32_t longLength = 256);
// 32-bit values of a property reply (CARDINAL, WINDOW, ATOM); empty for anything else.
std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply);
// A window's strut from its _NET_WM_STRUT_PARTIAL and _NET_WM_STRUT replies: the partial form wins; the old
// four-value form spans whole edges.
std::vector<std::uint32_t> strutValues(const xcb_get_property_reply_t* partial,
                                       const xcb_get_property_reply_t* plain);
// The bytes of an 8-bit property reply as a string (possibly holding NULs).
std::string bytes8(const xcb_get_property_reply_t* reply);
// The two strings of WM_CLASS: instance and class.
std::pair<std::string, std::string> splitWindowClass(const std::string& raw);

// Waits for the reply to request `sequence` (or its error), blocked until it comes: the thread sleeps
// meanwhile, however long a busy server takes. A reading thread passes its `stop` and waits no more once it
// is set: the reply is dropped unread. A wait under way ends with its reply, or at once when the connection
// stops reading (Connection::stopReading, the end of the session). Null after an error, a broken connection,
// or a stop.
//
// Every wait for a reply on a connection goes through here (or checkRequest, or a WaitTurn held around a
// library's own waits), whichever thread makes it: the wait inside xcb is taken in the connection's turn, one
// thread at a time. libxcb 1.15 keeps the threads waiting for replies in a list, and a thread that leaves it
// while one waiting for an earlier reply is still in it (as the thread reading the socket does first when
// the connection breaks) loops without end in remove_reader, holding the connection's lock: at the end of a
// connection that two threads wait on, neither comes back, nor does any other user of the connection. A
// reply that came while another thread had the turn is taken without it. The event pump's wait for events
// (xcb_wait_for_event) is the one wait outside the turn: xcb keeps event waiters apart from that list (on a
// condition variable of their own), so it never meets the loop.
void* awaitReply(xcb_connection_t* c, unsigned int sequence, const std::atomic<bool>& stop);
// The `stop` of a wait that nothing stops but the connection's end.
inline const std::atomic<bool> neverStop{false};
template <class Reply>
Owned<Reply> awaitReply(xcb_connection_t* c, unsigned int sequence, const std::atomic<bool>& stop) {
    return own(static_cast<Reply*>(awaitReply(c, sequence, stop)));
}
// The same for a request's cookie, typed by the request's own reply function (which is not called: it names
// the reply's type), as in `awaitReply(c, xcb_get_geometry(c, w), xcb_get_geometry_reply)`.
template <class Cookie, class Reply>
Owned<Reply> awaitReply(xcb_connection_t* c, Cookie cookie,
                        Reply* (*)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                        const std::atomic<bool>& stop = neverStop) {
    return awaitReply<Reply>(c, cookie.sequence, stop);
}
// The error a checked request without a reply met, null when it succeeded or the connection broke
// (xcb_request_check in the connection's turn).
Owned<xcb_generic_error_t> checkRequest(xcb_connection_t* c, xcb_void_cookie_t cookie);
// An extension's data on the connection (xcb_get_extension_data in the connection's turn: the first look-up
// waits for the server's answer); null when the connection cannot tell.
const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* id);

// The connection's turn, held around the waits of a library that waits on the connection by itself
// (xkbcommon's keymap reads). Reentrant: a thread that holds it may wait through awaitReply too. Hold it only
// around such waits: a thread that holds the turn must never wait for another thread.
class WaitTurn {
public:
    explicit WaitTurn(xcb_connection_t* c);
    ~WaitTurn();
    WaitTurn(const WaitTurn&) = delete;
    WaitTurn& operator=(const WaitTurn&) = delete;

private:
    std::recursive_mutex& turn_;
};

// The windows listed in one of the root window's WINDOW-list properties ("_NET_CLIENT_LIST",
// "_NET_ACTIVE_WINDOW"); empty when unset. One round trip.
std::vector<std::uint32_t> rootWindowList(Connection& connection, const char* property);

// The selection a compositing manager owns on the connection's screen ("_NET_WM_CM_S<n>").
xcb_atom_t compositorSelection(Connection& connection);
// Whether a compositing manager runs: the selection has an owner. One round trip.
bool compositorRunning(xcb_connection_t* c, xcb_atom_t selection);

// The events of one connection, waited for on a reader thread of its own and handed to the Qt main thread.
// Waiting on a thread (rather than on the socket from the main loop) matters because the connection is
// shared: a round trip made on any thread may read events off the socket into xcb's queue, where only a
// waiter inside xcb notices them. Needs the Qt application object.
class EventPump {
public:
    using Event = Owned<xcb_generic_event_t>;
    using Batch = std::vector<Event>;
    using Handler = std::function<void(const xcb_generic_event_t&)>;
    // Runs on the reader thread with every batch of events that arrived together, before the main thread
    // sees them; it takes the events it handles itself out of the batch (empty slots are skipped).
    using Filter = std::function<void(Batch&)>;

    explicit EventPump(Connection& connection);
    // Stops the reader and waits for it; the connection reads nothing from then on (the pump goes with it).
    ~EventPump();
    // Stops the connection's reading (Connection::stopReading) without telling the main thread the connection
    // was lost: the holder's end, before the reader is waited for.
    void stop();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    // Main thread; called in the order they were added.
    [[nodiscard]] Subscription addHandler(Handler handler);
    // Any thread.
    [[nodiscard]] Subscription addFilter(Filter filter);

private:
    void read();
    void deliver();

    Connection& connection_;
    std::unique_ptr<QObject> context_;  // main-thread deliveries are queued to it and die with it
    std::map<std::uint64_t, Handler> handlers_;
    std::uint64_t nextId_ = 0;
    Lifetime lifetime_;

    std::mutex mutex_;  // guards what follows
    std::map<std::uint64_t, std::shared_ptr<Filter>> filters_;
    std::uint64_t nextFilterId_ = 0;
    Batch pending_;
    bool deliveryPosted_ = false;
    bool stopping_ = false;
    bool lost_ = false;
    std::thread reader_;
};

// What a service keeps of each window a root list names (the client list): looked up once, when the window
// first appears in the list, for many new windows together (so that the requests can be pipelined), and
// forgotten when the window leaves it. A list rewritten over and over then costs lookups only of the windows
// it adds; a list of thousands of new windows is looked up over a few readings. Not locked.
template <class T>
class ListedWindows {
public:
    // Answers one value per window, in the order asked.
    using LookUp = std::function<std::vector<T>(const std::vector<xcb_window_t>&)>;

    // Brings the values up to `listed`, a new reading of the list: `lookUp` is called once with the first
    // `most` windows (in the list's order) whose value is out of date, then not seen before; not at all when
    // there are none. Whether every listed window has an up-to-date value now.
    bool follow(const std::vector<xcb_window_t>& listed, const LookUp& lookUp,
                std::size_t most = std::numeric_limits<std::size_t>::max()) {
        // Sorted arrays rather than hash sets: a reading of thousands of windows allocates a few times, not
        // once a window.
        std::vector<xcb_window_t> now(listed);
        std::sort(now.begin(), now.end());
        now.erase(std::unique(now.begin(), now.end()), now.end());
        std::erase_if(known_, [&](const auto& entry) {
            return !std::binary_search(now.begin(), now.end(), entry.first);
        });
        const bool anyStale =
            std::any_of(known_.begin(), known_.end(), [](const auto& entry) { return entry.second.stale; });
        if (known_.size() == now.size() && !anyStale) return true;
        std::vector<xcb_window_t> fresh;
        std::vector<bool> asked(now.size(), false);
        bool complete = true;
        // The windows whose value changed go first: a few of them must not wait behind a burst of new ones.
        const auto gather = [&](bool stale) {
            for (auto w : listed) {
                const auto index = std::lower_bound(now.begin(), now.end(), w) - now.begin();
                if (asked[index]) continue;
                const auto* entry = entryOf(known_, w);
                if (stale ? !(entry && entry->stale) : entry != nullptr) continue;
                if (fresh.size() == most) {
                    complete = false;
                    return;
                }
                asked[index] = true;
                fresh.push_back(w);
            }
        };
        if (anyStale) gather(true);
        if (complete) gather(false);
        if (fresh.empty()) return complete;
        auto values = lookUp(fresh);
        std::vector<std::pair<xcb_window_t, Known>> added;
        for (std::size_t i = 0; i < fresh.size() && i < values.size(); ++i) {
            if (auto* entry = entryOf(known_, fresh[i]))
                *entry = Known{std::move(values[i])};
            else
                added.emplace_back(fresh[i], Known{std::move(values[i])});
        }
        const auto kept = known_.size();
        known_.insert(known_.end(), std::make_move_iterator(added.begin()),
                      std::make_move_iterator(added.end()));
        const auto byWindow = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::sort(known_.begin() + kept, known_.end(), byWindow);
        std::inplace_merge(known_.begin(), known_.begin() + kept, known_.end(), byWindow);
        return complete;
    }
    // The value of a window of the last reading (perhaps out of date); null for any other.
    const T* find(xcb_window_t window) const {
        const auto* entry = entryOf(known_, window);
        return entry ? &entry->value : nullptr;
    }
    // Whether a window's value was marked out of date and not looked up since.
    bool stale(xcb_window_t window) const {
        const auto* entry = entryOf(known_, window);
        return entry && entry->stale;
    }
    // Calls `change` with every value, to work out again what follows from it alone.
    template <class Change>
    void changeEach(Change change) {
        for (auto& entry : known_) change(entry.second.value);
    }
    // Forgets a window's value (it changed): the next reading that lists the window looks it up again.
    void forget(xcb_window_t window) {
        if (auto it = at(known_, window); it != known_.end() && it->first == window) known_.erase(it);
    }
    // Marks a window's value out of date (it may have changed): the next reading that lists the window looks
    // it up again, before any new window, and find() answers the value it had until then.
    void refresh(xcb_window_t window) {
        if (auto* entry = entryOf(known_, window)) entry->stale = true;
    }
    // The same for every window.
    void refreshAll() {
        for (auto& entry : known_) entry.second.stale = true;
    }
    void clear() { known_.clear(); }

private:
    struct Known {
        T value;
        bool stale = false;
    };
    template <class Entries>
    static auto at(Entries& known, xcb_window_t window) {
        return std::lower_bound(known.begin(), known.end(), window,
                                [](const auto& entry, xcb_window_t w) { return entry.first < w; });
    }
    template <class Entries>
    static auto* entryOf(Entries& known, xcb_window_t window) {
        auto it = at(known, window);
        return it != known.end() && it->first == window ? &it->second : nullptr;
    }

    std::vector<std::pair<xcb_window_t, Known>> known_;  // by window
};

// The process id of a window's client through the X-Resource extension, for windows without _NET_WM_PID:
// ask (pipelined), then read the answer (waited for, or taken from a reply waited for otherwise).
xcb_res_query_client_ids_cookie_t askClientProcess(xcb_connection_t* c, xcb_window_t window);
std::optional<std::int32_t> clientProcess(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t ask);
std::optional<std::int32_t> clientProcess(const xcb_res_query_client_ids_reply_t* reply);
// The process of every client an X-Resource answer for all clients names, by the client's resource base.
std::unordered_map<std::uint32_t, std::int32_t> clientProcesses(
    const xcb_res_query_client_ids_reply_t* reply);
// The ask for every client's process, in one answer.
xcb_res_query_client_ids_cookie_t askClientProcesses(xcb_connection_t* c);

// The processes owning `windows`, in the same order (0 where unknown): _NET_WM_PID, else the X-Resource
// answer for the window's client. Two round trips at most, whatever the number of windows; a reading thread
// passes its `stop` (see awaitReply).
std::vector<std::int32_t> processesOfWindows(Connection& connection, const std::vector<xcb_window_t>& windows,
                                             const std::atomic<bool>& stop = neverStop);

// The process of every client of the server whose process it knows, by the client's resource base (the
// first id of its range); absent when the server cannot tell. One round trip.
std::optional<std::unordered_map<std::uint32_t, std::int32_t>> processesOfClients(Connection& connection);

// The connections process `pid` holds to the server (each client's resource base, as X-Resource names it);
// absent when the server cannot tell. One round trip.
std::optional<std::vector<std::uint32_t>> clientsOfProcess(Connection& connection, std::int64_t pid);

// The short name of a process (/proc/<pid>/comm); empty when unknown.
std::string processName(std::int32_t pid);
// The executable of a process (/proc/<pid>/exe); empty when unknown.
std::string processExecutable(std::int32_t pid);

}  // namespace velaro::x11
