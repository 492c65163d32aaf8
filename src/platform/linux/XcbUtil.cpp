// Shared xcb helpers: connection, atoms, property decoding, the compositor check, the event pump.
#include "platform/linux/XcbUtil.h"

#include "base/Log.h"

#include <sys/socket.h>
#include <xcb/xcbext.h>

#include <QMetaObject>
#include <QObject>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace velaro::x11 {

namespace {
// The turns of the connections, by connection. See awaitReply for why one waiter at a time: at the end of a
// connection that several threads wait on, libxcb 1.15's remove_reader would otherwise loop without end.
struct Turns {
    std::mutex mutex;
    std::unordered_map<xcb_connection_t*, std::unique_ptr<std::recursive_mutex>> byConnection;
};
// Never destroyed: a connection may close during the process's exit, after static objects went.
Turns& turns() {
    static auto* all = new Turns;
    return *all;
}

std::recursive_mutex& waitTurn(xcb_connection_t* c) {
    auto& all = turns();
    std::lock_guard lock(all.mutex);
    auto& turn = all.byConnection[c];
    if (!turn) turn = std::make_unique<std::recursive_mutex>();
    return *turn;
}

// Forgets the turn of a connection about to be closed (nobody waits on it any longer), so that the table
// does not grow with every connection a process opens and closes.
void forgetTurn(xcb_connection_t* c) {
    auto& all = turns();
    std::lock_guard lock(all.mutex);
    all.byConnection.erase(c);
}
}  // namespace

std::unique_ptr<Connection> Connection::open(const char* display, std::shared_ptr<AtomTable> atoms) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display && *display ? display : nullptr, &screenNumber);
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
    if (!atoms) atoms = std::make_shared<AtomTable>();
    return std::unique_ptr<Connection>(new Connection(c, it.data, screenNumber, std::move(atoms)));
}

Connection::~Connection() {
    forgetTurn(c_);
    xcb_disconnect(c_);
}

void Connection::stopReading() {
    // Marked first: a thread whose wait the shutdown ends finds the end's reason already set.
    readingStopped_ = true;
    ::shutdown(xcb_get_file_descriptor(c_), SHUT_RD);
}

xcb_atom_t AtomTable::atom(xcb_connection_t* c, const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
    }
    intern(c, {name});
    std::lock_guard lock(mutex_);
    return atoms_[name];
}

void AtomTable::intern(xcb_connection_t* c, const std::vector<std::string>& names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const auto& n : names)
        cookies.push_back(xcb_intern_atom(c, 0, static_cast<std::uint16_t>(n.size()), n.c_str()));
    std::vector<xcb_atom_t> answers;
    for (auto cookie : cookies) {
        auto reply = awaitReply(c, cookie, xcb_intern_atom_reply);
        answers.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    std::lock_guard lock(mutex_);
    // A name the server could not answer (a broken connection) is asked again next time.
    for (std::size_t i = 0; i < names.size(); ++i)
        if (answers[i] != XCB_ATOM_NONE) atoms_[names[i]] = answers[i];
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

std::vector<std::uint32_t> strutValues(const xcb_get_property_reply_t* partial,
                                       const xcb_get_property_reply_t* plain) {
    auto v = values32(partial);
    return v.size() >= 4 ? v : values32(plain);
}

std::pair<std::string, std::string> splitWindowClass(const std::string& raw) {
    const auto nul = raw.find('\0');
    if (nul == std::string::npos) return {raw, {}};
    std::string instance = raw.substr(0, nul);
    std::string cls = raw.substr(nul + 1);
    if (auto end = cls.find('\0'); end != std::string::npos) cls.resize(end);
    return {instance, cls};
}

void* awaitReply(xcb_connection_t* c, unsigned int sequence, const std::atomic<bool>& stop) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!stop && xcb_poll_for_reply(c, sequence, &reply, &error)) {
        std::free(error);
        return reply;
    }
    std::lock_guard turn(waitTurn(c));
    if (stop) {
        xcb_discard_reply(c, sequence);
        return nullptr;
    }
    // Whichever thread reads the socket (the event pump's, mostly) hands the reply over and wakes this one;
    // the receiving side shut down wakes the waiter with the connection's error.
    reply = xcb_wait_for_reply(c, sequence, &error);
    std::free(error);
    return reply;
}

