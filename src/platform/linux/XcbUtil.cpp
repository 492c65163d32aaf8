// Shared xcb helpers: connection, atoms, property decoding, event pump.
#include "platform/linux/XcbUtil.h"

#include "base/Log.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace velaro::x11 {

std::unique_ptr<Connection> Connection::open(const char* display) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return nullptr;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(c, it.data->root));
}

Connection::~Connection() {
    xcb_disconnect(c_);
}

xcb_atom_t Connection::atom(const std::string& name) {
    {
        std::lock_guard lock(atomsMutex_);
        if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
    }
    intern({name});
    std::lock_guard lock(atomsMutex_);
    return atoms_[name];
}

void Connection::intern(const std::vector<std::string>& names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const auto& n : names) cookies.push_back(xcb_intern_atom(c_, 0, n.size(), n.c_str()));
    std::lock_guard lock(atomsMutex_);
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto reply = own(xcb_intern_atom_reply(c_, cookies[i], nullptr));
        atoms_[names[i]] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type, std::uint32_t longLength) {
    return xcb_get_property(c, 0, window, property, type, 0, longLength);
}

std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    const int n = xcb_get_property_value_length(reply) / 4;
    return {data, data + n};
}

std::string bytes8(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8) return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    return std::string(data, xcb_get_property_value_length(reply));
}

std::pair<std::string, std::string> splitWindowClass(const std::string& raw) {
    const auto nul = raw.find('\0');
    if (nul == std::string::npos) return {raw, {}};
    std::string instance = raw.substr(0, nul);
    std::string cls = raw.substr(nul + 1);
    if (auto end = cls.find('\0'); end != std::string::npos) cls.resize(end);
    return {instance, cls};
}

std::vector<std::uint32_t> rootWindowList(Connection& connection, const char* property) {
    auto* c = connection.get();
    auto reply = own(xcb_get_property_reply(
        c, askProperty(c, connection.root(), connection.atom(property), XCB_ATOM_WINDOW, 8192), nullptr));
    return values32(reply.get());
}

EventPump::EventPump(Connection& connection)
    : connection_(connection),
      notifier_(std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection.get()),
                                                  QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

EventPump::~EventPump() {
    *alive_ = false;
    notifier_.reset();
}

Subscription EventPump::addHandler(Handler handler) {
    const auto id = ++nextId_;
    handlers_[id] = std::move(handler);
    return Subscription([this, id, alive = std::weak_ptr<bool>(alive_)] {
        if (auto a = alive.lock(); a && *a) handlers_.erase(id);
    });
}

void EventPump::drainSoon() {
    QTimer::singleShot(0, notifier_.get(), [this] { drain(); });
}

void EventPump::drain() {
    // A connection the server closed stays readable forever; stop listening instead of spinning.
    if (connection_.broken()) {
        if (notifier_ && notifier_->isEnabled()) {
            notifier_->setEnabled(false);
            logLine("X11", "the display connection was lost; its events are no longer followed");
        }
        return;
    }
    auto alive = alive_;
    while (auto* raw = xcb_poll_for_event(connection_.get())) {
        auto event = own(raw);
        // A handler may add or remove handlers (or end the pump): walk a copy of the ids.
        std::vector<std::uint64_t> ids;
        for (const auto& [id, h] : handlers_) ids.push_back(id);
        for (auto id : ids) {
            if (!*alive) return;
            if (auto it = handlers_.find(id); it != handlers_.end()) {
                auto handler = it->second;
                handler(*event);
            }
        }
    }
}

xcb_res_query_client_ids_cookie_t askClientProcess(xcb_connection_t* c, xcb_window_t window) {
    xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    return xcb_res_query_client_ids(c, 1, &spec);
}

std::optional<std::int32_t> clientProcess(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t ask) {
    auto reply = own(xcb_res_query_client_ids_reply(c, ask, nullptr));
    if (!reply) return std::nullopt;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return static_cast<std::int32_t>(*xcb_res_client_id_value_value(it.data));
    }
    return std::nullopt;
}

std::vector<std::int32_t> processesOfWindows(Connection& connection,
                                             const std::vector<xcb_window_t>& windows) {
    auto* c = connection.get();
    const auto pidAtom = connection.atom("_NET_WM_PID");
    std::vector<xcb_get_property_cookie_t> asks;
    for (auto w : windows) asks.push_back(askProperty(c, w, pidAtom, XCB_ATOM_CARDINAL, 1));
    std::vector<std::int32_t> pids(windows.size(), 0);
    std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> fallbacks;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto reply = own(xcb_get_property_reply(c, asks[i], nullptr));
        if (auto v = values32(reply.get()); !v.empty() && v[0] != 0)
            pids[i] = static_cast<std::int32_t>(v[0]);
        else
            fallbacks.emplace_back(i, askClientProcess(c, windows[i]));
    }
    for (auto& [index, ask] : fallbacks) pids[index] = clientProcess(c, ask).value_or(0);
    return pids;
}

std::string processName(std::int32_t pid) {
    if (pid <= 0) return {};
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string processExecutable(std::int32_t pid) {
    if (pid <= 0) return {};
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : target.string();
}

}  // namespace velaro::x11
