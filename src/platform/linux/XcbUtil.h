// Small xcb helpers shared by every X11 service: an owned connection with the session's atom table, owned
// replies, property decoding, the compositor check, and an event pump whose reader thread hands the
// connection's events to the Qt main thread.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
    // True once the server went away; every request fails from then on.
    bool broken() const { return xcb_connection_has_error(c_) != 0; }

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
// The bytes of an 8-bit property reply as a string (possibly holding NULs).
std::string bytes8(const xcb_get_property_reply_t* reply);
// The two strings of WM_CLASS: instance and class.
std::pair<std::string, std::string> splitWindowClass(const std::string& raw);

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
    // Stops the reader and waits for it.
    ~EventPump();
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
    xcb_window_t wakeWindow_ = 0;
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

// The process id of a window's client through the X-Resource extension, for windows without _NET_WM_PID:
// ask (pipelined), then read the answer.
xcb_res_query_client_ids_cookie_t askClientProcess(xcb_connection_t* c, xcb_window_t window);
std::optional<std::int32_t> clientProcess(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t ask);

// The processes owning `windows`, in the same order (0 where unknown): _NET_WM_PID, else the X-Resource
// answer. Two pipelined round trips at most.
std::vector<std::int32_t> processesOfWindows(Connection& connection,
                                             const std::vector<xcb_window_t>& windows);

// The connections process `pid` holds to the server (each client's resource base, as X-Resource names it);
// absent when the server cannot tell. One round trip.
std::optional<std::vector<std::uint32_t>> clientsOfProcess(Connection& connection, std::int64_t pid);

// The short name of a process (/proc/<pid>/comm); empty when unknown.
std::string processName(std::int32_t pid);
// The executable of a process (/proc/<pid>/exe); empty when unknown.
std::string processExecutable(std::int32_t pid);

}  // namespace velaro::x11