Owned<xcb_generic_error_t> checkRequest(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    std::lock_guard turn(waitTurn(c));
    return own(xcb_request_check(c, cookie));
}

const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* id) {
    std::lock_guard turn(waitTurn(c));
    return xcb_get_extension_data(c, id);
}

WaitTurn::WaitTurn(xcb_connection_t* c) : turn_(waitTurn(c)) {
    turn_.lock();
}

WaitTurn::~WaitTurn() {
    turn_.unlock();
}

std::vector<std::uint32_t> rootWindowList(Connection& connection, const char* property) {
    auto* c = connection.get();
    auto reply =
        awaitReply(c, askProperty(c, connection.root(), connection.atom(property), XCB_ATOM_WINDOW, 8192),
                   xcb_get_property_reply);
    return values32(reply.get());
}

xcb_atom_t compositorSelection(Connection& connection) {
    return connection.atom("_NET_WM_CM_S" + std::to_string(connection.screenNumber()));
}

bool compositorRunning(xcb_connection_t* c, xcb_atom_t selection) {
    if (selection == XCB_ATOM_NONE) return false;
    auto reply = awaitReply(c, xcb_get_selection_owner(c, selection), xcb_get_selection_owner_reply);
    return reply && reply->owner != XCB_NONE;
}

EventPump::EventPump(Connection& connection)
    : connection_(connection), context_(std::make_unique<QObject>()) {
    reader_ = std::thread([this] { read(); });
}

EventPump::~EventPump() {
    lifetime_.end();
    stop();
    if (reader_.joinable()) reader_.join();
    context_.reset();  // drops a delivery still queued
}

void EventPump::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    // The pump goes with its connection (the session's end): rather than send the reader a wake-up call and
    // wait for the server to hand it back, which a server busy with other clients may take a good part of a
    // second to do, the receiving side of the socket is closed, which ends the reader's wait at once. The
    // connection reads nothing more from then on.
    connection_.stopReading();
}

Subscription EventPump::addHandler(Handler handler) {
    const auto id = ++nextId_;
    handlers_[id] = std::move(handler);
    return Subscription([this, id, token = lifetime_.token()] {
        if (token.alive()) handlers_.erase(id);
    });
}

Subscription EventPump::addFilter(Filter filter) {
    std::lock_guard lock(mutex_);
    const auto id = ++nextFilterId_;
    filters_[id] = std::make_shared<Filter>(std::move(filter));
    return Subscription([this, id, token = lifetime_.token()] {
        if (token.alive()) {
            std::lock_guard lock(mutex_);
            filters_.erase(id);
        }
    });
}

