// Small xcb helpers shared by the screen, window-list, workspace and window-event services: an owned
// connection with an atom cache, owned replies, property decoding, and an event pump on the Qt main loop.
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
#include <vector>

#include "base/Cancellable.h"

class QSocketNotifier;

namespace velaro::x11 {

// A reply or event that xcb allocated; freed with free().
template <class T>
using Owned = std::unique_ptr<T, decltype(&std::free)>;
template <class T>
Owned<T> own(T* p) {
    return Owned<T>(p, &std::free);
}

class Connection {
public:
    // Opens a connection to `display` (null: $DISPLAY); null when there is no X server to talk to.
    static std::unique_ptr<Connection> open(const char* display = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return c_; }
    xcb_window_t root() const { return root_; }
    // True once the server went away; every request fails from then on.
    bool broken() const { return xcb_connection_has_error(c_) != 0; }

    // The atom for a name, interned once; several names are best interned together with `intern`.
    xcb_atom_t atom(const std::string& name);
    void intern(const std::vector<std::string>& names);

private:
    Connection(xcb_connection_t* c, xcb_window_t root) : c_(c), root_(root) {}
    xcb_connection_t* c_;
    xcb_window_t root_;
    std::mutex atomsMutex_;
    std::map<std::string, xcb_atom_t> atoms_;
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

// Delivers the connection's events on the Qt main loop to every installed handler.
class EventPump {
public:
    using Handler = std::function<void(const xcb_generic_event_t&)>;
    explicit EventPump(Connection& connection);
    ~EventPump();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    [[nodiscard]] Subscription addHandler(Handler handler);
    // Handles whatever is queued now (also run whenever the socket becomes readable).
    void drain();
    // Drains on the next turn of the main loop. Call after round trips made outside a handler: waiting for
    // a reply moves events into xcb's own queue, where the socket no longer announces them.
    void drainSoon();

private:
    Connection& connection_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<std::uint64_t, Handler> handlers_;
    std::uint64_t nextId_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The process id of a window's client through the X-Resource extension, for windows without _NET_WM_PID:
// ask (pipelined), then read the answer.
xcb_res_query_client_ids_cookie_t askClientProcess(xcb_connection_t* c, xcb_window_t window);
std::optional<std::int32_t> clientProcess(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t ask);

// The processes owning `windows`, in the same order (0 where unknown): _NET_WM_PID, else the X-Resource
// answer. Two pipelined round trips at most.
std::vector<std::int32_t> processesOfWindows(Connection& connection,
                                             const std::vector<xcb_window_t>& windows);

// The short name of a process (/proc/<pid>/comm); empty when unknown.
std::string processName(std::int32_t pid);
// The executable of a process (/proc/<pid>/exe); empty when unknown.
std::string processExecutable(std::int32_t pid);

}  // namespace velaro::x11