void EventPump::read() {
    auto* c = connection_.get();
    while (auto* first = xcb_wait_for_event(c)) {
        Batch batch;
        batch.push_back(own(first));
        while (auto* more = xcb_poll_for_queued_event(c)) batch.push_back(own(more));
        std::vector<std::shared_ptr<Filter>> filters;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            for (const auto& [id, filter] : filters_) filters.push_back(filter);
        }
        for (const auto& filter : filters) (*filter)(batch);
        std::lock_guard lock(mutex_);
        for (auto& event : batch)
            if (event) pending_.push_back(std::move(event));
        if (!pending_.empty() && !deliveryPosted_) {
            deliveryPosted_ = true;
            QMetaObject::invokeMethod(
                context_.get(), [this] { deliver(); }, Qt::QueuedConnection);
        }
    }
    // The connection failed: tell the main thread once.
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    lost_ = true;
    if (!deliveryPosted_) {
        deliveryPosted_ = true;
        QMetaObject::invokeMethod(
            context_.get(), [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void EventPump::deliver() {
    Batch batch;
    bool lost = false;
    {
        std::lock_guard lock(mutex_);
        batch.swap(pending_);
        deliveryPosted_ = false;
        lost = std::exchange(lost_, false);
    }
    const Lifetime::Token alive = lifetime_.token();
    for (const auto& event : batch) {
        // A handler may add or remove handlers (or end the pump): walk a copy of the ids.
        std::vector<std::uint64_t> ids;
        for (const auto& [id, h] : handlers_) ids.push_back(id);
        for (auto id : ids) {
            if (!alive.alive()) return;
            if (auto it = handlers_.find(id); it != handlers_.end()) {
                auto handler = it->second;
                handler(*event);
            }
        }
    }
    if (lost)
        qCWarning(lcDesktop) << tagged("X11",
                                       "the display connection was lost; its events are no longer followed");
}

xcb_res_query_client_ids_cookie_t askClientProcess(xcb_connection_t* c, xcb_window_t window) {
    xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    return xcb_res_query_client_ids(c, 1, &spec);
}

std::optional<std::int32_t> clientProcess(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t ask) {
    return clientProcess(awaitReply(c, ask, xcb_res_query_client_ids_reply).get());
}

namespace {
// Each (client, process) an X-Resource answer names.
template <class Each>
void forEachClientProcess(const xcb_res_query_client_ids_reply_t* reply, Each each) {
    if (!reply) return;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply); it.rem; xcb_res_client_id_value_next(&it))
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            if (!each(it.data->spec.client,
                      static_cast<std::int32_t>(*xcb_res_client_id_value_value(it.data))))
                return;
}
}  // namespace

std::optional<std::int32_t> clientProcess(const xcb_res_query_client_ids_reply_t* reply) {
    std::optional<std::int32_t> found;
    forEachClientProcess(reply, [&](std::uint32_t, std::int32_t pid) {
        found = pid;
        return false;
    });
    return found;
}

std::unordered_map<std::uint32_t, std::int32_t> clientProcesses(
    const xcb_res_query_client_ids_reply_t* reply) {
    std::unordered_map<std::uint32_t, std::int32_t> processes;
    forEachClientProcess(reply, [&](std::uint32_t client, std::int32_t pid) {
        processes.emplace(client, pid);
        return true;
    });
    return processes;
}

xcb_res_query_client_ids_cookie_t askClientProcesses(xcb_connection_t* c) {
    xcb_res_client_id_spec_t all{0, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    return xcb_res_query_client_ids(c, 1, &all);
}

std::vector<std::int32_t> processesOfWindows(Connection& connection, const std::vector<xcb_window_t>& windows,
                                             const std::atomic<bool>& stop) {
    auto* c = connection.get();
    const auto pidAtom = connection.atom("_NET_WM_PID");
    std::vector<xcb_get_property_cookie_t> asks;
    asks.reserve(windows.size());
    for (auto w : windows) asks.push_back(askProperty(c, w, pidAtom, XCB_ATOM_CARDINAL, 1));
    std::vector<std::int32_t> pids(windows.size(), 0);
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto reply = awaitReply<xcb_get_property_reply_t>(c, asks[i].sequence, stop);
        if (auto v = values32(reply.get()); !v.empty() && v[0] != 0)
            pids[i] = static_cast<std::int32_t>(v[0]);
        else
            missing.push_back(i);
    }
    if (missing.empty() || stop) return pids;
    // A window's id lies in its client's range of ids: one answer naming every client's process serves every
    // window without _NET_WM_PID, however many there are.
    auto all = awaitReply<xcb_res_query_client_ids_reply_t>(c, askClientProcesses(c).sequence, stop);
    if (!all) return pids;
    const auto processes = clientProcesses(all.get());
    const std::uint32_t idMask = xcb_get_setup(c)->resource_id_mask;
    for (auto i : missing)
        if (auto it = processes.find(windows[i] & ~idMask); it != processes.end()) pids[i] = it->second;
    return pids;
}

std::optional<std::unordered_map<std::uint32_t, std::int32_t>> processesOfClients(Connection& connection) {
    auto* c = connection.get();
    auto reply = awaitReply(c, askClientProcesses(c), xcb_res_query_client_ids_reply);
    if (!reply) return std::nullopt;
    return clientProcesses(reply.get());
}

std::optional<std::vector<std::uint32_t>> clientsOfProcess(Connection& connection, std::int64_t pid) {
    const auto processes = processesOfClients(connection);
    if (!processes) return std::nullopt;
    std::vector<std::uint32_t> clients;
    for (const auto& [client, process] : *processes)
        if (process == pid) clients.push_back(client);
    return clients;
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
